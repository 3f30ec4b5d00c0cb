#include "app/settings.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <type_traits>
#include <variant>

#include "platform/profile.h"
#include "server/spoolpath.h"
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

// The file name of a URL that ends in "/" is joined to its directory: a name that is empty or
// names a directory step would store the object outside its own directory.
std::string SafeRootFileName(std::string name) {
    const bool usable = !WithoutLeadingWhite(name).empty() && name != "." && name != ".." &&
                        name.find('/') == std::string::npos;
    return usable ? name : std::string(kDefaultRootFileName);
}

// The progress log lies in the data directory and a file of its name is deleted at start-up:
// a name with a directory in it could delete a stored page or someone else's file, and the
// name of one of the program's own files would delete the history or a setting. Such a name
// means no log, and the user is told why.
std::string SafeProgressLogName(std::string name) {
    if (name.find('/') == std::string::npos && !server::IsProgramFile(name, {})) return name;
    std::fprintf(stderr,
                 "warning: ProgressLog=%s ignored: it must be a file name without '/' that is "
                 "not one of the program's own files\n",
                 name.c_str());
    return {};
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

// Every key of [WindowMetrix] Separator/Flags, [General] and [Orvane] in the order a new file
// lists them: its member of AppSettings, its default, the range a stored value must lie in (a
// value outside it loads as `outside`: a value that does not fit the field would otherwise wrap
// into an unrelated one), and whether a save writes it back.
using Member =
    std::variant<std::string AppSettings::*, int AppSettings::*, std::uint16_t AppSettings::*,
                 std::uint8_t AppSettings::*, bool AppSettings::*>;

struct SettingKey {
    const char* section;
    const char* key;
    Member member;
    long number = 0;        // default of a number or flag
    const char* text = "";  // default of a text
    long min = 0;
    long max = 0;
    long outside = 0;
    bool written = true;
    std::string (*sanitize)(std::string) = nullptr;  // texts only
    NumberRange dialog{};  // what the settings dialog accepts; empty when it does not edit it

    constexpr SettingKey Dialog(long low, long high) const {
        SettingKey edited = *this;
        edited.dialog = {low, high};
        return edited;
    }
};

template <typename T>
constexpr SettingKey Number(const char* section, const char* key, T AppSettings::*member,
                            long fallback, bool written = true) {
    return {section,
            key,
            member,
            fallback,
            "",
            std::numeric_limits<T>::min(),
            std::numeric_limits<T>::max(),
            fallback,
            written};
}

template <typename T>
constexpr SettingKey Ranged(const char* section, const char* key, T AppSettings::*member,
                            long fallback, long min, long max, long outside) {
    return {section, key, member, fallback, "", min, max, outside};
}

constexpr SettingKey Flag(const char* section, const char* key, bool AppSettings::*member,
                          bool fallback) {
    return {section, key, member, fallback ? 1 : 0};
}

constexpr SettingKey Text(const char* section, const char* key, std::string AppSettings::*member,
                          const char* fallback, std::string (*sanitize)(std::string) = nullptr,
                          bool written = true) {
    return {section, key, member, 0, fallback, 0, 0, 0, written, sanitize};
}

constexpr const char* kWin = kWindowSection;
constexpr const char* kGen = kGeneralSection;
constexpr const char* kOrv = kOrvaneSection;
using S = AppSettings;

constexpr SettingKey kSettingKeys[] = {
    Number(kWin, "Separator", &S::separator, 200),
    Number(kWin, "Flags", &S::flags, 0),
    Text(kGen, "RootFileName", &S::root_file_name, kDefaultRootFileName, SafeRootFileName),
    Number(kGen, "TreeDoubleClicked", &S::tree_double_clicked, kTreeDoubleClickNothing),
    Ranged(kGen, "GetThread", &S::get_thread, kDefaultGetThread, kMinGetThread, kMaxGetThread,
           kDefaultGetThread)
        .Dialog(kMinGetThread, kMaxGetThread),
    Text(kGen, "FTPpassword", &S::ftp_password, ""),
    Text(kGen, "FTPuserid", &S::ftp_userid, "anonymous"),
    Number(kGen, "GetTimeout", &S::get_timeout, 180).Dialog(0, 999),
    Text(kGen, "BaseDirectory", &S::base_directory, ""),
    Text(kGen, "BackupDir", &S::backup_dir, ""),
    Number(kGen, "RetryCount", &S::retry_count, 0).Dialog(0, 255),
    Number(kGen, "SizeLimit", &S::size_limit, 0).Dialog(0, 2097151),
    Text(kGen, "HelpFile", &S::help_file, ""),
    Text(kGen, "ProgressLog", &S::progress_log, "", SafeProgressLogName, false),
    Number(kOrv, "RunAtStart", &S::run_at_start, 0),
    Number(kOrv, "Port", &S::port, 18080).Dialog(5001, 65534),
    Ranged(kOrv, "Threads", &S::threads, 4, kMinServerThreads, kMaxServerThreads, kMaxServerThreads)
        .Dialog(kMinServerThreads, kMaxServerThreads),
    Number(kOrv, "KeepAlive", &S::keep_alive, 5, false),
    Number(kOrv, "NotFoundResult", &S::not_found_result, 404, false),
    Flag(kOrv, "ReloadPage", &S::reload_page, true),
    Flag(kOrv, "SavePOST", &S::save_post, false),
    Flag(kOrv, "SaveCookie", &S::save_cookie, false),
};

// An unreadable file reads as an empty one: every key takes its default.
platform::ProfileDocument LoadOrEmpty(const std::string& path) {
    return platform::ProfileDocument::Load(path).value_or(platform::ProfileDocument{});
}

// A [WindowMetrix] number; one that does not fit an int gives the fallback.
int ReadInt(const platform::ProfileDocument& ini, const std::string& key, int fallback) {
    const long value = ini.GetInt(kWindowSection, key, fallback);
    return value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()
               ? fallback
               : static_cast<int>(value);
}

const SettingKey& KeyNamed(std::string_view name) {
    for (const SettingKey& key : kSettingKeys) {
        if (name == key.key) return key;
    }
    std::abort();  // a key name missing from the table is a programming error
}

std::string Cut(std::string text) {
    if (text.size() > kMaxSettingText) text.resize(kMaxSettingText);
    return text;
}

bool IsWholeNumber(std::string_view text) {
    text = WithoutLeadingWhite(text);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A number the program read otherwise than it is written (not a number, or out of range).
void WarnUnclear(const std::string& file, const SettingKey& k, const std::string& text, long used) {
    std::fprintf(stderr, "warning: %s: [%s] %s=%s not understood, %ld used\n", file.c_str(),
                 k.section, k.key, text.c_str(), used);
}

// The key's value as the profile holds it, or its default when missing or out of range.
void LoadKey(const SettingKey& k, const platform::ProfileDocument& ini, AppSettings& s,
             const std::string& file) {
    std::visit(
        [&](auto member) {
            using T = std::remove_cvref_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                std::string value = Cut(ini.GetString(k.section, k.key, k.text));
                s.*member = k.sanitize ? k.sanitize(std::move(value)) : std::move(value);
            } else if constexpr (std::is_same_v<T, bool>) {
                s.*member = ini.GetInt(k.section, k.key, k.number) != 0;
            } else {
                const long value = ini.GetInt(k.section, k.key, k.number);
                const bool outside = value < k.min || value > k.max;
                s.*member = static_cast<T>(outside ? k.outside : value);
                const std::string text = ini.GetString(k.section, k.key, "");
                if (!text.empty() && (outside || !IsWholeNumber(text))) {
                    WarnUnclear(file, k, text, static_cast<long>(s.*member));
                }
            }
        },
        k.member);
}

void SetDefault(const SettingKey& k, AppSettings& s) {
    std::visit(
        [&](auto member) {
            using T = std::remove_cvref_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                s.*member = k.text;
            } else {
                s.*member = static_cast<T>(k.number);
            }
        },
        k.member);
}

bool SaveKey(const SettingKey& k, const AppSettings& s, platform::ProfileDocument& ini) {
    return std::visit(
        [&](auto member) {
            using T = std::remove_cvref_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return ini.Set(k.section, k.key, WithoutLeadingWhite(s.*member));
            } else {
                return ini.Set(k.section, k.key, std::to_string(static_cast<long>(s.*member)));
            }
        },
        k.member);
}

std::string WindowKey(std::string_view name, std::string_view suffix) {
    return std::string(name) + std::string(suffix);
}

}  // namespace

std::int64_t AppSettings::SizeLimitBytes() const {
    return size_limit > 0 ? static_cast<std::int64_t>(size_limit) * 1024 : 0;
}

net::ProxySetting AppSettings::HttpProxySetting() const {
    return server::MakeProxySetting(proxy, server::ProxyProtocol::kHttp);
}

net::ProxySetting AppSettings::HttpsProxySetting() const {
    return server::MakeProxySetting(proxy, server::ProxyProtocol::kHttps);
}

net::ProxySetting AppSettings::FtpProxySetting() const {
    return server::MakeProxySetting(proxy, server::ProxyProtocol::kFtp);
}

std::string IniFilePath(bool use_current_directory) {
    return server::SettingsFilePath(use_current_directory, server::kIniFileName);
}

NumberRange DialogRange(std::string_view key) {
    return KeyNamed(key).dialog;
}

AppSettings::AppSettings() {
    for (const SettingKey& key : kSettingKeys) SetDefault(key, *this);
}

void LoadSettings(AppSettings& settings, LIFOClass& history, const std::string& ini_path) {
    const platform::ProfileDocument ini = LoadOrEmpty(ini_path);
    for (const SettingKey& key : kSettingKeys) LoadKey(key, ini, settings, ini_path);
    settings.connect_ports = ParsePortList(ini.GetString(kOrvaneSection, "ConnectPorts", ""));
    settings.tunnel_levels = ParsePortList(ini.GetString(kOrvaneSection, "TunnelLevels", ""));
    settings.proxy = server::LoadProxyEnvironment(ini);
    history.Load(kHistorySection, ini);
}

bool SaveSettings(const AppSettings& settings, const LIFOClass& history,
                  const std::string& ini_path) {
    if (!server::EnsureDirectoryOf(ini_path)) return false;
    auto ini = platform::ProfileDocument::Load(ini_path);
    if (!ini) return false;
    bool ok = true;
    for (const SettingKey& key : kSettingKeys) {
        if (key.written) ok &= SaveKey(key, settings, *ini);
    }
    ok &= server::SaveProxyEnvironment(settings.proxy, *ini);
    ok &= history.Save(kHistorySection, *ini);
    // What could be set is written even when one value could not be (a history entry with a
    // line break, say): the user's other changes are not lost for it.
    const bool saved = ini->Save(ini_path);
    return ok && saved;
}

std::string DataDirectory(const AppSettings& settings, const std::string& start_directory) {
    const std::string& base = settings.base_directory;
    std::error_code error;
    const bool usable = !base.empty() && std::filesystem::is_directory(base, error) &&
                        ::access(base.c_str(), R_OK | W_OK | X_OK) == 0;
    if (!base.empty() && !usable) {
        std::fprintf(stderr, "warning: BaseDirectory=%s cannot be used, %s used\n", base.c_str(),
                     start_directory.c_str());
    }
    std::string directory = usable ? base : start_directory;
    if (directory.empty() || directory.back() != '/') directory += '/';
    return directory;
}

int RestoreWindowMetrics(std::string_view name, bool position_only, WindowRect& rect,
                         const std::string& ini_path) {
    const platform::ProfileDocument ini = LoadOrEmpty(ini_path);
    const auto read = [&](std::string_view suffix, int fallback) {
        return ReadInt(ini, WindowKey(name, suffix), fallback);
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
    auto ini = platform::ProfileDocument::Load(ini_path);
    if (!ini) return false;
    const auto write = [&](std::string_view suffix, int value) {
        return ini->Set(kWindowSection, WindowKey(name, suffix), std::to_string(value));
    };
    bool ok = position_only || write(".Show", show_state);
    if (show_state == 1) {
        ok &= write(".X", rect.x);
        ok &= write(".Y", rect.y);
        if (!position_only) {
            ok &= write(".W", rect.width);
            ok &= write(".H", rect.height);
        }
    }
    return ok && ini->Save(ini_path);
}

ListColumnWidths LoadListColumnWidths(const std::string& ini_path) {
    const platform::ProfileDocument ini = LoadOrEmpty(ini_path);
    ListColumnWidths widths{};
    for (std::size_t i = 0; i < kListColumns; ++i) {
        widths[i] = ReadInt(ini, "LVC." + std::to_string(i), -1);
    }
    return widths;
}

bool SaveListColumnWidths(const ListColumnWidths& widths, const std::string& ini_path) {
    if (!server::EnsureDirectoryOf(ini_path)) return false;
    auto ini = platform::ProfileDocument::Load(ini_path);
    if (!ini) return false;
    bool ok = true;
    for (std::size_t i = 0; i < kListColumns; ++i) {
        ok &= ini->Set(kWindowSection, "LVC." + std::to_string(i), std::to_string(widths[i]));
    }
    return ok && ini->Save(ini_path);
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
    const auto clamp = [](std::string_view key, long value) {
        const NumberRange range = DialogRange(key);
        return std::clamp(value, range.min, range.max);
    };
    settings.size_limit = static_cast<std::int32_t>(clamp("SizeLimit", fields.size_limit));
    settings.get_timeout = static_cast<std::int32_t>(clamp("GetTimeout", fields.get_timeout));
    settings.retry_count = static_cast<std::uint8_t>(clamp("RetryCount", fields.retry_count));
    settings.save_cookie = fields.save_cookie;
    settings.get_thread = static_cast<std::uint16_t>(clamp("GetThread", fields.get_thread));
    settings.tree_double_clicked = std::clamp(fields.double_click, 0, 4);
    settings.threads = static_cast<std::uint16_t>(clamp("Threads", fields.threads));
    settings.port = static_cast<std::uint16_t>(clamp("Port", fields.port));
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
