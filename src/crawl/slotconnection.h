#pragma once
// The connection a worker slot owns for the whole crawl: the HTTP client over a transport that
// the scheduler can interrupt, and that refuses to let a transfer stall for ever.
//
// Interruption: every socket of the slot passes through the one transport (the HTTP socket, and
// for FTP the control connection, the data connection and the listening socket of active mode).
// A socket inside a blocking call is known to the transport for the length of that call, so
// Interrupt can shut it down and the call returns at once.
//
// Stall guard: a transfer must deliver at least kProgressBytes within every time-out period
// (the channel's time-out). A peer that trickles bytes slower than that fails the transfer as
// a time-out instead of holding the worker indefinitely; per-receive time-outs alone never fire
// for such a peer. Periods count from the moment an answer is awaited (after the request, and
// anew for every reply of the FTP dialogue): the slot's pause before a request and the connect
// are not the peer's silence.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/inetutils.h"
#include "net/transport.h"

namespace kelvra::crawl {

class SlotTransport final : public net::Transport {
  public:
    static constexpr std::int64_t kProgressBytes = 4096;

    bool Connect(int fd, const sockaddr_in& peer) override;
    net::ChannelCode Established(int fd) override;
    long Send(int fd, const char* data, std::size_t length) override;
    long Receive(int fd, char* data, std::size_t capacity, bool dont_wait) override;
    int Wait(int fd, short events, int timeout_ms) override;
    int Peek(int fd) override;
    int Close(int fd) override;

    // Sets the length of the stall guard's periods (seconds below 1: no guard) and waits for
    // AwaitAnswer to start the first one.
    void ArmStallGuard(int seconds);
    // Starts a new period.
    void AwaitAnswer() override;
    // Makes every blocking call on the slot's sockets return at once, and every later call
    // fail, until Rearm. Safe from any thread.
    void Interrupt();
    void Rearm();

  private:
    using Clock = std::chrono::steady_clock;
    class BlockingCall;

    // Milliseconds left in the current period (-1: no guard); restarts a period that made
    // enough progress.
    long RemainingMs();
    void CountReceived(long bytes);

    net::PlainTransport plain_;
    std::mutex fd_mutex_;        // guards fd_, blocking_ and the shut-down decision
    int fd_ = -1;                // the socket last connected
    std::vector<int> blocking_;  // sockets inside a blocking call now (one entry per call)
    std::atomic<bool> interrupted_{false};
    std::mutex guard_mutex_;
    long period_ms_ = 0;
    bool measuring_ = false;  // a period runs
    Clock::time_point period_end_{};
    std::int64_t period_bytes_ = 0;
};

// The slot's connection: the protocol dispatch of inetutils (http, ftp direct or through the FTP
// proxy) over a transport the scheduler can interrupt.
class SlotConnection final : public net::inetutils {
  public:
    SlotConnection();

    using net::inetutils::Request;
    // The SendRequest of the slot: a channel code, kUnknownScheme for a scheme other than http,
    // https and ftp.
    [[nodiscard]] net::ChannelCode Request(int method, std::string_view url,
                                           const net::ConnectionSetting& setting,
                                           std::string_view extra);
    SlotTransport& transport() { return *transport_; }

    void SetProxies(const net::ProxySetting* http, const net::ProxySetting* ftp,
                    const net::ProxySetting* https) {
        SetEnvironment(http, ftp, https);
    }

  private:
    explicit SlotConnection(std::unique_ptr<SlotTransport> transport);

    SlotTransport* transport_;
};

}  // namespace kelvra::crawl
