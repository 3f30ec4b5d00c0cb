#pragma once
// The pool of connection workers of the local server. Every idle worker waits in accept() on
// the listening socket itself, so the kernel hands each new connection straight to one
// sleeping worker: no thread in between and no wake-up per connection.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/tcpip_server.h"
#include "server/subserverproc.h"

namespace kelvra::server {

// Worker states.
enum WorkerState { kWorkerIdle = 1, kWorkerWorking = 3 };

class ServerProc final {
  public:
    // WorkerCount(context.settings.threads) workers, all idle.
    explicit ServerProc(ServerContext& context);
    // Ends every worker; a working one has its connection aborted first.
    ~ServerProc();
    ServerProc(const ServerProc&) = delete;
    ServerProc& operator=(const ServerProc&) = delete;

    // Idle workers accept connections of listener (a blocking listening socket) from now on.
    // With nullptr they stop accepting: the previous listener is shut down and, when this
    // returns, no worker uses it any more, so it may be closed.
    void Serve(net::TCPIPServer* listener);
    std::uint32_t GetMode() const { return context_.mode.load(); }
    void SetMode(std::uint32_t mode) { context_.mode.store(mode); }
    int Workers() const { return static_cast<int>(workers_.size()); }

  private:
    struct Worker {
        Worker(int row, ServerContext& context) : proc(row, context) {}
        SubServerProc proc;
        int state = kWorkerIdle;  // guarded by ServerProc::mutex_
        std::thread thread;
    };

    void Run(Worker& worker);
    // Accepts one connection of listener with mutex_ released: its socket, or -1. A client the
    // access table refuses is turned away here.
    int AcceptOne(Worker& worker, net::TCPIPServer& listener, int& level,
                  std::unique_lock<std::mutex>& lock);
    void Work(Worker& worker);

    ServerContext& context_;
    mutable std::mutex mutex_;
    net::TCPIPServer* listener_ = nullptr;  // guarded by mutex_
    int accepting_ = 0;                     // workers inside accept(), guarded by mutex_
    bool ending_ = false;                   // guarded by mutex_
    std::condition_variable changed_;       // listener_, accepting_ or ending_ changed
    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace kelvra::server
