#include "server/serverproc.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace kelvra::server {
namespace {

// After an accept() that failed for want of descriptors or memory the connection is still
// pending; waiting a little keeps the worker from spinning on it.
constexpr auto kAcceptRetryWait = std::chrono::milliseconds(100);

bool IsPassingAcceptError(int error) {
    return error == EINTR || error == ECONNABORTED || error == EAGAIN || error == EPROTO;
}

}  // namespace

int WorkerCount(int threads) {
    return (threads < 1 || threads > kMaxServerThreads) ? kMaxServerThreads : threads;
}

ServerProc::ServerProc(ServerContext& context) : context_(context) {
    const int count = WorkerCount(context_.settings.threads);
    for (int row = 0; row < count; ++row) {
        workers_.push_back(std::make_unique<Worker>(row, context_));
    }
    for (auto& worker : workers_) {
        Worker& w = *worker;
        w.thread = std::thread([this, &w] { Run(w); });
    }
}

ServerProc::~ServerProc() {
    Serve(nullptr);
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        for (auto& worker : workers_) {
            if (worker->state == kWorkerWorking) worker->proc.Abort();
        }
        changed_.notify_all();
    }
    for (auto& worker : workers_) {
        // A worker still finishing its connection may have reset its state: abort again
        // until it is seen ending.
        worker->proc.Abort();
        if (worker->thread.joinable()) worker->thread.join();
    }
}

void ServerProc::Serve(net::TCPIPServer* listener) {
    std::unique_lock lock(mutex_);
    net::TCPIPServer* previous = listener_;
    listener_ = listener;
    changed_.notify_all();
    if (previous == nullptr || previous == listener) return;
    // Shutting a listening socket down makes every accept() waiting on it return.
    previous->Shutdown();
    changed_.wait(lock, [this] { return accepting_ == 0; });
}

void ServerProc::Run(Worker& worker) {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return ending_ || listener_ != nullptr; });
        if (ending_) return;
        int level = 0;
        const int fd = AcceptOne(worker, *listener_, level, lock);
        if (fd < 0) continue;
        if (ending_) {
            ::close(fd);
            return;
        }
        // Attached under the lock, so the destructor's abort of a working worker reaches it.
        worker.proc.AttachSocket(fd, level);
        worker.state = kWorkerWorking;
        lock.unlock();
        Work(worker);
        lock.lock();
        worker.state = kWorkerIdle;
    }
}

int ServerProc::AcceptOne(Worker& worker, net::TCPIPServer& listener, int& level,
                          std::unique_lock<std::mutex>& lock) {
    ++accepting_;
    lock.unlock();
    int fd = listener.Accept(&level);
    const bool failed = fd < 0 && !IsPassingAcceptError(errno);
    const int row = worker.proc.Row();
    if (fd >= 0) {
        const bool denied = level <= 0;
        context_.monitor.StatusText(row, kColumnRequest, denied ? "Denied by filter" : "Port Accepted");
        context_.monitor.StatusText(row, kColumnState, {});
        if (denied) {
            ::close(fd);
            fd = -1;
        }
    }
    lock.lock();
    if (--accepting_ == 0) changed_.notify_all();
    if (failed) {
        changed_.wait_for(lock, kAcceptRetryWait,
                          [&] { return ending_ || listener_ != &listener; });
    }
    return fd;
}

void ServerProc::Work(Worker& worker) {
    const int row = worker.proc.Row();
    context_.monitor.StatusText(row, kColumnState, "BeginThread");
    // A "/mode=" command switches the pool itself before its answer goes out, so nothing is
    // written back here: a mode set meanwhile by the application must not be overwritten.
    worker.proc.ServeConnection(context_.mode.load());
    context_.monitor.StatusText(row, kColumnState, "EndThread");
}

}  // namespace kelvra::server
