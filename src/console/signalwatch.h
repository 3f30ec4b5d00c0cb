#pragma once
// SIGINT and SIGTERM are taken out of asynchronous delivery and handed to a watch thread, so
// that what they do (stop a crawl, end the server) runs as ordinary code, not in a handler.
// The second signal is an abort: if the program has not ended by itself soon after it, the
// watcher ends the process, whatever a worker or a plug-in is still doing.

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kelvra::console {

class SignalWatcher final {
  public:
    static constexpr int kAbortCount = 2;
    // An abort ends the process within these two together: the time the program gets to end
    // in its own way, then the time the last resort gets.
    static constexpr std::chrono::milliseconds kAbortGrace{3000};
    static constexpr std::chrono::milliseconds kLastResortTime{1500};

    // Create before any other thread: threads inherit the signal mask from their creator.
    // forced_exit_code: the status of a process that an abort had to end at once.
    explicit SignalWatcher(int forced_exit_code);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // action runs on the watch thread for every signal, with the number received so far.
    // Returns only when no earlier action is running, so what the old action used may go.
    void SetAction(std::function<void(int count)> action);
    // What must still happen when an abort ends the process at once (saving the store); it
    // runs beside whatever is stuck. Returns only when no earlier one is running.
    void SetLastResort(std::function<void()> last_resort);
    // Blocks until at least one signal has arrived.
    void WaitForSignal();
    int Count() const;

  private:
    void Watch();
    void EndAfterAbort();

    sigset_t signals_;
    const int forced_exit_code_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::condition_variable stopping_changed_;
    int count_ = 0;
    bool stopping_ = false;
    std::mutex action_mutex_;  // held while an action runs
    std::function<void(int)> action_;
    std::mutex last_resort_mutex_;  // held while the last resort runs
    std::function<void()> last_resort_;
    std::thread thread_;
};

}  // namespace kelvra::console
