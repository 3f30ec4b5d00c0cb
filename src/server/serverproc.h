#pragma once
// The pool of connection workers of the local server. Idle workers wait together on one epoll
// set that holds the listening socket and every connection waiting for its client. A worker
// takes the ready sockets of one wait, queues them for whichever worker is free first, and the
// worker that takes a socket from the queue accepts, reads and answers by itself: no request
// passes from one thread to another. A connection whose request is not all there yet
// (a slow client, or a kept one between its requests) waits in the set and holds no worker, so
// slow or idle clients cannot keep other requests from being answered.
//
// Only as many workers as there are processors wait on the set at once (they hold its seats);
// the others stand by. A worker finishing a request then often finds the next ready one without
// sleeping, and a ready socket does not wake a sleeping thread for every request. A worker gives
// up its seat to one standing by before anything that may block, so that Threads connections
// can still be served at once while they wait for origins or clients.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/tcpip_server.h"
#include "platform/ownedfile.h"
#include "server/subserverproc.h"

namespace kelvra::server {

// Connections that may wait for their clients at once. Every local browser shares 127.0.0.1,
// so there is no cap per address: when the waiting room is full, the connection nearest its
// deadline is closed to make room (a browser opens a new one when it needs it).
inline constexpr int kMaxWaitingConnections = 64;

class ServerProc final {
  public:
    // WorkerCount(context.settings.threads) workers, all idle; their threads start with the
    // first listener served.
    explicit ServerProc(ServerContext& context);
    // Ends every worker; a working one has its connection aborted first.
    ~ServerProc();
    ServerProc(const ServerProc&) = delete;
    ServerProc& operator=(const ServerProc&) = delete;

    // Workers accept connections of listener from now on (the socket is made non-blocking);
    // false when it cannot be watched. With nullptr they stop accepting and every waiting
    // connection is closed; when this returns no worker uses the previous listener any more,
    // so it may be closed.
    bool Serve(net::TCPIPServer* listener);
    std::uint32_t GetMode() const { return context_.mode.load(); }
    void SetMode(std::uint32_t mode) { context_.mode.store(mode); }
    int Workers() const { return static_cast<int>(workers_.size()); }

  private:
    enum class SlotState { kFree, kServed, kWaiting };
    // A place for one connection. Its connection object is made on first use and kept for the
    // slot's next connection.
    struct Slot {
        std::unique_ptr<SubServerProc> proc;
        SlotState state = SlotState::kFree;
        std::uint32_t generation = 0;  // changes when a connection leaves: stale events miss
        bool registered = false;       // the connection's socket is in the epoll set
        bool watched = false;          // ... and its bytes wake a worker
        bool bytes_came = false;       // an edge while a worker served it
    };
    struct Worker final : WorkerSeat {
        explicit Worker(ServerProc& owner, int index) : pool(owner), row(index) {}
        void LetOthersWatch() override { pool.Unseat(*this); }
        ServerProc& pool;
        int row = 0;
        // Only the worker's own thread touches the next two.
        std::chrono::steady_clock::time_point turn_began;  // when it last let others run
        bool seated = false;
        Slot* serving = nullptr;  // guarded by mutex_
        std::thread thread;
    };

    void StartWorkers();
    void Run(Worker& worker);
    // Lets other threads run on the worker's processor when its turn is over.
    void YieldAfterTurn(Worker& worker);
    // Waits for ready events of the epoll set and queues them; false when the wait failed.
    bool WaitForEvents();
    // Waits for a free seat unless worker holds one; false when the pool ends.
    bool TakeSeat(Worker& worker);
    void Unseat(Worker& worker);
    // What a ready event asks for: the slot to serve, or nullptr. mutex_ held (released while
    // a connection is accepted).
    Slot* Dispatch(std::uint64_t key, Worker& worker, std::unique_lock<std::mutex>& lock);
    Slot* AcceptOne(Worker& worker, net::TCPIPServer& listener, std::unique_lock<std::mutex>& lock);
    Slot* TakeWaiting(std::uint64_t key);
    // After its worker let go: the connection waits in the set, or its slot is freed.
    // mutex_ held here and below; nothing below reports to the monitor (no call out under
    // the lock).
    void Settle(Slot& slot, ConnectionFate fate);
    void Park(Slot& slot);
    void CloseWaiting(Slot& slot);
    void Release(Slot& slot);
    void CloseExpired();
    bool Watch(int fd, std::uint64_t key, int operation, std::uint32_t events);

    ServerContext& context_;
    platform::UniqueFd poller_;       // the epoll set
    platform::UniqueFd sweep_timer_;  // ticks while connections wait, to close the overdue ones
    platform::UniqueFd ending_;       // readable once the pool ends: wakes every worker
    mutable std::mutex mutex_;
    net::TCPIPServer* listener_ = nullptr;  // guarded by mutex_, as everything below
    int accepting_ = 0;                     // workers inside accept()
    bool ending_pool_ = false;
    bool sweeping_ = false;  // the sweep timer runs
    int waiting_ = 0;
    int seats_ = 1;                      // workers that may watch the set at once
    int seated_ = 0;                     // workers holding a seat
    std::condition_variable seat_free_;  // seated_ fell below seats_, or the pool ends
    std::condition_variable accepted_;   // accepting_ reached 0
    std::deque<std::uint64_t> ready_;    // keys of ready events no worker took yet
    std::vector<Slot> slots_;
    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace kelvra::server
