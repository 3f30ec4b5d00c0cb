#include "server/serverproc.h"

#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

namespace kelvra::server {
namespace {

// After an accept() that failed for want of descriptors or memory the connection is still
// pending; waiting a little keeps the workers from spinning on it.
constexpr auto kAcceptRetryWait = std::chrono::milliseconds(100);
// How often waiting connections are looked at for their deadline.
constexpr long kSweepPeriodNs = 250'000'000;

// Ready events taken from the epoll set by one wait.
constexpr int kEventsPerWait = 4;

// How long a worker answers before it lets other threads ready on its processor run (see
// ServerProc::YieldAfterTurn).
constexpr auto kWorkerTurn = std::chrono::microseconds(1000);

// Keys of the epoll set besides the connections' (slot index, generation).
constexpr std::uint64_t kListenerKey = ~std::uint64_t{0};
constexpr std::uint64_t kSweepKey = kListenerKey - 1;
constexpr std::uint64_t kEndingKey = kListenerKey - 2;

// A ready timer wakes one worker, and nobody else until it is watched again.
constexpr std::uint32_t kOneShotEvents = EPOLLIN | EPOLLONESHOT;
// A connection stays watched, edge-triggered, between its requests: bytes arriving wake one
// worker, and a kept connection is not watched anew (a system call) after each answer.
constexpr std::uint32_t kConnectionEvents = EPOLLIN | EPOLLET;
// A connection not watched while its worker may take long: a hang-up or error (always
// reported) wakes a worker once, not on every wait.
constexpr std::uint32_t kUnwatchedEvents = EPOLLONESHOT;
// The listener stays watched, edge-triggered: each connection arriving wakes a worker of its
// own, so that connections are accepted side by side as a blocking accept() would, and a worker
// taking the event wakes no other for it (as a level-triggered one does).
constexpr std::uint32_t kListenerEvents = EPOLLIN | EPOLLET;

bool IsPassingAcceptError(int error) {
    return error == EINTR || error == ECONNABORTED || error == EAGAIN || error == EPROTO;
}

std::uint64_t KeyOf(std::size_t index, std::uint32_t generation) {
    return (std::uint64_t{generation} << 32) | index;
}

void SetTimer(int timer, long period_ns) {
    const timespec period{0, period_ns};
    const itimerspec interval{period, period};
    ::timerfd_settime(timer, 0, &interval, nullptr);
}

}  // namespace

int WorkerCount(int threads) {
    return (threads < 1 || threads > kMaxServerThreads) ? kMaxServerThreads : threads;
}

ServerProc::ServerProc(ServerContext& context)
    : context_(context),
      poller_(::epoll_create1(EPOLL_CLOEXEC)),
      sweep_timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
      ending_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    Watch(sweep_timer_.get(), kSweepKey, EPOLL_CTL_ADD, kOneShotEvents);
    // Level-triggered and never read: every worker's wait returns once it is signalled.
    Watch(ending_.get(), kEndingKey, EPOLL_CTL_ADD, EPOLLIN);
    const int count = WorkerCount(context_.settings.threads);
    slots_.resize(static_cast<std::size_t>(count + kMaxWaitingConnections));
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    seats_ = std::clamp(processors, 1, count);
    for (int row = 0; row < count; ++row) workers_.push_back(std::make_unique<Worker>(*this, row));
}

// A program that never serves (a console crawl, a desktop program with the server off) then
// neither makes nor ends the threads.
void ServerProc::StartWorkers() {
    for (auto& worker : workers_) {
        Worker& w = *worker;
        if (!w.thread.joinable()) w.thread = std::thread([this, &w] { Run(w); });
    }
}

ServerProc::~ServerProc() {
    Serve(nullptr);
    {
        std::lock_guard lock(mutex_);
        ending_pool_ = true;
        seat_free_.notify_all();
        for (auto& worker : workers_) {
            if (worker->serving != nullptr) worker->serving->proc->Abort();
        }
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(ending_.get(), &one, sizeof one);
    for (auto& worker : workers_) {
        if (worker->thread.joinable()) worker->thread.join();
    }
}

bool ServerProc::Serve(net::TCPIPServer* listener) {
    std::unique_lock lock(mutex_);
    net::TCPIPServer* previous = listener_;
    if (previous == listener) return true;
    if (previous != nullptr) {
        ::epoll_ctl(poller_.get(), EPOLL_CTL_DEL, previous->Socket(), nullptr);
        listener_ = nullptr;
        accepted_.wait(lock, [this] { return accepting_ == 0; });
        // A stopped server answers nothing more, not even on kept connections.
        for (Slot& slot : slots_) {
            if (slot.state == SlotState::kWaiting) CloseWaiting(slot);
        }
    }
    if (listener == nullptr) return true;
    if (!listener->SetBlocking(false) ||
        !Watch(listener->Socket(), kListenerKey, EPOLL_CTL_ADD, kListenerEvents)) {
        return false;
    }
    listener_ = listener;
    StartWorkers();
    return true;
}

void ServerProc::Run(Worker& worker) {
    while (TakeSeat(worker)) {
        std::unique_lock lock(mutex_);
        if (ready_.empty()) {
            lock.unlock();
            if (!WaitForEvents()) return;
            lock.lock();
        }
        if (ending_pool_) return;
        if (ready_.empty()) continue;
        const std::uint64_t key = ready_.front();
        ready_.pop_front();
        Slot* slot = Dispatch(key, worker, lock);
        if (slot == nullptr) continue;
        worker.serving = slot;
        lock.unlock();
        SubServerProc& proc = *slot->proc;
        proc.SetRow(worker.row);
        context_.monitor.StatusText(worker.row, kColumnState, "BeginThread");
        const ConnectionFate fate = proc.ServeReady(worker);
        context_.monitor.StatusText(worker.row, kColumnState, "EndThread");
        lock.lock();
        worker.serving = nullptr;
        Settle(*slot, fate);
        lock.unlock();
        YieldAfterTurn(worker);
    }
}

// Under load a seated worker never sleeps: whenever it looks, another connection is ready. A
// client on the same machine (a browser, or wrk) whose thread shares the worker's processor
// and wakes for an answer then waits for the scheduler's tick (4 ms at 250 Hz) before it may
// read it. Yielding after a short turn bounds that wait; with nothing else ready to run on
// the processor the yield returns at once.
void ServerProc::YieldAfterTurn(Worker& worker) {
    if (std::chrono::steady_clock::now() - worker.turn_began < kWorkerTurn) return;
    ::sched_yield();
    worker.turn_began = std::chrono::steady_clock::now();
}

// Several events per wait: under load a worker then finds the next ready connection without a
// system call. The events wait in arrival order for whichever worker is free first, so one that
// turns to a long step leaves none of them behind.
bool ServerProc::WaitForEvents() {
    std::array<epoll_event, kEventsPerWait> events{};
    const int count = ::epoll_wait(poller_.get(), events.data(), kEventsPerWait, -1);
    if (count < 0) return errno == EINTR;
    std::lock_guard lock(mutex_);
    for (int i = 0; i < count; ++i) ready_.push_back(events[static_cast<std::size_t>(i)].data.u64);
    return true;
}

bool ServerProc::TakeSeat(Worker& worker) {
    if (worker.seated) return true;
    std::unique_lock lock(mutex_);
    seat_free_.wait(lock, [this] { return ending_pool_ || seated_ < seats_; });
    if (ending_pool_) return false;
    ++seated_;
    worker.seated = true;
    return true;
}

// The connection is no longer watched while its worker may take long: the client's bytes (a
// tunnel's, say) would otherwise wake a watching worker for nothing each time.
void ServerProc::Unseat(Worker& worker) {
    if (!worker.seated) return;
    worker.seated = false;
    std::lock_guard lock(mutex_);
    --seated_;
    seat_free_.notify_one();
    Slot* slot = worker.serving;
    if (slot != nullptr && slot->watched) {
        const std::size_t index = static_cast<std::size_t>(slot - slots_.data());
        Watch(slot->proc->Socket(), KeyOf(index, slot->generation), EPOLL_CTL_MOD,
              kUnwatchedEvents);
        slot->watched = false;
    }
}

ServerProc::Slot* ServerProc::Dispatch(std::uint64_t key, Worker& worker,
                                       std::unique_lock<std::mutex>& lock) {
    switch (key) {
        case kListenerKey:
            // A listener stopped since the event came has nothing to accept.
            return listener_ != nullptr ? AcceptOne(worker, *listener_, lock) : nullptr;
        case kSweepKey:
            CloseExpired();
            return nullptr;
        case kEndingKey:
            return nullptr;
        default:
            return TakeWaiting(key);
    }
}

ServerProc::Slot* ServerProc::AcceptOne(Worker& worker, net::TCPIPServer& listener,
                                        std::unique_lock<std::mutex>& lock) {
    ++accepting_;
    lock.unlock();
    int level = 0;
    int fd = listener.Accept(&level);
    const bool failed = fd < 0 && !IsPassingAcceptError(errno);
    // Watched anew: a connection that came together with this one is reported again (one
    // edge stands for both), so another worker takes it. After a failure the pending
    // connection is left alone until the wait is over, or every worker would spin on it.
    Watch(listener.Socket(), kListenerKey, EPOLL_CTL_MOD, failed ? 0 : kListenerEvents);
    if (fd >= 0) {
        const bool denied = level <= 0;
        context_.monitor.StatusText(worker.row, kColumnRequest,
                                    denied ? "Denied by filter" : "Port Accepted");
        context_.monitor.StatusText(worker.row, kColumnState, {});
        if (denied) {
            ::close(fd);
            fd = -1;
        }
    }
    lock.lock();
    if (--accepting_ == 0) accepted_.notify_all();
    if (failed) {
        accepted_.wait_for(lock, kAcceptRetryWait,
                           [&] { return ending_pool_ || listener_ != &listener; });
        if (listener_ == &listener) {
            Watch(listener.Socket(), kListenerKey, EPOLL_CTL_MOD, kListenerEvents);
        }
        return nullptr;
    }
    if (fd < 0) return nullptr;
    Slot* free_slot = nullptr;
    for (Slot& slot : slots_) {
        if (slot.state == SlotState::kFree) {
            free_slot = &slot;
            break;
        }
    }
    // Stopped meanwhile: the connection is not served. (A free slot is always there: the
    // waiting room leaves one per worker.)
    if (ending_pool_ || listener_ != &listener || free_slot == nullptr) {
        ::close(fd);
        return nullptr;
    }
    if (!free_slot->proc) free_slot->proc = std::make_unique<SubServerProc>(context_);
    free_slot->proc->AttachSocket(fd, level, context_.mode.load());
    free_slot->state = SlotState::kServed;
    return free_slot;
}

ServerProc::Slot* ServerProc::TakeWaiting(std::uint64_t key) {
    const std::size_t index = static_cast<std::uint32_t>(key);
    if (index >= slots_.size()) return nullptr;
    Slot& slot = slots_[index];
    // The connection the event was for may have been closed (and the slot reused) meanwhile.
    if (KeyOf(index, slot.generation) != key) return nullptr;
    if (slot.state == SlotState::kServed) {
        // Its worker may have looked before these bytes came: it must not wait on this edge.
        slot.bytes_came = true;
        return nullptr;
    }
    if (slot.state != SlotState::kWaiting) return nullptr;
    slot.state = SlotState::kServed;
    --waiting_;
    return &slot;
}

void ServerProc::Settle(Slot& slot, ConnectionFate fate) {
    if (fate == ConnectionFate::kWaiting && listener_ != nullptr && !ending_pool_) {
        Park(slot);
        return;
    }
    if (fate == ConnectionFate::kWaiting) slot.proc->Drop();
    Release(slot);
}

// The socket is watched last: once it is, another worker may take the connection, and it
// should not then have to wait for this one to let go of the lock.
void ServerProc::Park(Slot& slot) {
    if (waiting_ >= kMaxWaitingConnections) {
        Slot* nearest = nullptr;
        for (Slot& other : slots_) {
            if (other.state == SlotState::kWaiting &&
                (nearest == nullptr ||
                 other.proc->WaitDeadline() < nearest->proc->WaitDeadline())) {
                nearest = &other;
            }
        }
        if (nearest != nullptr) CloseWaiting(*nearest);
    }
    if (!sweeping_) {
        SetTimer(sweep_timer_.get(), kSweepPeriodNs);
        sweeping_ = true;
    }
    slot.state = SlotState::kWaiting;
    ++waiting_;
    // Still watched, no edge went by while it was served and nothing is left unread: the next
    // bytes wake a worker.
    if (slot.watched && !slot.bytes_came && slot.proc->Drained()) return;
    // Watched anew, which reports bytes that are there already.
    const std::size_t index = static_cast<std::size_t>(&slot - slots_.data());
    const int operation = slot.registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    slot.registered = true;
    slot.watched = true;
    slot.bytes_came = false;
    if (!Watch(slot.proc->Socket(), KeyOf(index, slot.generation), operation, kConnectionEvents)) {
        CloseWaiting(slot);
    }
}

void ServerProc::CloseWaiting(Slot& slot) {
    slot.proc->Drop();
    --waiting_;
    Release(slot);
}

// The connection's socket was closed, which took it out of the epoll set as well.
void ServerProc::Release(Slot& slot) {
    slot.state = SlotState::kFree;
    slot.registered = false;
    slot.watched = false;
    slot.bytes_came = false;
    ++slot.generation;
}

void ServerProc::CloseExpired() {
    std::uint64_t ticks = 0;
    [[maybe_unused]] const ssize_t got = ::read(sweep_timer_.get(), &ticks, sizeof ticks);
    const auto now = SubServerProc::Clock::now();
    for (Slot& slot : slots_) {
        if (slot.state == SlotState::kWaiting && slot.proc->WaitDeadline() <= now) {
            CloseWaiting(slot);
        }
    }
    if (waiting_ == 0) {
        SetTimer(sweep_timer_.get(), 0);
        sweeping_ = false;
    }
    Watch(sweep_timer_.get(), kSweepKey, EPOLL_CTL_MOD, kOneShotEvents);
}

bool ServerProc::Watch(int fd, std::uint64_t key, int operation, std::uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = key;
    return ::epoll_ctl(poller_.get(), operation, fd, &event) == 0;
}

}  // namespace kelvra::server
