#include "console/signalwatch.h"

#include <pthread.h>

namespace kelvra::console {
namespace {

// Ends the watch thread; never sent from outside.
constexpr int kWakeSignal = SIGUSR1;

}  // namespace

SignalWatcher::SignalWatcher() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    thread_ = std::thread([this] { Watch(); });
}

SignalWatcher::~SignalWatcher() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    pthread_kill(thread_.native_handle(), kWakeSignal);
    thread_.join();
}

void SignalWatcher::SetAction(std::function<void(int)> action) {
    std::lock_guard lock(action_mutex_);
    action_ = std::move(action);
}

void SignalWatcher::WaitForSignal() {
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [this] { return count_ > 0; });
}

int SignalWatcher::Count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

void SignalWatcher::Watch() {
    for (;;) {
        int signal = 0;
        if (sigwait(&signals_, &signal) != 0) continue;
        int count = 0;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            if (signal == kWakeSignal) continue;
            count = ++count_;
        }
        arrived_.notify_all();
        std::lock_guard lock(action_mutex_);
        if (action_) action_(count);
    }
}

}  // namespace kelvra::console
