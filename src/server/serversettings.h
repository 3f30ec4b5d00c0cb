#pragma once
// The local server's configuration, filled once by the application layer from its settings and
// shared read-only by every worker, and the server mode value.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "net/proxy.h"

namespace kelvra::server {

// Low four bits of a server mode.
enum ServerModeBase : std::uint32_t {
    kModeStopped = 0,
    kModeLocal = 1,
    kModeProxy = 2,   // relay only ("ProxyMode 1" on the answer pages)
    kModeProxy2 = 3,  // relay and store
    kModeProxy3 = 4,  // relay and store, keeping old versions
};
inline constexpr std::uint32_t kModeBaseMask = 0x0F;
// Data-use bits of the proxy modes.
inline constexpr std::uint32_t kUseSpoolAlways = 0x10;  // answer stored objects from the spool
inline constexpr std::uint32_t kUseSpoolCheck = 0x20;   // ask the origin with the stored date
inline constexpr std::uint32_t kDataUseMask = 0x30;
// The flag bits a mode change without replacing them keeps (bits 4 to 7).
inline constexpr std::uint32_t kModeFlagMask = 0xF0;

inline std::uint32_t ModeBase(std::uint32_t mode) {
    return mode & kModeBaseMask;
}
inline std::uint32_t ModeDataUse(std::uint32_t mode) {
    return mode & kDataUseMask;
}
// A mode value the server knows: stopped, Local Mode or a proxy mode, with at most one of
// the data-use bits and no other bit. The server never runs in any other value.
inline bool IsKnownMode(std::uint32_t mode) {
    return ModeBase(mode) <= kModeProxy3 && ModeDataUse(mode) != kDataUseMask &&
           (mode & ~(kModeBaseMask | kDataUseMask)) == 0;
}
// A known mode in which the server answers requests.
inline bool IsServingMode(std::uint32_t mode) {
    return IsKnownMode(mode) && ModeBase(mode) != kModeStopped;
}

inline constexpr int kMaxServerThreads = 20;
inline constexpr int kDefaultPort = 8080;
inline constexpr int kDefaultNotFoundResult = 404;

// The worker count for a "Threads" setting: 1..20, and 0 or more than 20 gives 20.
int WorkerCount(int threads);

struct ServerSettings {
    int port = kDefaultPort;                                  // "Port"
    int threads = kMaxServerThreads;                          // "Threads"
    std::uint16_t keep_alive = 0;                             // "KeepAlive", seconds
    std::uint16_t not_found_result = kDefaultNotFoundResult;  // "NotFoundResult"
    bool reload_page = false;                                 // "ReloadPage"
    bool save_post = false;                                   // "SavePOST"
    std::uint32_t run_at_start = kModeLocal;                  // "RunAtStart"
    int get_timeout = 30;            // "GetTimeout", seconds: bound of relay waits
    net::ProxySetting http_proxy;    // upstream proxy for relaying
    net::ProxySetting https_proxy;   // upstream proxy for CONNECT tunnels
    std::vector<int> connect_ports;  // "ConnectPorts": ports a CONNECT may reach besides 443
    // "TunnelLevels": access levels whose CONNECT requests always get the plain tunnel (or,
    // in Local Mode, today's refusal) instead of being answered through the local authority.
    std::vector<int> tunnel_levels;
    // Where the local certificate authority lives (the settings directory, ending in '/');
    // empty: CONNECT requests are never answered through it.
    std::string authority_directory;
    bool has_main_window = true;     // "/get?" posts to the main window only when there is one
    std::string progress_log;        // "ProgressLog" file name: never served
    std::uint32_t bind_address = 0;  // network byte order; 0: every local address
    // How long a stored file must stay unchanged before its contents are kept in memory
    // between requests.
    std::chrono::milliseconds stored_file_settle{2000};
};

}  // namespace kelvra::server
