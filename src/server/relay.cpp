#include "server/relay.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "net/result_codes.h"
#include "net/transport.h"
#include "net/url.h"
#include "server/answers.h"
#include "server/servercommand.h"
#include "server/subserverproc.h"
#include "store/headerlistex.h"
#include "util/header.h"
#include "util/httpdate.h"
#include "util/strutil.h"

namespace kelvra::server {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kPollStepUs = 50000;
constexpr std::size_t kRelayBlock = 8192;
// The outgoing request header is built in an area of this size; a longer one is not sent.
constexpr std::size_t kRelayHeaderLimit = 8192;
constexpr int kHttpsPort = 443;
constexpr std::string_view kIfModifiedSince = "If-Modified-Since:";

bool IsConnectionLine(std::string_view line) {
    return util::StartsWithNoCase(line, "Proxy-Connection:") ||
           util::StartsWithNoCase(line, "Connection:");
}

bool IsBlankLine(std::string_view line) {
    return line == "\n" || line == "\r\n";
}

// Calls visit(line) for every line of a header block after the first, up to the blank line;
// each line keeps its own line end.
template <typename Visit>
void ForEachHeaderLine(std::string_view header, Visit visit) {
    std::size_t at = header.find('\n');
    if (at == std::string_view::npos) return;
    for (++at; at < header.size();) {
        std::size_t end = header.find('\n', at);
        end = end == std::string_view::npos ? header.size() : end + 1;
        const std::string_view line = header.substr(at, end - at);
        if (IsBlankLine(line)) return;
        visit(line);
        at = end;
    }
}

std::string_view FirstLine(std::string_view header) {
    const std::size_t end = header.find('\n');
    return header.substr(0, end == std::string_view::npos ? header.size() : end + 1);
}

void RemoveHeaderLine(std::string& header, std::string_view name) {
    std::string out(FirstLine(header));
    ForEachHeaderLine(header, [&](std::string_view line) {
        if (!util::StartsWithNoCase(line, name)) out.append(line);
    });
    out.append("\r\n");
    header = std::move(out);
}

std::time_t HeaderDate(std::string_view header) {
    const std::string_view value = util::FindHeader(header, kIfModifiedSince);
    if (value.data() == nullptr) return 0;
    std::tm tm = util::ParseHttpDate(value);
    return timegm(&tm);
}

// A blocking send to an origin that stops reading gives up after seconds without progress
// instead of holding the worker.
void BoundSends(int fd, int seconds) {
    const timeval limit{std::max(1, seconds), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

bool IsConnectMethod(std::string_view header) {
    return util::StartsWithNoCase(header, "CONNECT ");
}

// The CommitFlags for a relayed status, or -1 when such an answer is not stored.
int StoreFlagsFor(int status, std::uint32_t mode) {
    switch (status) {
        case 200:
            return ModeBase(mode) == kModeProxy3 ? store::CommitFlags::KeepOldVersion : 0;
        case 100:
        case 201:
        case 202:
        case 205:
        case 206:
            return 0;
        case 301:
        case 302:
            return store::CommitFlags::MovedBody;
        default:
            return -1;
    }
}

}  // namespace

void RelayReader::ConsumeBody(const char* data, std::size_t count) {
    // Bytes past the message's end are handed back to the channel by the base; only the
    // message's own bytes are passed on.
    net::TCPIPClass* sink = Sink();
    const std::size_t held_before = sink != nullptr ? sink->HeldBackBytes() : 0;
    InvestHeaderClass::ConsumeBody(data, count);
    const std::size_t held_after = sink != nullptr ? sink->HeldBackBytes() : 0;
    const std::size_t extra = held_after > held_before ? held_after - held_before : 0;
    pending_.append(data, count - std::min(extra, count));
}

std::string RelayReader::TakePending() {
    std::string out;
    out.swap(pending_);
    return out;
}

ProxyRelay::ProxyRelay(SubServerProc& client, ClientRequest& request, ServerContext& context)
    : client_(client),
      request_(request),
      context_(context),
      relay_(std::make_unique<net::TlsTransport>()) {
    relay_.SetProxy(&context_.settings.http_proxy, net::kHttpPort);
    relay_.SetTimeout(std::max(1, context_.settings.get_timeout));
    relay_.SetTee(false);
    response_reader_.AttachSink(&relay_);
}

ProxyRelay::~ProxyRelay() {
    CloseRelay();
}

int ProxyRelay::Relay(std::uint32_t mode) {
    if (request_.kind == net::kOtherRequest && IsConnectMethod(request_.header)) {
        return Tunnel(mode);
    }
    const std::uint32_t base = ModeBase(mode);
    if (base == kModeProxy2 || base == kModeProxy3) {
        RemoveHeaderLine(request_.header, kIfModifiedSince);
    }
    const bool spool_method =
        request_.kind >= net::kGetRequest && request_.kind <= net::kPostRequest;
    if (spool_method && ModeDataUse(mode) != 0 && !IsBrowserReload(request_.header)) {
        SubServerProc::Lookup lookup = client_.FindStoredObject();
        if (lookup.node != nullptr) {
            if (mode & kUseSpoolAlways) {
                int result = kAnswerClose;
                // Always answered: there is a stored object.
                static_cast<void>(
                    client_.ConditionalAnswer(lookup, request_.kind != net::kHeadRequest, result));
                return result == kAnswerSpoolKept ? kAnswerSpoolKept : kAnswerClose;
            }
            const int result = RelayWithStoredDate(mode, lookup.node);
            if (result != 0) return result;
        }
    }
    return RelayUsingStored(mode, nullptr);
}

// The plain relay or, for GET and POST in the storing modes, relay and store.
int ProxyRelay::RelayUsingStored(std::uint32_t mode, store::treelistnode* node) {
    const std::uint32_t base = ModeBase(mode);
    const bool get_like = request_.kind == net::kGetRequest || request_.kind == net::kPostRequest;
    bool passed = true;
    bool* flag = node != nullptr ? &passed : nullptr;
    const int result = (get_like && (base == kModeProxy2 || base == kModeProxy3))
                           ? RelayAndStore(mode, flag)
                           : PlainRelay(flag);
    if (result < 1) return kAnswerClose;
    if (node != nullptr && !passed) {
        return client_.SendStoredObject(node, request_.kind != net::kHeadRequest);
    }
    return kAnswerKept;
}

// Asks the origin with the stored date; 0 when the request is to be relayed unchanged.
int ProxyRelay::RelayWithStoredDate(std::uint32_t mode, store::treelistnode* node) {
    if (!(mode & kUseSpoolCheck)) return 0;
    std::string modified;
    if (!context_.store.GetNodeLastModified(node, modified) || modified.empty()) return 0;
    const bool asks = util::FindHeader(request_.header, kIfModifiedSince).data() != nullptr;
    if (asks && HeaderDate(request_.header) >= context_.store.GetNodeModifiedTime(node)) return 0;
    std::string header = request_.header;
    RemoveHeaderLine(header, kIfModifiedSince);
    const std::string line = std::string(kIfModifiedSince) + " " + modified + "\r\n";
    if (header.size() + line.size() >= net::kRawAreaSize) return 0;
    header.insert(FirstLine(header).size(), line);
    request_.header = std::move(header);
    return RelayUsingStored(mode, node);
}

int ProxyRelay::RelayAndStore(std::uint32_t mode, bool* not_modified) {
    std::string url = request_.target;
    bool storing = true;
    if (request_.kind == net::kPostRequest) {
        storing = context_.settings.save_post && client_.ReceiveBodyIntoBuffer();
        const std::string form = net::PercentDecode(request_.body);
        const bool fits = client_.KeyOf(url).size() + request_.body.size() < net::kMaxUrl;
        const bool clean = std::none_of(
            form.begin(), form.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
        storing = storing && fits && clean;
        if (storing)
            url.append(1, url.find('?') == std::string::npos ? '?' : '&').append(request_.body);
    }
    storing = storing && relay_.OpenTempFile();
    relay_.SetTee(storing);
    const int result = PlainRelay(not_modified);
    const net::HttpMessageBuffer& response = response_reader_.Buffer();
    const int status = response_reader_.StatusCode();
    const int flags = StoreFlagsFor(status, mode);
    if (storing && result == 1 && flags >= 0 && relay_.TempStream() != nullptr &&
        response_reader_.State() == net::kMessageComplete) {
        store::ReceivedObject job;
        job.header_length = static_cast<std::int64_t>(response.header_length);
        job.content_length = response.content_length;
        // The browser has its answer already; a store that failed is only reported.
        if (context_.store.Commit(url, relay_.TempStream(), job, static_cast<unsigned>(flags))
                .record == nullptr) {
            context_.monitor.StoreFailed(client_.Row(), url);
        }
    }
    // The temporary file stays open for the next answer to store (opening it empties it):
    // closing a file emptied by truncation makes the file system write its old blocks out.
    relay_.SetTee(false);
    return result;
}

int ProxyRelay::PlainRelay(bool* not_modified) {
    if (relay_.TempStream() == nullptr) relay_.SetTee(false);
    const OriginAnswer answer = RelayBodyAndReadHeader();
    const net::HttpMessageBuffer& response = response_reader_.Buffer();
    if (answer == OriginAnswer::kGarbled) {
        client_.SendClosingAnswer({response.raw.data(), response.filled});
        CloseRelay();
        return -1;
    }
    if (answer != OriginAnswer::kResponse) {
        client_.SendClosingAnswer(RelayFailedPage(client_.OwnAddressText(), request_.target));
        CloseRelay();
        return -1;
    }
    client_.Status(kColumnState, "Sending to Client");
    const int status = response_reader_.StatusCode();
    const bool suppress = not_modified != nullptr && status == 304;
    bool ok = true;
    if (!suppress) SendRelayedResponseHeader(ok);
    ok = ok && PassResponse(suppress);
    if (!ok || !request_.keep_alive || !response.keep_alive || status == 301 || status == 302) {
        client_.Status(kColumnState, "Close to Server");
        CloseRelay();
        request_.keep_alive = false;
    }
    if (not_modified != nullptr) *not_modified = !suppress;
    return ok ? 1 : -1;
}

void ProxyRelay::SendRelayedResponseHeader(bool& ok) {
    const net::HttpMessageBuffer& response = response_reader_.Buffer();
    std::string out(FirstLine(response.Header()));
    ForEachHeaderLine(response.Header(), [&](std::string_view line) {
        if (!IsConnectionLine(line)) out.append(line);
    });
    // A connection this side will close is never announced as kept.
    const bool keep = response.keep_alive && request_.keep_alive;
    // Inside an intercepted CONNECT the browser takes this server for the origin.
    out.append(client_.tunnel_origin_.empty() ? "Proxy-Connection: " : "Connection: ");
    out.append(keep ? "Keep-Alive\r\n" : "Close\r\n");
    out.append("\r\n");
    out.append(response_reader_.TakePending());
    ok = client_.SendToClient(out);
}

bool ProxyRelay::PassResponse(bool suppress) {
    while (response_reader_.State() != net::kMessageComplete) {
        if (response_reader_.State() < 0) return false;
        client_.Status(kColumnState, "Recieving from Server");
        if (!WaitForOrigin()) return false;
        net::ChannelCode code = net::ChannelCode::kOk;
        if (response_reader_.Step(code) < 0) return false;
        client_.Status(kColumnState, "Sending to Client");
        const std::string block = response_reader_.TakePending();
        if (!suppress && !block.empty() && !client_.SendToClient(block)) return false;
    }
    return true;
}

// Waits up to GetTimeout for the origin to send something (or close), giving up at once when
// the browser leaves.
bool ProxyRelay::WaitForOrigin() {
    const auto deadline =
        Clock::now() + std::chrono::seconds(std::max(1, context_.settings.get_timeout));
    while (true) {
        if (relay_.HeldBackBytes() > 0) return true;
        const int peek = relay_.Peek(kPollStepUs);
        if (peek != 0) return true;  // data, close or error: the reader's next step sees it
        if (client_.ClientGone() || Clock::now() >= deadline) return false;
    }
}

ProxyRelay::OriginAnswer ProxyRelay::RelayBodyAndReadHeader() {
    // A kept origin connection may have been closed by the origin meanwhile: one fresh try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool streamed_body = request_.body_left > 0;
        if (ConnectAndSendRequest() != net::ChannelCode::kOk) return OriginAnswer::kNone;
        const bool reused = relay_.WasReused();
        char block[kRelayBlock];
        while (request_.body_left > 0) {
            client_.Status(kColumnState, "Receive more data");
            const std::size_t want =
                std::min<std::size_t>(sizeof block, static_cast<std::size_t>(request_.body_left));
            const long count = client_.ReceiveFromClient(block, want);
            if (count == 0) return OriginAnswer::kNone;
            request_.body_left -= count;
            client_.Status(kColumnState, "Sending to Server");
            net::ChannelCode code = net::ChannelCode::kOk;
            if (!relay_.SendAll(block, static_cast<std::size_t>(count), code)) {
                return OriginAnswer::kNone;
            }
        }
        client_.Status(kColumnState, "Receiving from Server");
        const OriginAnswer answer = ReadResponseHeader();
        if (answer == OriginAnswer::kSilent && reused && !streamed_body) {
            CloseRelay();
            continue;
        }
        return answer;
    }
    return OriginAnswer::kNone;
}

ProxyRelay::OriginAnswer ProxyRelay::ReadResponseHeader() {
    response_reader_.Reset(net::kScanHeader);
    response_reader_.TakePending();
    response_reader_.ExpectNoBody(request_.kind == net::kHeadRequest);
    const auto deadline =
        Clock::now() + std::chrono::seconds(std::max(1, context_.settings.get_timeout));
    client_.Status(kColumnState, "Checking Header");
    while (true) {
        const int polled = response_reader_.Poll(kPollStepUs);
        if (polled == 1) {
            return response_reader_.Kind() == net::kResponse ? OriginAnswer::kResponse
                                                             : OriginAnswer::kNone;
        }
        if (polled < 0 || client_.ClientGone() || Clock::now() >= deadline) break;
    }
    client_.Status(kColumnState, "Receive Error");
    return response_reader_.Buffer().filled > 0 ? OriginAnswer::kGarbled : OriginAnswer::kSilent;
}

net::TlsTransport& ProxyRelay::Tls() {
    return static_cast<net::TlsTransport&>(relay_.transport());
}

net::ChannelCode ProxyRelay::ConnectOrigin(const std::string& url) {
    client_.Status(kColumnState, "ResolvServerAddr");
    // https goes straight to the origin: an intercepted CONNECT is never one through a proxy.
    const bool secure = url.starts_with("https://");
    relay_.SetProxy(secure ? nullptr : &context_.settings.http_proxy,
                    secure ? kHttpsPort : net::kHttpPort);
    relay_.DecideRoute(url);
    if (relay_.TargetAddress() == 0) return net::ChannelCode::kHostUnknown;
    if (IsLoopToSelf()) return net::ChannelCode::kConnectFailed;
    if (secure) {
        std::string host;
        const int port = net::GetHostAndPort(url, host);
        Tls().Prepare(std::move(host), port == 0 ? kHttpsPort : port, true);
    } else {
        Tls().PreparePlain();
    }
    // A kept connection is taken by address; it must also speak to the same server.
    if (!relay_.IsClosed() && Tls().OpenKey() != Tls().PreparedKey()) CloseRelay();
    client_.Status(kColumnState, "Connecting to Server");
    return ConnectRelay();
}

bool ProxyRelay::MayIntercept(int port) const {
    const net::ProxySetting& upstream = context_.settings.https_proxy;
    return TunnelPortAllowed(port) && (util::Trim(upstream.host).empty() || upstream.port == 0);
}

net::ChannelCode ProxyRelay::OpenSecureOrigin(const std::string& host, int port) {
    CloseRelay();
    return ConnectOrigin("https://" + host + ":" + std::to_string(port) + "/");
}

net::CertificateProblem ProxyRelay::CertificateProblem() {
    return Tls().Problem();
}

net::ChannelCode ProxyRelay::ConnectAndSendRequest() {
    const net::ChannelCode code = ConnectOrigin(request_.target);
    if (code != net::ChannelCode::kOk) return code;
    client_.Status(kColumnState, "Connected to Server");
    const std::string header = BuildRelayRequest();
    if (header.size() > kRelayHeaderLimit) return net::ChannelCode::kSendFailed;
    client_.Status(kColumnState, "Sending to Server");
    net::ChannelCode send_code = net::ChannelCode::kOk;
    if (!relay_.SendAll(header.data(), header.size(), send_code) ||
        !relay_.SendAll(request_.body.data(), request_.body.size(), send_code)) {
        CloseRelay();
        return net::ChannelCode::kSendFailed;
    }
    return net::ChannelCode::kOk;
}

net::ChannelCode ProxyRelay::ConnectRelay() {
    net::ChannelCode code = relay_.Connect(relay_.TargetAddress(), relay_.TargetPort(), true);
    if (code != net::ChannelCode::kOk || relay_.WasReused()) return code;
    const auto deadline =
        Clock::now() + std::chrono::seconds(std::max(1, context_.settings.get_timeout));
    while (true) {
        const int ready = relay_.Wait(false, true, kPollStepUs);
        if (ready > 0) {
            code = relay_.transport().Established(relay_.Socket());
            break;
        }
        if (ready < 0 || client_.ClientGone()) {
            code = net::ChannelCode::kConnectFailed;
            break;
        }
        if (Clock::now() >= deadline) {
            code = net::ChannelCode::kTimedOut;
            break;
        }
    }
    if (code == net::ChannelCode::kOk) {
        BoundSends(relay_.Socket(), context_.settings.get_timeout);
    } else {
        CloseRelay();
    }
    return code;
}

std::string ProxyRelay::BuildRelayRequest() const {
    const std::string_view first = FirstLine(request_.header);
    const std::size_t space = first.find(' ');
    std::size_t rest = space == std::string_view::npos ? first.size() : space + 1;
    while (rest < first.size() && !util::IsWhite(static_cast<unsigned char>(first[rest]))) ++rest;
    std::string out(first.substr(0, space == std::string_view::npos ? first.size() : space + 1));
    out.append(relay_.RequestTarget(request_.target));
    out.append(first.substr(rest));
    ForEachHeaderLine(request_.header, [&](std::string_view line) {
        if (!IsConnectionLine(line)) out.append(line);
    });
    if (request_.keep_alive) {
        out.append(relay_.ViaProxy() ? "Proxy-Connection:" : "Connection:");
        out.append(" Keep-Alive\r\n");
    }
    out.append("\r\n");
    return out;
}

// A request for this server's own port that no command took must not be relayed to itself:
// each hop would hold another worker until the pool is exhausted.
bool ProxyRelay::IsLoopToSelf() const {
    const std::uint32_t target = relay_.TargetAddress();
    return relay_.TargetPort() == context_.listen_port.load() &&
           (target == client_.LocalAddress() || target == net::kLoopbackAddress ||
            target == context_.settings.bind_address);
}

void ProxyRelay::CloseRelay() {
    if (!relay_.IsClosed()) relay_.Close();
}

bool ProxyRelay::TunnelPortAllowed(int port) const {
    const std::vector<int>& more = context_.settings.connect_ports;
    return port == kHttpsPort || std::find(more.begin(), more.end(), port) != more.end();
}

// A tunnel that carried nothing either way for this long is closed: an idle browser tunnel
// must not hold a worker. GetTimeout, or without one the server's own keep-alive time.
std::chrono::milliseconds ProxyRelay::TunnelIdleLimit() const {
    const int seconds = context_.settings.get_timeout > 0
                            ? context_.settings.get_timeout
                            : std::max<int>(1, context_.settings.keep_alive);
    return std::chrono::seconds(seconds);
}

// CONNECT host:port: a tunnel to the origin (or through the upstream https proxy) passing
// bytes both ways until either side closes or the tunnel stays idle. Only ports of TLS
// services may be reached, so that the tunnel is no way around the proxy for other
// protocols.
int ProxyRelay::Tunnel(std::uint32_t mode) {
    const std::string& target = request_.target;
    const std::size_t colon = target.rfind(':');
    const std::string host = target.substr(0, colon);
    int port = colon == std::string::npos ? kHttpsPort : std::atoi(target.c_str() + colon + 1);
    if (!TunnelPortAllowed(port)) {
        client_.SendClosingAnswer(ProhibitedPage("403"));
        return kAnswerClose;
    }
    const net::ProxySetting& upstream = context_.settings.https_proxy;
    const bool via_proxy = !util::Trim(upstream.host).empty() && upstream.port != 0;
    const std::uint32_t address =
        net::ResolveHost(via_proxy ? upstream.host.c_str() : host.c_str());
    if (via_proxy) port = upstream.port;
    const bool self = port == context_.listen_port.load() &&
                      (address == client_.LocalAddress() || address == net::kLoopbackAddress);
    CloseRelay();
    Tls().PreparePlain();  // the browser's own TLS passes through
    bool ok = ModeBase(mode) != kModeLocal && address != 0 && port > 0 && port < 65536 && !self &&
              relay_.Connect(address, port, false) == net::ChannelCode::kOk;
    if (!ok) {
        client_.SendClosingAnswer(RelayFailedPage(client_.OwnAddressText(), request_.target));
        CloseRelay();
        return kAnswerClose;
    }
    BoundSends(relay_.Socket(), context_.settings.get_timeout);
    net::ChannelCode code = net::ChannelCode::kOk;
    if (via_proxy) {
        ok = relay_.SendAll(request_.header.data(), request_.header.size(), code);
    } else {
        ok = client_.SendToClient("HTTP/1.0 200 Connection established\r\n\r\n");
    }
    if (ok && !request_.body.empty())
        ok = relay_.SendAll(request_.body.data(), request_.body.size(), code);
    if (ok) PassTunnel();
    CloseRelay();
    return kAnswerClose;
}

void ProxyRelay::PassTunnel() {
    char block[kRelayBlock];
    net::ChannelCode code = net::ChannelCode::kOk;
    // Bytes the client sent right behind its request (a TLS hello) were handed back.
    while (client_.HeldBackBytes() > 0) {
        const net::Received received = client_.Receive(block, sizeof block);
        if (!received.Got() ||
            !relay_.SendAll(block, static_cast<std::size_t>(received.count), code)) {
            return;
        }
    }
    const auto idle = TunnelIdleLimit();
    auto last_traffic = Clock::now();
    while (true) {
        const auto left = idle - std::chrono::duration_cast<std::chrono::milliseconds>(
                                     Clock::now() - last_traffic);
        if (left.count() <= 0) return;
        pollfd fds[2] = {{client_.Socket(), POLLIN, 0}, {relay_.Socket(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return;
        if (ready <= 0) continue;
        for (int side = 0; side < 2; ++side) {
            if (fds[side].revents == 0) continue;
            net::TCPIPClass& from = side == 0 ? static_cast<net::TCPIPClass&>(client_) : relay_;
            net::TCPIPClass& to = side == 0 ? static_cast<net::TCPIPClass&>(relay_) : client_;
            const net::Received received = from.Receive(block, sizeof block);
            if (!received.Got() ||
                !to.SendAll(block, static_cast<std::size_t>(received.count), code)) {
                return;
            }
        }
        last_traffic = Clock::now();
    }
}

}  // namespace kelvra::server
