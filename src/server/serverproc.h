#pragma once
// The pool of connection workers of the local server.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/net/tcpip_server.h"
#include "server/subserverproc.h"

namespace kelvra::server {

// Worker states.
enum WorkerState { kWorkerIdle = 1, kWorkerWorking = 3, kWorkerEnding = 14 };

class ServerProc final {
  public:
    // WorkerCount(context.settings.threads) workers, all idle.
    explicit ServerProc(ServerContext& context);
    // Ends every worker; a working one has its connection aborted first.
    ~ServerProc();
    ServerProc(const ServerProc&) = delete;
    ServerProc& operator=(const ServerProc&) = delete;

    // Accepts the pending connection of listener on the first idle worker: 1 when one was
    // handed over or refused by the access table, 0 when none was pending, -1 when no worker
    // is idle (nothing accepted).
    int Dispatch(net::TCPIPServer& listener);
    // Waits up to timeout_ms for a worker to become idle; true when one is.
    bool WaitForIdle(int timeout_ms);
    std::uint32_t GetMode() const { return context_.mode.load(); }
    void SetMode(std::uint32_t mode) { context_.mode.store(mode); }
    int Workers() const { return static_cast<int>(workers_.size()); }
    int IdleWorkers() const;

  private:
    struct Worker {
        Worker(int row, ServerContext& context) : proc(row, context) {}
        SubServerProc proc;
        int state = kWorkerIdle;  // guarded by ServerProc::mutex_
        // The worker's own event: only the worker that was given a connection wakes up.
        std::condition_variable wake;
        std::thread thread;
    };

    void Run(Worker& worker);
    void Work(Worker& worker);

    ServerContext& context_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;  // a worker became idle
    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace kelvra::server
