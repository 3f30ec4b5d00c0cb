#include "server/serverproc.h"

#include <unistd.h>

#include <chrono>

namespace kelvra::server {

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
    {
        std::lock_guard lock(mutex_);
        for (auto& worker : workers_) {
            if (worker->state == kWorkerWorking) worker->proc.Abort();
            worker->state = kWorkerEnding;
            worker->wake.notify_one();
        }
    }
    for (auto& worker : workers_) {
        // A worker still finishing its connection may have reset its state: abort again
        // until it is seen ending.
        worker->proc.Abort();
        if (worker->thread.joinable()) worker->thread.join();
    }
}

int ServerProc::IdleWorkers() const {
    std::lock_guard lock(mutex_);
    int idle = 0;
    for (const auto& worker : workers_) idle += worker->state == kWorkerIdle;
    return idle;
}

bool ServerProc::WaitForIdle(int timeout_ms) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] {
        for (const auto& worker : workers_) {
            if (worker->state == kWorkerIdle) return true;
        }
        return false;
    });
}

int ServerProc::Dispatch(net::TCPIPServer& listener) {
    Worker* idle = nullptr;
    {
        std::lock_guard lock(mutex_);
        for (auto& worker : workers_) {
            if (worker->state == kWorkerIdle) {
                idle = worker.get();
                break;
            }
        }
    }
    if (idle == nullptr) return -1;
    const int row = idle->proc.Row();
    int level = 0;
    const int fd = listener.Accept(&level);
    if (fd < 0) return 0;
    if (level <= 0) {
        context_.monitor.StatusText(row, kColumnRequest, "Denied by filter");
        context_.monitor.StatusText(row, kColumnState, {});
        ::close(fd);
        return 1;
    }
    context_.monitor.StatusText(row, kColumnRequest, "Port Accepted");
    context_.monitor.StatusText(row, kColumnState, {});
    idle->proc.AttachSocket(fd, level);
    std::lock_guard lock(mutex_);
    if (idle->state == kWorkerIdle) {
        idle->state = kWorkerWorking;
        idle->wake.notify_one();
    }
    return 1;
}

void ServerProc::Run(Worker& worker) {
    std::unique_lock lock(mutex_);
    while (true) {
        worker.wake.wait(lock, [&] { return worker.state != kWorkerIdle; });
        if (worker.state == kWorkerEnding) return;
        lock.unlock();
        Work(worker);
        lock.lock();
        if (worker.state == kWorkerEnding) return;
        worker.state = kWorkerIdle;
        idle_.notify_all();
    }
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
