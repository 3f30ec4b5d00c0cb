#pragma once
// How the server's workers report to the application: status texts per worker row (the monitor
// window or, in the console, lines printed with -v), mode changes made by a browser, and the two
// requests a browser can make of the program. Called from worker threads; implementations must
// be thread-safe and must not call back into the server.

#include <cstdint>
#include <string_view>

namespace kelvra::server {

enum StatusColumn {
    kColumnRequest = 0,  // "Port Accepted", "Denied by filter" or the request target
    kColumnState = 1,    // the worker's state text
};

class ServerMonitor {
  public:
    virtual ~ServerMonitor() = default;
    // A status text for worker row (0-based) and column; an empty text clears the field.
    virtual void StatusText(int row, int column, std::string_view text) = 0;
    // A browser switched the server to mode with a "/mode=" command (sent synchronously).
    virtual void ModeChanged(std::uint32_t mode) = 0;
    // A browser asked to acquire url ("/get?"); posted, so it must not block.
    virtual void AcquireUrl(std::string_view url) = 0;
    // A browser asked for the proxy setting dialog ("/proxysetting?").
    virtual void OpenProxySetting() = 0;
    // An answer relayed in a storing mode for url could not be stored; the browser got it.
    virtual void StoreFailed(int row, std::string_view url) = 0;
};

// Ignores everything: for a server that reports to nobody.
class NullMonitor final : public ServerMonitor {
  public:
    void StatusText(int, int, std::string_view) override {}
    void ModeChanged(std::uint32_t) override {}
    void AcquireUrl(std::string_view) override {}
    void OpenProxySetting() override {}
    void StoreFailed(int, std::string_view) override {}
};

}  // namespace kelvra::server
