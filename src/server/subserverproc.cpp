#include "server/subserverproc.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "engine/net/result_codes.h"
#include "engine/net/url.h"
#include "server/answers.h"
#include "server/servercommand.h"

namespace kelvra::server {
namespace {

using Clock = std::chrono::steady_clock;

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

SubServerProc::SubServerProc(int row, ServerContext& context) : row_(row), context_(context) {
    SetTee(false);  // requests are never kept in a file
    request_reader_.AttachSink(this);
    relay_.SetProxy(&context_.settings.http_proxy, net::kHttpPort);
    relay_.SetTimeout(std::max(1, context_.settings.get_timeout));
    relay_.SetTee(false);
    response_reader_.AttachSink(&relay_);
}

SubServerProc::~SubServerProc() {
    CloseRelay();
}

void SubServerProc::AttachSocket(int fd, int level) {
    {
        std::lock_guard lock(abort_mutex_);
        aborting_ = false;
        AdoptSocket(fd);
    }
    SetTimeout(0);
    level_ = level;
    local_address_.reset();
}

// Asked only by the answers that name the server itself.
std::uint32_t SubServerProc::LocalAddress() const {
    if (!local_address_) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        local_address_ =
            ::getsockname(Socket(), reinterpret_cast<sockaddr*>(&local), &length) == 0
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

std::uint32_t SubServerProc::ServeConnection(std::uint32_t mode) {
    mode_ = mode;
    while (true) {
        Status(kColumnRequest, {});
        request_reader_.Reset(net::kScanHeader);
        if (!WaitForRequest()) break;
        Status(kColumnState, "Connected to Client");
        if (!ReadRequestHeader()) break;
        TakeRequest();
        Status(kColumnRequest, request_.target);
        Status(kColumnState, "Recognized Method");
        std::uint32_t request_mode = mode_;
        if (!ApplyProhibit(request_mode)) break;
        if (context_.settings.keep_alive == 0) request_.keep_alive = false;
        const int result = AnswerRequest(request_mode);
        if (result < 1 || !request_.keep_alive) break;
        Status(kColumnState, "KeepAlive");
    }
    CloseConnection();
    return mode_;
}

// A kept connection waits "KeepAlive" seconds for the next request; the first request gets at
// least a second, so a KeepAlive of 0 still lets a browser send it.
bool SubServerProc::WaitForRequest() {
    if (HeldBackBytes() > 0) return true;
    const long seconds = std::max<long>(1, context_.settings.keep_alive);
    return Peek(seconds * 1000000L) == 1;
}

// The whole header must arrive within the keep-alive time, so a client that trickles or
// stalls cannot hold the worker.
bool SubServerProc::ReadRequestHeader() {
    const long seconds = std::max<long>(1, context_.settings.keep_alive);
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    // The wait saw bytes, so the first read does not block; only a partial header waits.
    int code = 0;
    request_reader_.Step(code);
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        const int polled = request_reader_.Poll(left.count());
        if (polled < 0) return false;
        if (polled == 1) break;
    }
    const int kind = request_reader_.Kind();
    return kind >= net::kGetRequest && kind <= net::kOtherRequest;
}

void SubServerProc::TakeRequest() {
    net::HttpMessageBuffer& buffer = request_reader_.Buffer();
    request_ = Request{};
    request_.kind = request_reader_.Kind();
    request_.header.assign(buffer.raw.data(), buffer.header_length);
    request_.target = buffer.status_token;
    request_.keep_alive = buffer.keep_alive;
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
    store::CaptureTable captures;
    const ProhibitEntry* entry = context_.prohibit.Find(request_.target, captures);
    if (entry == nullptr) return true;
    if (HasCaptures(captures) && entry->action == ProhibitAction::kText) {
        const std::string subject(MatchSubject(request_.target));
        if (!Rewrite(request_.target, entry->text, subject, captures)) {
            SendToClient(ProhibitedPage("200"));
            return false;
        }
    } else if (entry->action != ProhibitAction::kNone) {
        RefusalAnswer(*entry);
        return false;
    }
    request_mode = ApplyModeChange(request_mode, entry->mode_change);
    if (entry->delay_ms > 0 && !PauseFor(entry->delay_ms)) return false;
    return true;
}

int SubServerProc::AnswerRequest(std::uint32_t request_mode) {
    if (!IsServingMode(request_mode)) return kAnswerClose;
    const bool local = ModeBase(request_mode) == kModeLocal;
    switch (request_.kind) {
        case net::kGetRequest:
        case net::kHeadRequest:
            if (request_.kind == net::kGetRequest && request_.content_length <= 0 &&
                TryCommands(request_mode)) {
                return kAnswerClose;
            }
            return local ? AnswerFromSpool(request_.kind == net::kGetRequest) : Relay(request_mode);
        case net::kPostRequest:
            return local ? AnswerFromSpool(true) : Relay(request_mode);
        case net::kOtherRequest:
            return Relay(request_mode);
        default:
            return kAnswerClose;
    }
}

void SubServerProc::CloseConnection() {
    CloseRelay();
    {
        std::lock_guard lock(abort_mutex_);
        if (!IsClosed()) Close();
    }
    Status(kColumnState, "Closed");
}

// A look at the socket without waiting: only a close or an error means the client is gone.
bool SubServerProc::ClientGone() {
    if (IsClosed()) return true;
    if (HeldBackBytes() > 0) return false;
    return transport().Peek(Socket()) < 0;
}

bool SubServerProc::SendToClient(std::string_view bytes) {
    int code = 0;
    return SendAll(bytes.data(), bytes.size(), code);
}

// Sleeps, but an Abort wakes it: false then.
bool SubServerProc::PauseFor(long milliseconds) {
    std::unique_lock lock(abort_mutex_);
    return !abort_cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [this] { return aborting_; });
}

}  // namespace kelvra::server
