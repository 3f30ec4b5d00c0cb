#include "app/settings.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <limits>

#include "platform/profile.h"
#include "util/codec.h"

namespace kelvra::app {

namespace {

// Longest font text read; base64 of the record needs 80.
constexpr std::size_t kMaxFontText = 256;
constexpr int kMaxPort = 65535;

std::string_view WithoutLeadingWhite(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) {
        text.remove_prefix(1);
    }
    return text;
}

std::string ReadText(std::string_view section, std::string_view key, std::string_view fallback,
                     const std::string& path) {
    std::string value = platform::GetPrivateProfileString(section, key, fallback, path);
    if (value.size() > kMaxSettingText) value.resize(kMaxSettingText);
    return value;
}

// The stored number when it lies in [min, max], else outside (for most keys their default: a
// value that does not fit the field would otherwise wrap into some unrelated value).
template <typename T>
T ReadNumber(std::string_view section, std::string_view key, T fallback, long min, long max,
             T outside, const std::string& path) {
    const long value = platform::GetPrivateProfileInt(section, key, fallback, path);
    return value < min || value > max ? outside : static_cast<T>(value);
}

template <typename T>
T ReadTyped(std::string_view section, std::string_view key, T fallback, const std::string& path) {
    return ReadNumber<T>(section, key, fallback, std::numeric_limits<T>::min(),
                         std::numeric_limits<T>::max(), fallback, path);
}

bool ReadFlag(std::string_view section, std::string_view key, bool fallback,
              const std::string& path) {
    return platform::GetPrivateProfileInt(section, key, fallback ? 1 : 0, path) != 0;
}

bool WriteText(std::string_view section, std::string_view key, std::string_view value,
               const std::string& path) {
    return platform::WritePrivateProfileString(section, key, WithoutLeadingWhite(value), path);
}

bool WriteNumber(std::string_view section, std::string_view key, long value,
                 const std::string& path) {
    return platform::WritePrivateProfileString(section, key, std::to_string(value), path);
}

// The file name of a URL that ends in "/" is joined to its directory: a name that is empty or
// names a directory step would store the object outside its own directory.
std::string SafeRootFileName(std::string name) {
    const bool usable = !WithoutLeadingWhite(name).empty() && name != "." && name != ".." &&
                        name.find('/') == std::string::npos;
    return usable ? name : std::string(kDefaultRootFileName);
}

// The progress log lies under the data directory and is deleted at start-up: a name that
// leaves the directory would delete someone else's file. Such a name means no log.
std::string SafeProgressLogName(std::string name) {
    if (!name.empty() && name.front() == '/') return {};
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        if (name.compare(start, end - start, "..") == 0) return {};
        start = end + 1;
    }
    return name;
}

void LoadWindowSection(AppSettings& s, const std::string& path) {
    s.separator = ReadTyped<int>(kWindowSection, "Separator", 200, path);
    s.flags = ReadTyped<int>(kWindowSection, "Flags", 0, path);
}

void LoadGeneralSection(AppSettings& s, const std::string& path) {
    const char* g = kGeneralSection;
    s.root_file_name = SafeRootFileName(ReadText(g, "RootFileName", kDefaultRootFileName, path));
    s.tree_double_clicked = ReadTyped<int>(g, "TreeDoubleClicked", kTreeDoubleClickNothing, path);
    s.get_thread = ReadNumber<std::uint16_t>(g, "GetThread", kDefaultGetThread, kMinGetThread,
                                             kMaxGetThread, kDefaultGetThread, path);
    s.ftp_password = ReadText(g, "FTPpassword", "", path);
    s.ftp_userid = ReadText(g, "FTPuserid", "anonymous", path);
    s.get_timeout = ReadTyped<std::int32_t>(g, "GetTimeout", 180, path);
    s.base_directory = ReadText(g, "BaseDirectory", "", path);
    s.backup_dir = ReadText(g, "BackupDir", "", path);
    s.retry_count = ReadTyped<std::uint8_t>(g, "RetryCount", 0, path);
    s.size_limit = ReadTyped<std::int32_t>(g, "SizeLimit", 0, path);
    s.help_file = ReadText(g, "HelpFile", "", path);
    s.progress_log = SafeProgressLogName(ReadText(g, "ProgressLog", "", path));
}

// "ConnectPorts": port numbers separated by commas or blanks; anything else is skipped.
std::vector<int> ParsePortList(std::string_view text) {
    std::vector<int> ports;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of(", \t"), text.size());
        const std::string_view token = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        int port = 0;
        const auto [stop, error] = std::from_chars(token.data(), token.data() + token.size(), port);
        if (error == std::errc() && stop == token.data() + token.size() && port > 0 &&
            port <= kMaxPort) {
            ports.push_back(port);
        }
    }
    return ports;
}

void LoadOrvaneSection(AppSettings& s, const std::string& path) {
    const char* o = kOrvaneSection;
    s.run_at_start = ReadTyped<std::int32_t>(o, "RunAtStart", 0, path);
    s.port = ReadTyped<std::uint16_t>(o, "Port", 18080, path);
    s.threads = ReadNumber<std::uint16_t>(o, "Threads", 4, kMinServerThreads, kMaxServerThreads,
                                          kMaxServerThreads, path);
    s.keep_alive = ReadTyped<std::uint16_t>(o, "KeepAlive", 5, path);
    s.not_found_result = ReadTyped<std::uint16_t>(o, "NotFoundResult", 404, path);
    s.connect_ports = ParsePortList(ReadText(o, "ConnectPorts", "", path));
    s.reload_page = ReadFlag(o, "ReloadPage", true, path);
    s.save_post = ReadFlag(o, "SavePOST", false, path);
    s.save_cookie = ReadFlag(o, "SaveCookie", false, path);
}

bool SaveWindowSection(const AppSettings& s, const std::string& path) {
    bool ok = WriteNumber(kWindowSection, "Separator", s.separator, path);
    ok &= WriteNumber(kWindowSection, "Flags", s.flags, path);
    return ok;
}

bool SaveGeneralSection(const AppSettings& s, const std::string& path) {
    const char* g = kGeneralSection;
    bool ok = WriteText(g, "RootFileName", s.root_file_name, path);
    ok &= WriteNumber(g, "TreeDoubleClicked", s.tree_double_clicked, path);
    ok &= WriteNumber(g, "GetThread", s.get_thread, path);
    ok &= WriteText(g, "FTPpassword", s.ftp_password, path);
    ok &= WriteText(g, "FTPuserid", s.ftp_userid, path);
    ok &= WriteNumber(g, "GetTimeout", s.get_timeout, path);
    ok &= WriteText(g, "BaseDirectory", s.base_directory, path);
    ok &= WriteText(g, "BackupDir", s.backup_dir, path);
    ok &= WriteNumber(g, "RetryCount", s.retry_count, path);
    ok &= WriteNumber(g, "SizeLimit", s.size_limit, path);
    ok &= WriteText(g, "HelpFile", s.help_file, path);
    return ok;
}

bool SaveOrvaneSection(const AppSettings& s, const std::string& path) {
    const char* o = kOrvaneSection;
    bool ok = WriteNumber(o, "RunAtStart", s.run_at_start, path);
    ok &= WriteNumber(o, "Port", s.port, path);
    ok &= WriteNumber(o, "Threads", s.threads, path);
    ok &= WriteNumber(o, "ReloadPage", s.reload_page ? 1 : 0, path);
    ok &= WriteNumber(o, "SavePOST", s.save_post ? 1 : 0, path);
    ok &= WriteNumber(o, "SaveCookie", s.save_cookie ? 1 : 0, path);
    return ok;
}

std::string WindowKey(std::string_view name, std::string_view suffix) {
    return std::string(name) + std::string(suffix);
}

std::string Cut(std::string text) {
    if (text.size() > kMaxSettingText) text.resize(kMaxSettingText);
    return text;
}

}  // namespace

std::int64_t AppSettings::SizeLimitBytes() const {
    return size_limit > 0 ? static_cast<std::int64_t>(size_limit) * 1024 : 0;
}

net::ProxySetting AppSettings::HttpProxySetting() const {
    return server::MakeProxySetting(proxy, server::ProxyProtocol::kHttp);
}

net::ProxySetting AppSettings::FtpProxySetting() const {
    return server::MakeProxySetting(proxy, server::ProxyProtocol::kFtp);
}

std::string IniFilePath(bool use_current_directory) {
    return server::SettingsFilePath(use_current_directory, server::kIniFileName);
}

void LoadSettings(AppSettings& settings, LIFOClass& history, const std::string& ini_path) {
    LoadWindowSection(settings, ini_path);
    LoadGeneralSection(settings, ini_path);
    LoadOrvaneSection(settings, ini_path);
    settings.proxy = server::LoadProxyEnvironment(ini_path);
    history.Load(kHistorySection, ini_path);
}

bool SaveSettings(const AppSettings& settings, const LIFOClass& history,
                  const std::string& ini_path) {
    if (!server::EnsureDirectoryOf(ini_path)) return false;
    bool ok = SaveWindowSection(settings, ini_path);
    ok &= SaveGeneralSection(settings, ini_path);
    ok &= SaveOrvaneSection(settings, ini_path);
    ok &= server::SaveProxyEnvironment(settings.proxy, ini_path);
    ok &= history.Save(kHistorySection, ini_path);
    return ok;
}

std::string DataDirectory(const AppSettings& settings, const std::string& start_directory) {
    const std::string& base = settings.base_directory;
    std::error_code error;
    const bool usable = !base.empty() && std::filesystem::is_directory(base, error) &&
                        ::access(base.c_str(), R_OK | W_OK | X_OK) == 0;
    std::string directory = usable ? base : start_directory;
    if (directory.empty() || directory.back() != '/') directory += '/';
    return directory;
}

int RestoreWindowMetrics(std::string_view name, bool position_only, WindowRect& rect,
                         const std::string& ini_path) {
    const auto read = [&](std::string_view suffix, int fallback) {
        return ReadTyped<int>(kWindowSection, WindowKey(name, suffix), fallback, ini_path);
    };
    rect.x = read(".X", 0);
    rect.y = read(".Y", 0);
    if (position_only) return 1;
    rect.width = read(".W", 320);
    rect.height = read(".H", 240);
    return read(".Show", 1);
}

bool SaveWindowMetrics(std::string_view name, bool position_only, int show_state,
                       const WindowRect& rect, const std::string& ini_path) {
    if (!server::EnsureDirectoryOf(ini_path)) return false;
    const auto write = [&](std::string_view suffix, int value) {
        return WriteNumber(kWindowSection, WindowKey(name, suffix), value, ini_path);
    };
    bool ok = position_only || write(".Show", show_state);
    if (show_state != 1) return ok;
    ok &= write(".X", rect.x);
    ok &= write(".Y", rect.y);
    if (position_only) return ok;
    ok &= write(".W", rect.width);
    ok &= write(".H", rect.height);
    return ok;
}

ListColumnWidths LoadListColumnWidths(const std::string& ini_path) {
    ListColumnWidths widths{};
    for (std::size_t i = 0; i < kListColumns; ++i) {
        widths[i] = ReadTyped<int>(kWindowSection, "LVC." + std::to_string(i), -1, ini_path);
    }
    return widths;
}

bool SaveListColumnWidths(const ListColumnWidths& widths, const std::string& ini_path) {
    if (!server::EnsureDirectoryOf(ini_path)) return false;
    bool ok = true;
    for (std::size_t i = 0; i < kListColumns; ++i) {
        ok &= WriteNumber(kWindowSection, "LVC." + std::to_string(i), widths[i], ini_path);
    }
    return ok;
}

bool StoreFont(std::string_view key, const std::vector<unsigned char>& record,
               const std::string& ini_path) {
    if (record.size() != kFontRecordSize || !server::EnsureDirectoryOf(ini_path)) return false;
    const std::string_view bytes(reinterpret_cast<const char*>(record.data()), record.size());
    return platform::WritePrivateProfileString(kFontSection, key, util::Base64Encode(bytes),
                                               ini_path);
}

std::optional<std::vector<unsigned char>> LoadFont(std::string_view key,
                                                   const std::string& ini_path) {
    // Only a missing key yields the empty fallback: an empty text does not decode to a record.
    std::string text = platform::GetPrivateProfileString(kFontSection, key, "", ini_path);
    if (text.size() > kMaxFontText) text.resize(kMaxFontText);
    std::vector<unsigned char> decoded(kMaxFontText);
    const long length = util::Base64Decode(text, decoded.data(), decoded.size());
    if (length < static_cast<long>(kFontRecordSize)) return std::nullopt;
    decoded.resize(kFontRecordSize);
    return decoded;
}

ConfigDialogFields ConfigDialogFieldsFrom(const AppSettings& settings) {
    ConfigDialogFields fields;
    fields.root_file_name = settings.root_file_name;
    fields.size_limit = settings.size_limit;
    fields.get_timeout = settings.get_timeout;
    fields.retry_count = settings.retry_count;
    fields.save_cookie = settings.save_cookie;
    fields.get_thread = settings.get_thread;
    const int action = settings.tree_double_clicked;
    fields.double_click = action >= 0 && action <= 3 ? action : 4;
    fields.threads = settings.threads;
    fields.port = settings.port;
    fields.reload_page = settings.reload_page;
    fields.save_post = settings.save_post;
    const int mode = settings.run_at_start & kServerModeBits;
    fields.start_mode = mode >= 1 && mode <= 3 ? mode : 0;
    fields.data_use = (settings.run_at_start & kAlwaysUseStoredData)       ? 1
                      : (settings.run_at_start & kUseStoredDataAfterCheck) ? 2
                                                                           : 0;
    fields.ftp_password = settings.ftp_password;
    fields.base_directory = settings.base_directory;
    return fields;
}

void ApplyConfigDialogFields(const ConfigDialogFields& fields, AppSettings& settings) {
    settings.root_file_name = SafeRootFileName(Cut(fields.root_file_name));
    settings.size_limit =
        static_cast<std::int32_t>(std::clamp(fields.size_limit, 0L, kMaxSizeLimitKb));
    settings.get_timeout =
        static_cast<std::int32_t>(std::clamp(fields.get_timeout, 0L, kMaxGetTimeout));
    settings.retry_count =
        static_cast<std::uint8_t>(std::clamp(fields.retry_count, 0L, kMaxRetryCount));
    settings.save_cookie = fields.save_cookie;
    settings.get_thread = static_cast<std::uint16_t>(
        std::clamp<int>(fields.get_thread, kMinGetThread, kMaxGetThread));
    settings.tree_double_clicked = std::clamp(fields.double_click, 0, 4);
    settings.threads = static_cast<std::uint16_t>(
        std::clamp<int>(fields.threads, kMinServerThreads, kMaxServerThreads));
    settings.port =
        static_cast<std::uint16_t>(std::clamp(fields.port, kMinDialogPort, kMaxDialogPort));
    settings.reload_page = fields.reload_page;
    settings.save_post = fields.save_post;
    static constexpr std::int32_t kDataUseBits[] = {0, kAlwaysUseStoredData,
                                                    kUseStoredDataAfterCheck};
    settings.run_at_start =
        std::clamp(fields.start_mode, 0, 3) | kDataUseBits[std::clamp(fields.data_use, 0, 2)];
    settings.ftp_password = Cut(fields.ftp_password);
    settings.base_directory = Cut(fields.base_directory);
}

}  // namespace kelvra::app
