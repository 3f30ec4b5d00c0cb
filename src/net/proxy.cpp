#include "net/proxy.h"

#include "net/result_codes.h"
#include "net/url.h"
#include "util/strutil.h"

namespace kelvra::net {

namespace {

// 0xFF in every byte position where the local network address has a non-zero byte.
std::uint32_t NetworkMask(std::uint32_t network) {
    std::uint32_t mask = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        if ((network >> shift) & 0xFF) mask |= 0xFFu << shift;
    }
    return mask;
}

}  // namespace

void TCPIPProxyClass::SetProxy(const ProxySetting* setting, int default_port) {
    proxy_ = setting;
    default_port_ = default_port;
}

bool TCPIPProxyClass::GoesDirect(std::uint32_t target) const {
    if (proxy_ == nullptr || proxy_->port == 0) return true;
    if (util::SkipWhite(proxy_->host).empty()) return true;
    if (target == kLoopbackAddress) return true;
    if (proxy_->local_network != 0 && target != 0) {
        return (target & NetworkMask(proxy_->local_network)) == proxy_->local_network;
    }
    return false;
}

void TCPIPProxyClass::DecideRoute(std::string_view url) {
    std::string host;
    int port = GetHostAndPort(url, host);
    if (port == 0) port = default_port_;
    std::uint32_t target = ResolveHost(host.c_str());
    via_proxy_ = !GoesDirect(target);
    if (via_proxy_) {
        std::string proxy_host(util::SkipWhite(proxy_->host));
        target_address_ = ResolveHost(proxy_host.c_str());
        target_port_ = proxy_->port;
    } else {
        target_address_ = target;
        target_port_ = port;
    }
}

ChannelCode TCPIPProxyClass::ConnectTarget() {
    if (target_address_ == 0) return ChannelCode::kHostUnknown;
    return Connect(target_address_, target_port_, false);
}

std::string TCPIPProxyClass::RequestTarget(std::string_view url) const {
    return via_proxy_ ? std::string(url) : GetPath(url);
}

}  // namespace kelvra::net
