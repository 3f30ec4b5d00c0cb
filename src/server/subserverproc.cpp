#include "server/subserverproc.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "net/result_codes.h"
#include "net/tls.h"
#include "net/url.h"
#include "server/answers.h"
#include "server/servercommand.h"
#include "util/header.h"

namespace kelvra::server {
namespace {

// ReceiveAvailable: the client closed its side, or the receive failed.
constexpr int kReceiveClosed = -1;
constexpr int kReceiveFailed = -2;

bool IsConnect(const ClientRequest& request) {
    return request.kind == net::kOtherRequest && request.header.starts_with("CONNECT ");
}

// An HTTP/1.1 request without a Connection field (RFC 9112 §9.3).
bool KeptByDefault(std::string_view header) {
    const std::string_view first = header.substr(0, header.find_first_of("\r\n"));
    return first.ends_with(" HTTP/1.1") &&
           util::FindHeader(header, "Connection:").data() == nullptr;
}

// host and port of a CONNECT target "host:port" (443 when no port is named).
std::pair<std::string, int> ConnectTarget(const std::string& target) {
    const std::size_t colon = target.rfind(':');
    if (colon == std::string::npos) return {target, net::kHttpsPort};
    return {target.substr(0, colon), std::atoi(target.c_str() + colon + 1)};
}

}  // namespace

SubServerProc::SubServerProc(ServerContext& context)
    : net::TCPIPClass(std::make_unique<net::TlsTransport>()),
      context_(context),
      proxy_relay_(*this, request_, context) {
    SetTee(false);  // requests are never kept in a file
    request_reader_.AttachSink(this);
}

void SubServerProc::AttachSocket(int fd, int level, std::uint32_t mode) {
    {
        std::lock_guard lock(abort_mutex_);
        aborting_ = false;
        AdoptSocket(fd);
    }
    SetTimeout(0);
    drained_ = false;
    level_ = level;
    mode_ = mode;
    tunnel_origin_.clear();
    local_address_.reset();
    BeginWait();
}

// Asked only by the answers that name the server itself.
std::uint32_t SubServerProc::LocalAddress() const {
    if (!local_address_) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        local_address_ = ::getsockname(Socket(), reinterpret_cast<sockaddr*>(&local), &length) == 0
                             ? local.sin_addr.s_addr
                             : 0;
    }
    return *local_address_;
}

void SubServerProc::Abort() {
    std::lock_guard lock(abort_mutex_);
    aborting_ = true;
    if (!IsClosed()) Shutdown();
    abort_cv_.notify_all();
}

void SubServerProc::Status(int column, std::string_view text) {
    context_.monitor.StatusText(row_, column, text);
}

void SubServerProc::MayBlock() {
    if (seat_ != nullptr) seat_->LetOthersWatch();
}

ConnectionFate SubServerProc::ServeReady(WorkerSeat& seat) {
    seat_ = &seat;
    const ConnectionFate fate = ServeRequests();
    seat_ = nullptr;
    return fate;
}

ConnectionFate SubServerProc::ServeRequests() {
    while (true) {
        const RequestProgress progress = ReadRequest();
        if (progress == RequestProgress::kIncomplete) {
            if (Clock::now() < deadline_) return ConnectionFate::kWaiting;
            break;
        }
        if (progress == RequestProgress::kFailed) break;
        Status(kColumnState, "Connected to Client");
        TakeRequest();
        Status(kColumnRequest, request_.target);
        Status(kColumnState, "Recognized Method");
        std::uint32_t request_mode = mode_;
        // A mode the server does not know is a stopped server: nothing is answered.
        if (!IsServingMode(request_mode) || !ApplyProhibit(request_mode)) break;
        if (context_.settings.keep_alive == 0) request_.keep_alive = false;
        const int result = AnswerRequest(request_mode);
        if (result < 1 || !request_.keep_alive) break;
        Status(kColumnState, "KeepAlive");
        Status(kColumnRequest, {});
        BeginWait();
        // Requests that came with this one are served at once. A browser sends its next one
        // only after it read the answer, which it has seldom done yet: a look at the socket
        // would nearly always find nothing, so the connection waits in the set right away
        // when nothing is left unread. (TLS may hold bytes the set cannot see: there the
        // worker looks.)
        if (HeldBackBytes() == 0 && drained_ && tunnel_origin_.empty()) {
            return ConnectionFate::kWaiting;
        }
    }
    CloseConnection();
    return ConnectionFate::kClosed;
}

// A kept connection waits "KeepAlive" seconds for the next request; the first request gets at
// least a second, so a KeepAlive of 0 still lets a browser send it.
void SubServerProc::BeginWait() {
    request_reader_.Reset(net::kScanHeader);
    deadline_ = Clock::now() + WaitTime();
}

std::chrono::seconds SubServerProc::WaitTime() const {
    return std::chrono::seconds(std::max<long>(1, context_.settings.keep_alive));
}

int SubServerProc::ReceiveAvailable() {
    const net::HttpMessageBuffer& buffer = request_reader_.Buffer();
    char block[net::kRawAreaSize];
    const long count = ReceiveWithoutWaiting(block, sizeof block - buffer.filled);
    if (count == -2) return 0;
    if (count == 0) return kReceiveClosed;
    if (count < 0) return kReceiveFailed;
    Unread(block, static_cast<std::size_t>(count));
    return 1;
}

// A receive that filled the buffer may have left bytes in the socket that no new edge of the
// epoll set will report.
long SubServerProc::ReceiveWithoutWaiting(char* buffer, std::size_t capacity) {
    const long count = transport().Receive(Socket(), buffer, capacity, /*dont_wait=*/true);
    drained_ = count == -2 || (count > 0 && static_cast<std::size_t>(count) < capacity);
    return count;
}

std::size_t SubServerProc::BodyInArea() const {
    const net::HttpMessageBuffer& buffer = request_reader_.Buffer();
    if (buffer.chunked || buffer.content_length <= 0) return 0;
    return static_cast<std::size_t>(std::min<std::int64_t>(
        buffer.content_length,
        static_cast<std::int64_t>(net::kRawAreaSize - buffer.header_length)));
}

// Body bytes go straight into the request area behind the header, never past the body, so the
// next request's bytes stay with the connection.
SubServerProc::RequestProgress SubServerProc::ReadBodyInArea() {
    net::HttpMessageBuffer& buffer = request_reader_.Buffer();
    const std::size_t wanted = BodyInArea();
    while (buffer.filled - buffer.header_length < wanted) {
        char* at = buffer.raw.data() + buffer.filled;
        const std::size_t missing = wanted - (buffer.filled - buffer.header_length);
        long count = 0;
        if (HeldBackBytes() > 0) {
            // Held-back bytes are handed over whole, without touching the socket.
            count = Receive(at, missing).count;
        } else {
            count = ReceiveWithoutWaiting(at, missing);
            if (count == -2) return RequestProgress::kIncomplete;
            // A client that stopped sending has its request answered with what came; the
            // answer's own reads see the close.
            if (count <= 0) return RequestProgress::kComplete;
        }
        buffer.filled += static_cast<std::size_t>(count);
    }
    return RequestProgress::kComplete;
}

// The header, and the body bytes that fit beside it, are read here without waiting, so a client
// that trickles or stalls holds no worker; the whole of them must arrive within the keep-alive
// time after the first byte.
SubServerProc::RequestProgress SubServerProc::ReadRequest() {
    while (request_reader_.State() >= 0 && request_reader_.State() < net::kHeaderComplete) {
        if (HeldBackBytes() == 0) {
            const bool first = request_reader_.Buffer().filled == 0;
            const int received = ReceiveAvailable();
            if (received == 0) return RequestProgress::kIncomplete;
            if (received == kReceiveFailed) return RequestProgress::kFailed;
            if (first) deadline_ = Clock::now() + WaitTime();
        }
        // Takes the bytes handed back, or sees the client's close (a header cut after a line
        // end still counts as a request).
        net::ChannelCode code = net::ChannelCode::kOk;
        request_reader_.Step(code);
    }
    const int kind = request_reader_.Kind();
    if (request_reader_.State() < 0 || kind < net::kGetRequest || kind > net::kOtherRequest) {
        return RequestProgress::kFailed;
    }
    return ReadBodyInArea();
}

void SubServerProc::TakeRequest() {
    net::HttpMessageBuffer& buffer = request_reader_.Buffer();
    request_ = ClientRequest{};
    request_.kind = request_reader_.Kind();
    request_.header.assign(buffer.raw.data(), buffer.header_length);
    request_.target = buffer.status_token;
    request_.keep_alive = buffer.keep_alive;
    // Inside an intercepted CONNECT the browser names paths only; the host is the tunnel's.
    if (!tunnel_origin_.empty() && request_.target.starts_with('/')) {
        request_.target.insert(0, tunnel_origin_);
        // It takes this server for the origin: an HTTP/1.1 request is kept unless it says
        // otherwise.
        if (KeptByDefault(request_.header)) request_.keep_alive = true;
    }
    request_.content_length = buffer.chunked ? -1 : buffer.content_length;
    const std::size_t after_header = buffer.filled - buffer.header_length;
    const char* rest = buffer.raw.data() + buffer.header_length;
    if (request_.content_length < 0) {
        // A request without a length has no body: what follows is the next request. A chunked
        // request body cannot be told apart from it, so such a connection is not kept.
        if (buffer.chunked) request_.keep_alive = false;
        if (after_header > 0 && request_reader_.State() != net::kMessageComplete) {
            Unread(rest, after_header);
        }
    } else {
        const std::size_t own = static_cast<std::size_t>(std::min<std::int64_t>(
            request_.content_length, static_cast<std::int64_t>(after_header)));
        request_.body.assign(rest, own);
        request_.body_left = request_.content_length - static_cast<std::int64_t>(own);
    }
    request_reader_.Reset(net::kScanHeader);
}

bool SubServerProc::ApplyProhibit(std::uint32_t& request_mode) {
    util::CaptureTable captures;
    const ProhibitEntry* entry = context_.prohibit.Find(request_.target, captures);
    if (entry == nullptr) return true;
    if (HasCaptures(captures) && entry->action == ProhibitAction::kText) {
        const std::string subject(MatchSubject(request_.target));
        if (!Rewrite(request_.target, entry->text, subject, captures)) {
            SendClosingAnswer(ProhibitedPage("200"));
            return false;
        }
    } else if (entry->action != ProhibitAction::kNone) {
        static_cast<void>(RefusalAnswer(*entry));  // always kAnswerClose
        return false;
    }
    request_mode = ApplyModeChange(request_mode, entry->mode_change);
    if (entry->delay_ms > 0 && !PauseFor(entry->delay_ms)) return false;
    return true;
}

int SubServerProc::AnswerRequest(std::uint32_t request_mode) {
    const bool local = ModeBase(request_mode) == kModeLocal;
    switch (request_.kind) {
        case net::kGetRequest:
        case net::kHeadRequest:
            if (request_.kind == net::kGetRequest && request_.content_length <= 0 &&
                TryCommands(request_mode)) {
                return kAnswerClose;
            }
            if (local) return AnswerFromSpool(request_.kind == net::kGetRequest);
            break;
        case net::kPostRequest:
            if (local) return AnswerFromSpool(true);
            break;
        case net::kOtherRequest:
            if (IsConnect(request_)) return Intercept(request_mode);
            break;
        default:
            return kAnswerClose;
    }
    MayBlock();
    return proxy_relay_.Relay(request_mode);
}

bool SubServerProc::Intercepts(std::uint32_t request_mode, const std::string& host, int port) {
    const std::vector<int>& plain = context_.settings.tunnel_levels;
    if (context_.settings.authority_directory.empty() ||
        std::find(plain.begin(), plain.end(), level_) != plain.end()) {
        return false;
    }
    switch (ModeBase(request_mode)) {
        case kModeLocal:
            return proxy_relay_.TunnelPortAllowed(port) && HoldsHttpsObjects(host, port);
        case kModeProxy2:
        case kModeProxy3:
            return proxy_relay_.MayIntercept(port);
        default:
            return false;  // Proxy Mode stores nothing: the browser's TLS passes untouched
    }
}

// The origin is reached (its certificate checked) before the browser is told the tunnel
// stands; false when the CONNECT was answered with the failure.
bool SubServerProc::OriginReached(std::uint32_t request_mode, const std::string& host, int port) {
    if (ModeBase(request_mode) == kModeLocal) return true;
    const net::ChannelCode code = proxy_relay_.OpenSecureOrigin(host, port);
    if (code == net::ChannelCode::kOk) return true;
    if (code == net::ChannelCode::kCertificateRefused) {
        SendClosingAnswer(CertificateRefusedPage(
            request_.target, net::CertificateProblemText(proxy_relay_.CertificateProblem())));
    } else {
        SendClosingAnswer(RelayFailedPage(OwnAddressText(), request_.target));
    }
    return false;
}

// The browser waits for the answer to its CONNECT before it starts TLS; bytes already behind
// the request are no TLS hello of ours to answer, so such a connection is closed.
int SubServerProc::Intercept(std::uint32_t request_mode) {
    // The origin, the first use of the local authority and the handshake may all take long.
    MayBlock();
    if (!tunnel_origin_.empty()) {
        // A tunnel inside the tunnel has no origin to speak for.
        SendClosingAnswer(ProhibitedPage("403"));
        return kAnswerClose;
    }
    const auto [host, port] = ConnectTarget(request_.target);
    if (!Intercepts(request_mode, host, port)) return proxy_relay_.Relay(request_mode);
    net::LocalAuthority* authority = context_.authority.Get();
    SSL_CTX* identity = authority != nullptr ? authority->ServerContextFor(host) : nullptr;
    if (identity == nullptr) {
        SendClosingAnswer(RelayFailedPage(OwnAddressText(), request_.target));
        return kAnswerClose;
    }
    if (!OriginReached(request_mode, host, port)) return kAnswerClose;
    if (HeldBackBytes() > 0 || !SendToClient("HTTP/1.0 200 Connection established\r\n\r\n")) {
        return kAnswerClose;
    }
    Status(kColumnState, "TLS Handshake");
    auto& tls = static_cast<net::TlsTransport&>(transport());
    // The handshake holds this worker: a browser that does not speak TLS at once gets no more
    // time than it has for a request.
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(WaitTime());
    if (tls.Accept(Socket(), identity, static_cast<int>(limit.count())) != net::ChannelCode::kOk) {
        return kAnswerClose;
    }
    tunnel_origin_ = "https://" + host;
    if (port != net::kHttpsPort) tunnel_origin_.append(":").append(std::to_string(port));
    request_.keep_alive = true;
    return kAnswerKept;
}

void SubServerProc::Drop() {
    proxy_relay_.CloseRelay();
    std::lock_guard lock(abort_mutex_);
    if (!IsClosed()) Close();
}

void SubServerProc::CloseConnection() {
    Drop();
    Status(kColumnState, "Closed");
}

// A look at the socket without waiting: only a close or an error means the client is gone.
bool SubServerProc::ClientGone() {
    if (IsClosed()) return true;
    if (HeldBackBytes() > 0) return false;
    return transport().Peek(Socket()) < 0;
}

// Most answers fit the socket's buffer at once; only a send that would wait for the client to
// read lets other workers watch meanwhile. Inside an intercepted tunnel TLS writes whole
// records, so there every send counts as one that may wait.
bool SubServerProc::SendToClient(std::string_view head, std::string_view body) {
    if (seat_ != nullptr && tunnel_origin_.empty() && !IsClosed()) {
        const long sent = SendWithoutWaiting(head, body);
        if (sent < 0) return false;
        const std::size_t from_head = std::min(head.size(), static_cast<std::size_t>(sent));
        head.remove_prefix(from_head);
        body.remove_prefix(static_cast<std::size_t>(sent) - from_head);
        if (head.empty() && body.empty()) return true;
    }
    MayBlock();
    net::ChannelCode code = net::ChannelCode::kOk;
    if (body.empty()) return SendAll(head.data(), head.size(), code);
    // One buffer, so that no small segment (or TLS record) of its own waits for an ACK.
    std::string joined(head);
    joined.append(body);
    return SendAll(joined.data(), joined.size(), code);
}

long SubServerProc::SendWithoutWaiting(std::string_view head, std::string_view body) {
    // sendmsg only reads the parts; iovec has no const form.
    iovec parts[] = {{const_cast<char*>(head.data()), head.size()},
                     {const_cast<char*>(body.data()), body.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = std::size(parts);
    ssize_t sent;
    do {
        sent = ::sendmsg(Socket(), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    return static_cast<long>(sent);
}

void SubServerProc::SendClosingAnswer(std::string_view bytes) {
    static_cast<void>(SendToClient(bytes));
}

// Sleeps, but an Abort wakes it: false then.
bool SubServerProc::PauseFor(long milliseconds) {
    MayBlock();
    std::unique_lock lock(abort_mutex_);
    return !abort_cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [this] { return aborting_; });
}

}  // namespace kelvra::server
