#include "console/signalwatch.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <system_error>

namespace kelvra::console {
namespace {

// Ends the watch thread; never sent from outside.
constexpr int kWakeSignal = SIGUSR1;

constexpr char kEndedAtOnce[] = "kelvrac: the abort did not end the running work in time\n";

}  // namespace

SignalWatcher::SignalWatcher(int forced_exit_code) : forced_exit_code_(forced_exit_code) {
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
    stopping_changed_.notify_all();
    pthread_kill(thread_.native_handle(), kWakeSignal);
    thread_.join();
}

void SignalWatcher::SetAction(std::function<void(int)> action) {
    std::lock_guard lock(action_mutex_);
    action_ = std::move(action);
}

void SignalWatcher::SetLastResort(std::function<void()> last_resort) {
    std::lock_guard lock(last_resort_mutex_);
    last_resort_ = std::move(last_resort);
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
        {
            std::lock_guard lock(action_mutex_);
            if (action_) action_(count);
        }
        if (count == kAbortCount) EndAfterAbort();
    }
}

// Stop flags and closed sockets end a worker's transaction, but nothing ends a long copy or a
// plug-in that does not return: after the grace the process ends without waiting for them.
void SignalWatcher::EndAfterAbort() {
    {
        std::unique_lock lock(mutex_);
        if (stopping_changed_.wait_for(lock, kAbortGrace, [this] { return stopping_; })) return;
    }
    std::future<void> done;
    try {
        // On its own thread: it may wait for a lock that the stuck work holds.
        done = std::async(std::launch::async, [this] {
            std::lock_guard lock(last_resort_mutex_);
            if (last_resort_) last_resort_();
        });
    } catch (const std::system_error&) {
        // No thread to spare: end without it.
    }
    if (done.valid()) done.wait_for(kLastResortTime);
    [[maybe_unused]] const ssize_t told =
        write(STDERR_FILENO, kEndedAtOnce, sizeof kEndedAtOnce - 1);
    std::_Exit(forced_exit_code_);  // before the future's destructor could wait for it
}

}  // namespace kelvra::console
