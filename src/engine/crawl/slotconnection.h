#pragma once
// The connection a worker slot owns for the whole crawl: the HTTP client over a transport that
// the scheduler can interrupt, and that refuses to let a transfer stall for ever.
//
// Stall guard: a transfer must deliver at least kProgressBytes within every time-out period
// (the channel's time-out). A peer that trickles bytes slower than that fails the transfer as
// a time-out instead of holding the worker indefinitely; per-receive time-outs alone never fire
// for such a peer.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/net/httputils.h"
#include "engine/net/transport.h"

namespace kelvra::crawl {

class SlotTransport final : public net::Transport {
  public:
    static constexpr std::int64_t kProgressBytes = 4096;

    bool Connect(int fd, const sockaddr_in& peer) override;
    int Established(int fd) override;
    long Send(int fd, const char* data, std::size_t length) override;
    long Receive(int fd, char* data, std::size_t capacity, bool dont_wait) override;
    int Wait(int fd, short events, int timeout_ms) override;
    int Peek(int fd) override;
    int Close(int fd) override;

    // Starts the stall guard's first period; seconds below 1 switch it off.
    void ArmStallGuard(int seconds);
    // Makes every blocking call on the current socket return at once, and every later call
    // fail, until Rearm. Safe from any thread.
    void Interrupt();
    void Rearm();

  private:
    using Clock = std::chrono::steady_clock;
    // Milliseconds left in the current period (-1: no guard); restarts a period that made
    // enough progress.
    long RemainingMs();
    void CountReceived(long bytes);

    net::PlainTransport plain_;
    std::mutex fd_mutex_;
    int fd_ = -1;
    std::atomic<bool> interrupted_{false};
    std::mutex guard_mutex_;
    long period_ms_ = 0;
    Clock::time_point period_end_{};
    std::int64_t period_bytes_ = 0;
};

// The slot's protocol dispatch. Direct ftp:// transfers belong to the FTP client, which this
// build does not have yet: such URLs fail their request (kFtpUnavailable) and end as "Error";
// through a configured FTP proxy they go out as HTTP.
class SlotConnection final : public net::httputils {
  public:
    static constexpr int kFtpUnavailable = -1;

    SlotConnection();

    // The SendRequest of the slot: http:// through the HTTP client; ftp:// and other schemes
    // give kFtpUnavailable / -1.
    int Request(int method, std::string_view url, const net::ConnectionSetting& setting,
                std::string_view extra);
    // After the body: the FTP data connection would be closed here.
    void FinishTransfer();
    SlotTransport& transport() { return *transport_; }

    void SetProxies(const net::ProxySetting* http, const net::ProxySetting* ftp) {
        http_proxy_ = http;
        ftp_proxy_ = ftp;
    }

  private:
    explicit SlotConnection(std::unique_ptr<SlotTransport> transport);

    SlotTransport* transport_;
    const net::ProxySetting* http_proxy_ = nullptr;
    const net::ProxySetting* ftp_proxy_ = nullptr;
};

}  // namespace kelvra::crawl
