#pragma once
// The program's persistent settings: the record AppSettings over kelvraw.ini, the stored window
// geometry, list-view column widths and fonts, and the data the settings dialog edits.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/lifo.h"
#include "server/proxyconfig.h"

namespace kelvra::app {

inline constexpr char kGeneralSection[] = "General";
inline constexpr char kOrvaneSection[] = "Orvane";
inline constexpr char kWindowSection[] = "WindowMetrix";
inline constexpr char kFontSection[] = "Font";

// Text values are held in 256-byte fields: longer values are cut.
inline constexpr std::size_t kMaxSettingText = 255;

inline constexpr char kDefaultRootFileName[] = "index.html";
inline constexpr int kTreeDoubleClickNothing = 255;
inline constexpr std::uint16_t kDefaultGetThread = 8;
inline constexpr std::uint16_t kMinGetThread = 1;
inline constexpr std::uint16_t kMaxGetThread = 10;
inline constexpr std::uint16_t kMinServerThreads = 1;
inline constexpr std::uint16_t kMaxServerThreads = 20;

// The range a number field of the settings dialog accepts.
struct NumberRange {
    long min = 0;
    long max = 0;
};
// For a key of [General] or [Orvane] that the dialog edits ("SizeLimit", "Port", ...).
NumberRange DialogRange(std::string_view key);

// RunAtStart: low four bits the server mode, then the data-use bits of the proxy modes.
inline constexpr std::int32_t kServerModeBits = 0x0F;
inline constexpr std::int32_t kAlwaysUseStoredData = 0x10;
inline constexpr std::int32_t kUseStoredDataAfterCheck = 0x20;

// "Flags" of [WindowMetrix].
inline constexpr int kFlagSimpleList = 1;
inline constexpr int kFlagHideWhenMinimised = 2;
inline constexpr int kFlagSelectFetchedUrl = 4;

struct AppSettings {
    // Every key at its default (the key table in settings.cpp).
    AppSettings();

    // [WindowMetrix]
    int separator;  // width of the URL tree pane in pixels
    int flags;      // kFlag* bits

    // [General]
    std::string root_file_name;  // stored name of a URL ending in "/"
    int tree_double_clicked;     // 0 URL, 1 file, 2 program, 3 fetch
    std::uint16_t get_thread;    // crawl workers, 1..10
    std::string ftp_password;    // anonymous FTP log-in
    std::string ftp_userid;
    std::int32_t get_timeout;    // seconds; 0 = no limit
    std::string base_directory;  // see DataDirectory
    std::string backup_dir;      // kept, used by nothing
    std::uint8_t retry_count;
    std::int32_t size_limit;  // KB; 0 = no limit
    std::string help_file;
    std::string progress_log;  // CSV log under the data directory; never written back

    // [Orvane]
    std::int32_t run_at_start;  // server mode and data-use bits at start
    std::uint16_t port;
    std::uint16_t threads;           // server workers, 1..20
    std::uint16_t keep_alive;        // seconds; never written back
    std::uint16_t not_found_result;  // never written back
    std::vector<int> connect_ports;  // CONNECT may reach these besides 443; never written back
    std::vector<int> tunnel_levels;  // access levels whose CONNECT stays a tunnel; not written
    bool reload_page;
    bool save_post;
    bool save_cookie;

    // [AutoProxyConfig]
    server::ProxyEnvironment proxy;

    // For this run only, never written: false accepts https certificates unchecked.
    bool check_certificates = true;

    // The largest body a crawl fetches, in bytes; 0 = no limit.
    std::int64_t SizeLimitBytes() const;
    // The http or ftp route setting handed to every crawl.
    net::ProxySetting HttpProxySetting() const;
    net::ProxySetting FtpProxySetting() const;
    net::ProxySetting HttpsProxySetting() const;

    bool operator==(const AppSettings&) const = default;
};

// kelvraw.ini in the settings directory, or in the current directory with -cd; absolute.
std::string IniFilePath(bool use_current_directory);

// Reads [WindowMetrix] Separator and Flags, [General], [Orvane] and [AutoProxyConfig], applying
// the range rules (a missing file or key gives the default), then the [History] list.
void LoadSettings(AppSettings& settings, LIFOClass& history, const std::string& ini_path);

// Writes every key except ProgressLog, KeepAlive and NotFoundResult, then the [History] list.
// Creates the directory when missing. True when every write succeeded.
bool SaveSettings(const AppSettings& settings, const LIFOClass& history,
                  const std::string& ini_path);

// The spool root with a trailing '/': BaseDirectory when it names a readable and writable
// directory, else start_directory (the current directory at start-up).
std::string DataDirectory(const AppSettings& settings, const std::string& start_directory);

// Window geometry under name + ".X", ".Y", ".W", ".H", ".Show" in [WindowMetrix].
struct WindowRect {
    int x = 0;
    int y = 0;
    int width = 320;
    int height = 240;
    bool operator==(const WindowRect&) const = default;
};

// Reads the position into rect and, unless position_only, the size (else rect keeps its
// size). Returns the show state to use: 1 with position_only, else the stored one (default 1).
int RestoreWindowMetrics(std::string_view name, bool position_only, WindowRect& rect,
                         const std::string& ini_path);

// show_state is the window's placement state when it is visible, else 0. It is written unless
// position_only; the rectangle only when show_state is 1, so a minimised or maximised window
// keeps its last normal geometry. True when every write succeeded.
bool SaveWindowMetrics(std::string_view name, bool position_only, int show_state,
                       const WindowRect& rect, const std::string& ini_path);

// "LVC.0" ... "LVC.4": list-view column widths; negative keeps the built-in width.
inline constexpr std::size_t kListColumns = 5;
using ListColumnWidths = std::array<int, kListColumns>;
ListColumnWidths LoadListColumnWidths(const std::string& ini_path);
bool SaveListColumnWidths(const ListColumnWidths& widths, const std::string& ini_path);

// A font of [Font]: the 60-byte font record, stored as base64.
inline constexpr std::size_t kFontRecordSize = 60;
bool StoreFont(std::string_view key, const std::vector<unsigned char>& record,
               const std::string& ini_path);
// The first kFontRecordSize decoded bytes; none when the key is missing or does not decode to
// a whole record.
std::optional<std::vector<unsigned char>> LoadFont(std::string_view key,
                                                   const std::string& ini_path);

// The fields of the settings dialog, as its controls show them.
struct ConfigDialogFields {
    std::string root_file_name;
    long size_limit = 0;   // DialogRange("SizeLimit")
    long get_timeout = 0;  // DialogRange("GetTimeout")
    long retry_count = 0;  // DialogRange("RetryCount")
    bool save_cookie = false;
    int get_thread = 1;    // 1..10
    int double_click = 4;  // 0 URL, 1 file, 2 program, 3 fetch, 4 nothing
    int threads = 1;       // 1..20
    long port = 0;         // DialogRange("Port")
    bool reload_page = false;
    bool save_post = false;
    int start_mode = 0;  // 0 stopped, 1 Local Mode, 2 Proxy Mode, 3 Proxy Mode 2
    int data_use = 0;    // 0 not used, 1 always (0x10), 2 after an update check (0x20)
    std::string ftp_password;
    std::string base_directory;
};

ConfigDialogFields ConfigDialogFieldsFrom(const AppSettings& settings);
// OK: copies every field back (texts cut to kMaxSettingText, numbers kept in their ranges).
void ApplyConfigDialogFields(const ConfigDialogFields& fields, AppSettings& settings);

}  // namespace kelvra::app
