#pragma once
// The upstream proxies and the local network kept in the [AutoProxyConfig] section of
// kelvraw.ini, the named profiles stored beside them, and the per-scheme proxy settings that
// the HTTP and FTP clients route by.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/proxy.h"
#include "platform/profile.h"

namespace kelvra::server {

inline constexpr char kIniFileName[] = "kelvraw.ini";
inline constexpr char kPacFileName[] = "proxycfg.pac";
inline constexpr char kProxySection[] = "AutoProxyConfig";

// Host texts and profile names longer than this are cut.
inline constexpr std::size_t kMaxProxyTextLength = 255;
// Profiles are numbered 0 .. kMaxProxyProfiles - 1 without gaps.
inline constexpr int kMaxProxyProfiles = 256;

enum class ProxyProtocol { kHttp = 0, kHttps, kFtp, kWais, kGopher };
inline constexpr std::size_t kProxyProtocolCount = 5;
inline constexpr std::array<ProxyProtocol, kProxyProtocolCount> kProxyProtocols = {
    ProxyProtocol::kHttp, ProxyProtocol::kHttps, ProxyProtocol::kFtp, ProxyProtocol::kWais,
    ProxyProtocol::kGopher};

// "HTTP", "HTTPS", "FTP", "WAIS" or "GOPHER": the word the protocol's keys start with.
std::string_view ProxyKeyWord(ProxyProtocol protocol);

struct ProxyServer {
    std::string host;  // empty: no proxy for this scheme
    std::uint16_t port = 0;
    bool operator==(const ProxyServer&) const = default;
};

struct ProxyEnvironment {
    std::array<ProxyServer, kProxyProtocolCount> servers;
    // IPMASK1 | IPMASK2 << 8 | IPMASK3 << 16: the first three octets of the local network that
    // is reached without proxy; 0 in the lowest byte means there is none.
    std::uint32_t ipmask = 0;

    ProxyServer& Server(ProxyProtocol protocol);
    const ProxyServer& Server(ProxyProtocol protocol) const;
    // Octet 0, 1 or 2 of the local network (IPMASK1, IPMASK2, IPMASK3).
    unsigned MaskOctet(int index) const;
    bool operator==(const ProxyEnvironment&) const = default;
};

std::uint32_t CombineIpMask(std::uint8_t first, std::uint8_t second, std::uint8_t third);

// The local network as an IPv4 address in network byte order (fourth octet 0), the form the
// route decision compares resolved addresses with.
std::uint32_t LocalNetworkAddress(std::uint32_t ipmask);

// The setting the HTTP or FTP client routes by: the protocol's proxy and the local network.
net::ProxySetting MakeProxySetting(const ProxyEnvironment& environment, ProxyProtocol protocol);

// Absolute path of name in the settings directory (the current directory with -cd).
std::string SettingsFilePath(bool use_current_directory, std::string_view name);

// Creates the directory that path lies in when it is missing; true when it exists afterwards.
bool EnsureDirectoryOf(const std::string& path);

// The unsuffixed keys; missing keys give empty hosts and zeros.
ProxyEnvironment LoadProxyEnvironment(const platform::ProfileDocument& ini);
// Sets every unsuffixed key; true when every key could be set.
[[nodiscard]] bool SaveProxyEnvironment(const ProxyEnvironment& environment,
                                        platform::ProfileDocument& ini);

// The names under "0", "1", ... up to the first missing number.
std::vector<std::string> ProxyProfileNames(const std::string& ini_path);
// The thirteen keys of profile number; missing keys give empty hosts and zeros.
ProxyEnvironment LoadProxyProfile(int number, const std::string& ini_path);
// Stores environment under name (leading white space dropped, cut to kMaxProxyTextLength):
// an existing profile of that name keeps its number, a new name takes the next one. Returns
// the number, or -1 when the name is empty, all kMaxProxyProfiles numbers are taken, or a
// write failed.
[[nodiscard]] int SaveProxyProfile(std::string_view name, const ProxyEnvironment& environment,
                                   const std::string& ini_path);

}  // namespace kelvra::server
