#include "net/httputils.h"

#include <algorithm>

#include "net/result_codes.h"
#include "net/url.h"
#include "util/codec.h"
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

}  // namespace

httputils::httputils(std::unique_ptr<Transport> transport) : TCPIPProxyClass(std::move(transport)) {
    AttachSink(this);
}

bool httputils::BuildRequest(int method, std::string_view url, const ConnectionSetting* setting,
                             std::string_view extra) {
    UrlParts parts = SplitUrl(url);
    std::string target = EscapeSpaces(RequestTarget(url));
    if (method == kMethodPost) target = target.substr(0, target.find('?'));
    std::string host;
    int port = GetHostAndPort(url, host);

    request_.assign(kMethodWords[method]);
    request_ += target + " HTTP/" + VersionText(setting) + "\r\n";
    // RFC 9110 §7.2: the port belongs in Host when it is not the scheme's default.
    request_ += "Host: " + host;
    if (port != 0 && port != DefaultPort()) request_ += ":" + std::to_string(port);
    request_ += "\r\n";
    if (!parts.user_info.empty() && !HasLine(extra, "Authorization:")) {
        request_ += "Authorization: Basic " + util::Base64Encode(parts.user_info) + "\r\n";
    }
    if (setting != nullptr && setting->keep_alive >= 1) {
        request_ += ViaProxy() ? "Proxy-Connection:" : "Connection:";
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
    if (!BuildRequest(method, url, setting, extra)) {
        request_.clear();
        return ChannelCode::kSendFailed;
    }
    ChannelCode code = ConnectTarget();
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
