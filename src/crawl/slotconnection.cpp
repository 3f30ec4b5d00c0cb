#include "crawl/slotconnection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

namespace kelvra::crawl {

// Registers a socket for the length of one blocking call on it. The registration and the
// interruption check happen under the mutex Interrupt holds, so a call either sees the
// interruption before it blocks or is registered in time to be shut down. The worker removes
// the socket again before it can close it, so Interrupt never touches a closed descriptor.
class SlotTransport::BlockingCall final {
  public:
    BlockingCall(SlotTransport& transport, int fd) : transport_(transport), fd_(fd) {
        std::lock_guard lock(transport_.fd_mutex_);
        entered_ = !transport_.interrupted_;
        if (entered_) transport_.blocking_.push_back(fd_);
    }
    ~BlockingCall() {
        if (!entered_) return;
        std::lock_guard lock(transport_.fd_mutex_);
        std::vector<int>& blocking = transport_.blocking_;
        blocking.erase(std::find(blocking.begin(), blocking.end(), fd_));
    }
    BlockingCall(const BlockingCall&) = delete;
    BlockingCall& operator=(const BlockingCall&) = delete;

    bool entered() const { return entered_; }

  private:
    SlotTransport& transport_;
    int fd_;
    bool entered_ = false;
};

bool SlotTransport::Connect(int fd, const sockaddr_in& peer) {
    {
        std::lock_guard lock(fd_mutex_);
        if (interrupted_) return false;
        fd_ = fd;
    }
    return plain_.Connect(fd, peer);
}

net::ChannelCode SlotTransport::Established(int fd) {
    return plain_.Established(fd);
}

long SlotTransport::Send(int fd, const char* data, std::size_t length) {
    BlockingCall call(*this, fd);
    if (!call.entered()) return -1;
    return plain_.Send(fd, data, length);
}

long SlotTransport::Receive(int fd, char* data, std::size_t capacity, bool dont_wait) {
    if (interrupted_) return -1;
    // With the period used up, report "nothing yet" so the channel waits and times out.
    if (dont_wait && RemainingMs() == 0) return -2;
    long n = -1;
    if (dont_wait) {
        n = plain_.Receive(fd, data, capacity, true);
    } else {
        BlockingCall call(*this, fd);
        if (call.entered()) n = plain_.Receive(fd, data, capacity, false);
    }
    CountReceived(n);
    return interrupted_ ? -1 : n;
}

int SlotTransport::Wait(int fd, short events, int timeout_ms) {
    if (interrupted_) return -1;
    if ((events & POLLIN) != 0) {
        long remaining = RemainingMs();
        if (remaining == 0) return 0;
        if (remaining > 0 && (timeout_ms < 0 || remaining < timeout_ms)) {
            timeout_ms = static_cast<int>(remaining);
        }
    }
    BlockingCall call(*this, fd);
    if (!call.entered()) return -1;
    int result = plain_.Wait(fd, events, timeout_ms);
    return interrupted_ ? -1 : result;
}

int SlotTransport::Peek(int fd) {
    return interrupted_ ? -2 : plain_.Peek(fd);
}

int SlotTransport::Close(int fd) {
    std::lock_guard lock(fd_mutex_);
    if (fd_ == fd) fd_ = -1;
    return plain_.Close(fd);
}

void SlotTransport::ArmStallGuard(int seconds) {
    std::lock_guard lock(guard_mutex_);
    period_ms_ = seconds < 1 ? 0 : seconds * 1000L;
    measuring_ = false;
}

void SlotTransport::AwaitAnswer() {
    std::lock_guard lock(guard_mutex_);
    measuring_ = period_ms_ > 0;
    period_end_ = Clock::now() + std::chrono::milliseconds(period_ms_);
    period_bytes_ = 0;
}

void SlotTransport::Interrupt() {
    std::lock_guard lock(fd_mutex_);
    interrupted_ = true;
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    for (int fd : blocking_) ::shutdown(fd, SHUT_RDWR);
}

void SlotTransport::Rearm() {
    interrupted_ = false;
}

long SlotTransport::RemainingMs() {
    std::lock_guard lock(guard_mutex_);
    if (!measuring_) return -1;
    Clock::time_point now = Clock::now();
    if (period_bytes_ >= kProgressBytes) {
        period_end_ = now + std::chrono::milliseconds(period_ms_);
        period_bytes_ = 0;
    }
    if (now >= period_end_) return 0;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(period_end_ - now);
    return std::max<long>(1, static_cast<long>(left.count()));
}

void SlotTransport::CountReceived(long bytes) {
    if (bytes <= 0) return;
    std::lock_guard lock(guard_mutex_);
    period_bytes_ += bytes;
}

SlotConnection::SlotConnection() : SlotConnection(std::make_unique<SlotTransport>()) {}

SlotConnection::SlotConnection(std::unique_ptr<SlotTransport> transport)
    : inetutils(std::move(transport)), transport_(static_cast<SlotTransport*>(&Tls().Inner())) {}

net::ChannelCode SlotConnection::Request(int method, std::string_view url,
                                         const net::ConnectionSetting& setting,
                                         std::string_view extra) {
    return inetutils::Request(method, url, &setting, extra);
}

}  // namespace kelvra::crawl
