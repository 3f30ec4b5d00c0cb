#pragma once
// Hanging up dial-up connections after a crawl. Linux has no dial-up service of the kind the
// program once used: the default service lists no connections, so HangUpAll reports false and
// waits for nothing. The service is an interface so that a platform that has one can plug it in.

#include <chrono>
#include <string>
#include <vector>

namespace kelvra::crawl {

class DialUpService {
  public:
    static constexpr std::size_t kMaxConnections = 10;

    virtual ~DialUpService() = default;
    // False when the service is missing or the connections do not fit kMaxConnections.
    virtual bool Enumerate(std::vector<std::string>& connections) = 0;
    virtual bool HangUp(const std::string& connection) = 0;
};

// The Linux stand-in: no service, no connections.
class NoDialUpService final : public DialUpService {
  public:
    bool Enumerate(std::vector<std::string>& connections) override;
    bool HangUp(const std::string& connection) override;
};

// True when every listed connection was hung up; false with none. After hanging up, waits
// settle for the connections to close.
bool HangUpAll(DialUpService& service,
               std::chrono::milliseconds settle = std::chrono::milliseconds(3000));

}  // namespace kelvra::crawl
