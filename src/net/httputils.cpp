#include "net/httputils.h"

#include <algorithm>

#include "net/result_codes.h"
#include "net/url.h"
#include "util/codec.h"
#include "util/header.h"
#include "util/strutil.h"

namespace kelvra::net {

namespace {

constexpr std::string_view kMethodWords[] = {"GET ", "POST ", "HEAD "};

std::string EscapeSpaces(std::string_view target) {
    std::string out;
    out.reserve(target.size());
    for (char c : target) {
        if (c == ' ')
            out += "%20";
        else
            out += c;
    }
    return out;
}

std::string VersionText(const ConnectionSetting* setting) {
    int version = setting == nullptr ? 11 : std::clamp(setting->version, 0, 99);
    return std::to_string(version / 10) + "." + std::to_string(version % 10);
}

// Whether one of the lines begins with name (case ignored).
bool HasLine(std::string_view lines, std::string_view name) {
    while (!lines.empty()) {
        if (util::StartsWithNoCase(lines, name)) return true;
        std::size_t end = lines.find('\n');
        if (end == std::string_view::npos) break;
        lines.remove_prefix(end + 1);
    }
    return false;
}

// extra without the lines that begin with name (case ignored).
std::string WithoutLine(std::string_view lines, std::string_view name) {
    std::string kept;
    while (!lines.empty()) {
        std::size_t end = lines.find('\n');
        end = end == std::string_view::npos ? lines.size() : end + 1;
        if (!util::StartsWithNoCase(lines, name)) kept += lines.substr(0, end);
        lines.remove_prefix(end);
    }
    return kept;
}

bool IsHttps(std::string_view url) {
    return util::StartsWithNoCase(url, "https://");
}

// Whether a proxy's reply to CONNECT opened the tunnel (any 2xx, RFC 9110 §9.3.6).
bool TunnelOpened(std::string_view reply) {
    if (!reply.starts_with("HTTP/")) return false;
    const std::size_t space = reply.find(' ');
    return space != std::string_view::npos && reply.size() > space + 1 && reply[space + 1] == '2';
}

}  // namespace

httputils::httputils(std::unique_ptr<Transport> transport)
    : TCPIPProxyClass(std::make_unique<TlsTransport>(std::move(transport))) {
    AttachSink(this);
}

bool httputils::PrepareLayer(std::string_view url) {
    tunnel_ = false;
    if (IsHttps(url)) {
        std::string host;
        const int port = GetHostAndPort(url, host);
        tunnel_ = ViaProxy();
        Tls().Prepare(std::move(host), port == 0 ? kHttpsPort : port, verify_certificates_,
                      !tunnel_);
    } else {
        Tls().PreparePlain();
    }
    // A kept connection is reused by address; over TLS it must also be the same server.
    if (IsClosed() || Tls().OpenKey() == Tls().PreparedKey()) return true;
    if (!unanswered_.empty()) return false;
    Close();
    return true;
}

ChannelCode httputils::OpenTunnel(std::string_view url, std::string_view proxy_authorization) {
    std::string host;
    int port = GetHostAndPort(url, host);
    const std::string authority = host + ":" + std::to_string(port == 0 ? kHttpsPort : port);
    std::string connect = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    if (!proxy_authorization.empty()) {
        connect += "Proxy-Authorization: " + std::string(proxy_authorization) + "\r\n";
    }
    connect += "\r\n";
    ChannelCode code = ChannelCode::kOk;
    if (!SendAll(connect.data(), connect.size(), code)) return code;
    // The proxy says nothing after its reply until we speak TLS: reading in blocks takes
    // nothing of the tunnel's bytes.
    SetTee(false);
    std::string reply;
    char block[512];
    while (reply.find("\r\n\r\n") == std::string::npos && reply.size() <= kMaxTunnelReply) {
        const Received got = Receive(block, sizeof block);
        if (!got.Got()) {
            SetTee(true);
            return got.PeerClosed() ? ChannelCode::kConnectFailed : got.code;
        }
        reply.append(block, static_cast<std::size_t>(got.count));
    }
    SetTee(true);
    if (!TunnelOpened(reply) || reply.find("\r\n\r\n") + 4 != reply.size()) {
        return ChannelCode::kConnectFailed;
    }
    return Tls().Handshake(Socket());
}

bool httputils::BuildRequest(int method, std::string_view url, const ConnectionSetting* setting,
                             std::string_view extra) {
    UrlParts parts = SplitUrl(url);
    std::string target = EscapeSpaces(tunnel_ ? GetPath(url) : RequestTarget(url));
    if (method == kMethodPost) target = target.substr(0, target.find('?'));
    std::string host;
    int port = GetHostAndPort(url, host);

    request_.assign(kMethodWords[method]);
    request_ += target + " HTTP/" + VersionText(setting) + "\r\n";
    // RFC 9110 §7.2: the port belongs in Host when it is not the scheme's default.
    request_ += "Host: " + host;
    const int default_port = IsHttps(url) ? kHttpsPort : DefaultPort();
    if (port != 0 && port != default_port) request_ += ":" + std::to_string(port);
    request_ += "\r\n";
    if (!parts.user_info.empty() && !HasLine(extra, "Authorization:")) {
        request_ += "Authorization: Basic " + util::Base64Encode(parts.user_info) + "\r\n";
    }
    if (setting != nullptr && setting->keep_alive >= 1) {
        request_ += ViaProxy() && !tunnel_ ? "Proxy-Connection:" : "Connection:";
        request_ += " Keep-Alive\r\n";
    }
    request_ += extra;
    request_ += "\r\n";
    return request_.size() <= kRequestBufferSize;
}

ChannelCode httputils::SendRequest(int method, std::string_view url,
                                   const ConnectionSetting* setting, std::string_view extra) {
    if (method < kMethodGet || method > kMethodHead) method = kMethodGet;
    DecideRoute(url);
    if (!PrepareLayer(url)) return ChannelCode::kSendFailed;
    // Through a tunnel the proxy's credentials go with CONNECT, never to the origin.
    const std::string proxy_authorization(tunnel_ ? util::FindHeader(extra, "Proxy-Authorization:")
                                                  : std::string_view());
    const std::string own_extra =
        tunnel_ ? WithoutLine(extra, "Proxy-Authorization:") : std::string(extra);
    if (!BuildRequest(method, url, setting, own_extra)) {
        request_.clear();
        return ChannelCode::kSendFailed;
    }
    ChannelCode code = ConnectTarget();
    if (code == ChannelCode::kOk && tunnel_ && !WasReused()) {
        code = OpenTunnel(url, proxy_authorization);
        if (code != ChannelCode::kOk) Close();
    }
    if (code != ChannelCode::kOk) return code;
    if (!SendAll(request_.data(), request_.size(), code)) return code;
    std::size_t query = url.find('?');
    if (method == kMethodPost && query != std::string_view::npos) {
        std::string_view body = url.substr(query + 1);
        if (!SendAll(body.data(), body.size(), code)) return code;
    }
    unanswered_.push_back(method == kMethodHead);
    return ChannelCode::kOk;
}

ChannelCode httputils::Close() {
    unanswered_.clear();
    return TCPIPProxyClass::Close();
}

ResponseStatus httputils::ReadStatus() {
    Reset(kScanHeader);
    ExpectNoBody(!unanswered_.empty() && unanswered_.front());
    if (!unanswered_.empty()) unanswered_.pop_front();
    if (!OpenTempFile()) return {0, ChannelCode::kTempFileFailed};
    transport().AwaitAnswer();
    ChannelCode code = ChannelCode::kOk;
    while (State() >= kScanHeader && State() < kHeaderComplete) Step(code);
    if (State() < 0) {
        int redirect = RedirectStatusAfterFailure();
        if (redirect == 0) return {0, code};
        // The message broke off: nothing after it on this connection can be framed.
        Close();
        return {redirect};
    }
    const int status = Kind() == kResponse ? StatusCode() : 0;
    if (status == 0) return {0, ChannelCode::kReceiveFailed};
    return {status};
}

}  // namespace kelvra::net
