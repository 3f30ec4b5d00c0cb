#pragma once
// The local server "Orvane": the listening socket and the pool of connection workers that
// accept on it.
//
//   ServerSettings settings = ...;             // filled by the application from its settings
//   HtmlServer server(store, settings, monitor, data_directory + "/prohibit.orv");
//   server.Start(settings.port, settings.run_at_start,
//                LoadClientAccessTable(data_directory + "/access.orv").value_or(AccessTable{}));
//   server.SetMode(kModeProxy2 | kUseSpoolCheck);
//   server.Stop();                             // GetMode() is 0 afterwards
//
// The store, settings and monitor must outlive the server.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "net/tcpip_server.h"
#include "server/accesslist.h"
#include "server/prohibitlist.h"
#include "server/servermonitor.h"
#include "server/serverproc.h"
#include "server/serversettings.h"

namespace kelvra::store {
class headerlistex;
}

namespace kelvra::server {

class HtmlServer final {
  public:
    // Creates the pool; the prohibit list is read once, here (a missing file prohibits nothing).
    HtmlServer(store::headerlistex& store, const ServerSettings& settings, ServerMonitor& monitor,
               const std::string& prohibit_path);
    // Stops listening and ends the workers (connections still being served are cut).
    ~HtmlServer();
    HtmlServer(const HtmlServer&) = delete;
    HtmlServer& operator=(const HtmlServer&) = delete;

    // Sets the pool's mode and listens on port (0: a free port, see Port()) with the client
    // access table. False, and stopped, when the mode is no serving mode (IsServingMode) or
    // the port cannot be bound or listened on. A running server is stopped first.
    [[nodiscard]] bool Start(int port, std::uint32_t mode, AccessTable access);
    // Ends listening; connections being served finish on their own.
    void Stop();
    // A mode that is no serving mode leaves connections unanswered until the next one.
    void SetMode(std::uint32_t mode);
    // The pool's mode, 0 while not listening.
    std::uint32_t GetMode() const;
    // The port listened on (the assigned one after Start with 0); 0 while stopped.
    int Port() const;
    int Workers() const { return pool_->Workers(); }

  private:
    // Stops the workers accepting and closes the listening socket. control_mutex_ held.
    void StopListening();

    ServerSettings settings_;
    ProhibitClass prohibit_;
    ServerContext context_;
    std::unique_ptr<ServerProc> pool_;
    std::unique_ptr<net::TCPIPServer> socket_;
    std::atomic<bool> listening_{false};
    mutable std::mutex control_mutex_;  // Start, Stop and SetMode come from any thread
};

}  // namespace kelvra::server
