#pragma once
// Choosing between going to the origin directly and going through the configured proxy.

#include <cstdint>
#include <string>
#include <string_view>

#include "net/tcpip.h"

namespace kelvra::net {

inline constexpr std::size_t kMaxProxyHost = 255;
inline constexpr std::uint32_t kLoopbackAddress = 0x0100007F;  // 127.0.0.1, network byte order

// One proxy setting (http or ftp). local_network (network byte order, may be 0): its non-zero
// bytes define the network that is reached directly.
struct ProxySetting {
    std::uint32_t local_network = 0;
    std::string host;  // at most kMaxProxyHost bytes; empty: no proxy
    int port = 0;      // 0: no proxy
};

class TCPIPProxyClass : public TCPIPClient {
  public:
    using TCPIPClient::TCPIPClient;

    // Sets via-proxy, target address and port for url. Never fails itself: an unresolved
    // direct target leaves the target address 0.
    virtual void DecideRoute(std::string_view url);
    // Connects to the chosen target: kHostUnknown when its address is 0, else Connect's code.
    [[nodiscard]] virtual ChannelCode ConnectTarget();
    // What the request line names: the whole URL through a proxy, path and query directly.
    virtual std::string RequestTarget(std::string_view url) const;
    // The setting in force (not owned; may be null) and the scheme's default port.
    virtual void SetProxy(const ProxySetting* setting, int default_port);

    bool ViaProxy() const { return via_proxy_; }
    std::uint32_t TargetAddress() const { return target_address_; }
    int TargetPort() const { return target_port_; }
    int DefaultPort() const { return default_port_; }
    const ProxySetting* Proxy() const { return proxy_; }

  private:
    bool GoesDirect(std::uint32_t target) const;

    const ProxySetting* proxy_ = nullptr;
    int default_port_ = 80;
    bool via_proxy_ = false;
    std::uint32_t target_address_ = 0;
    int target_port_ = 0;
};

}  // namespace kelvra::net
