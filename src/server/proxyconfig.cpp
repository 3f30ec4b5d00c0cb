#include "server/proxyconfig.h"

#include <arpa/inet.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/profile.h"
#include "platform/settingsdir.h"

namespace kelvra::server {

namespace {

constexpr std::uint16_t kMaxPort = 65535;
constexpr std::uint8_t kMaxOctet = 255;

std::string Cut(std::string text) {
    if (text.size() > kMaxProxyTextLength) text.resize(kMaxProxyTextLength);
    return text;
}

std::string_view WithoutLeadingWhite(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) {
        text.remove_prefix(1);
    }
    return text;
}

// A number that does not fit its field reads as 0, the value of a missing key: a wrapped port
// or octet would silently name another host or network.
long ReadNumber(const std::string& key, long max, const platform::ProfileDocument& ini) {
    const long value = ini.GetInt(kProxySection, key, 0);
    return value < 0 || value > max ? 0 : value;
}

// suffix is "" for the current values and ".N" for profile N.
std::string KeyOf(ProxyProtocol protocol, std::string_view kind, std::string_view suffix) {
    std::string key(ProxyKeyWord(protocol));
    key += kind;
    key += suffix;
    return key;
}

std::string MaskKey(int index, std::string_view suffix) {
    return "IPMASK" + std::to_string(index + 1) + std::string(suffix);
}

ProxyEnvironment ReadEnvironment(std::string_view suffix, const platform::ProfileDocument& ini) {
    ProxyEnvironment environment;
    for (ProxyProtocol protocol : kProxyProtocols) {
        ProxyServer& server = environment.Server(protocol);
        server.host = Cut(ini.GetString(kProxySection, KeyOf(protocol, "adrs", suffix), ""));
        server.port =
            static_cast<std::uint16_t>(ReadNumber(KeyOf(protocol, "port", suffix), kMaxPort, ini));
    }
    std::uint8_t octets[3];
    for (int i = 0; i < 3; ++i) {
        octets[i] = static_cast<std::uint8_t>(ReadNumber(MaskKey(i, suffix), kMaxOctet, ini));
    }
    environment.ipmask = CombineIpMask(octets[0], octets[1], octets[2]);
    return environment;
}

bool WriteKey(const std::string& key, std::string_view value, platform::ProfileDocument& ini) {
    return ini.Set(kProxySection, key, value);
}

bool WriteEnvironment(const ProxyEnvironment& environment, std::string_view suffix,
                      platform::ProfileDocument& ini) {
    bool written = true;
    for (ProxyProtocol protocol : kProxyProtocols) {
        const ProxyServer& server = environment.Server(protocol);
        written &= WriteKey(KeyOf(protocol, "adrs", suffix), WithoutLeadingWhite(server.host), ini);
        written &= WriteKey(KeyOf(protocol, "port", suffix), std::to_string(server.port), ini);
    }
    for (int i = 0; i < 3; ++i) {
        written &= WriteKey(MaskKey(i, suffix), std::to_string(environment.MaskOctet(i)), ini);
    }
    return written;
}

std::string ProfileSuffix(int number) {
    return "." + std::to_string(number);
}

// An unreadable file reads as an empty one: every key takes its default.
platform::ProfileDocument LoadOrEmpty(const std::string& path) {
    return platform::ProfileDocument::Load(path).value_or(platform::ProfileDocument{});
}

std::vector<std::string> ProfileNames(const platform::ProfileDocument& ini) {
    std::vector<std::string> names;
    for (int number = 0; number < kMaxProxyProfiles; ++number) {
        auto name = ini.Find(kProxySection, std::to_string(number));
        if (!name) break;
        names.push_back(Cut(std::move(*name)));
    }
    return names;
}

}  // namespace

std::string_view ProxyKeyWord(ProxyProtocol protocol) {
    switch (protocol) {
        case ProxyProtocol::kHttp:
            return "HTTP";
        case ProxyProtocol::kHttps:
            return "HTTPS";
        case ProxyProtocol::kFtp:
            return "FTP";
        case ProxyProtocol::kWais:
            return "WAIS";
        case ProxyProtocol::kGopher:
            return "GOPHER";
    }
    return "";
}

ProxyServer& ProxyEnvironment::Server(ProxyProtocol protocol) {
    return servers[static_cast<std::size_t>(protocol)];
}

const ProxyServer& ProxyEnvironment::Server(ProxyProtocol protocol) const {
    return servers[static_cast<std::size_t>(protocol)];
}

unsigned ProxyEnvironment::MaskOctet(int index) const {
    return (ipmask >> (8 * index)) & 0xFF;
}

std::uint32_t CombineIpMask(std::uint8_t first, std::uint8_t second, std::uint8_t third) {
    return static_cast<std::uint32_t>(first) | static_cast<std::uint32_t>(second) << 8 |
           static_cast<std::uint32_t>(third) << 16;
}

std::uint32_t LocalNetworkAddress(std::uint32_t ipmask) {
    const std::uint32_t host_order =
        (ipmask & 0xFF) << 24 | ((ipmask >> 8) & 0xFF) << 16 | ((ipmask >> 16) & 0xFF) << 8;
    return htonl(host_order);
}

net::ProxySetting MakeProxySetting(const ProxyEnvironment& environment, ProxyProtocol protocol) {
    const ProxyServer& server = environment.Server(protocol);
    net::ProxySetting setting;
    setting.local_network = LocalNetworkAddress(environment.ipmask);
    setting.host = server.host.substr(0, net::kMaxProxyHost);
    setting.port = server.port;
    return setting;
}

std::string SettingsFilePath(bool use_current_directory, std::string_view name) {
    std::string directory = platform::SettingsDirectory(use_current_directory);
    if (directory.empty() || directory.front() != '/') {
        std::error_code error;
        const std::filesystem::path current = std::filesystem::current_path(error);
        if (!error) directory = (current / directory).lexically_normal().string();
        if (directory.empty() || directory.back() != '/') directory += '/';
    }
    return directory + std::string(name);
}

bool EnsureDirectoryOf(const std::string& path) {
    const std::filesystem::path directory = std::filesystem::path(path).parent_path();
    if (directory.empty()) return true;
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    return std::filesystem::is_directory(directory, error);
}

ProxyEnvironment LoadProxyEnvironment(const platform::ProfileDocument& ini) {
    return ReadEnvironment("", ini);
}

bool SaveProxyEnvironment(const ProxyEnvironment& environment, platform::ProfileDocument& ini) {
    return WriteEnvironment(environment, "", ini);
}

std::vector<std::string> ProxyProfileNames(const std::string& ini_path) {
    return ProfileNames(LoadOrEmpty(ini_path));
}

ProxyEnvironment LoadProxyProfile(int number, const std::string& ini_path) {
    return ReadEnvironment(ProfileSuffix(number), LoadOrEmpty(ini_path));
}

int SaveProxyProfile(std::string_view name, const ProxyEnvironment& environment,
                     const std::string& ini_path) {
    const std::string wanted = Cut(std::string(WithoutLeadingWhite(name)));
    if (wanted.empty() || !EnsureDirectoryOf(ini_path)) return -1;
    auto ini = platform::ProfileDocument::Load(ini_path);
    if (!ini) return -1;
    const std::vector<std::string> names = ProfileNames(*ini);
    const auto same = std::find(names.begin(), names.end(), wanted);
    const int number = static_cast<int>(same - names.begin());
    if (number >= kMaxProxyProfiles) return -1;
    const bool written = WriteKey(std::to_string(number), wanted, *ini) &&
                         WriteEnvironment(environment, ProfileSuffix(number), *ini);
    return written && ini->Save(ini_path) ? number : -1;
}

}  // namespace kelvra::server
