#pragma once
// SIGINT and SIGTERM are taken out of asynchronous delivery and handed to a watch thread, so
// that what they do (stop a crawl, end the server) runs as ordinary code, not in a handler.

#include <signal.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kelvra::console {

class SignalWatcher final {
  public:
    // Create before any other thread: threads inherit the signal mask from their creator.
    SignalWatcher();
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // action runs on the watch thread for every signal, with the number received so far.
    // Returns only when no earlier action is running, so what the old action used may go.
    void SetAction(std::function<void(int count)> action);
    // Blocks until at least one signal has arrived.
    void WaitForSignal();
    int Count() const;

  private:
    void Watch();

    sigset_t signals_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    int count_ = 0;
    bool stopping_ = false;
    std::mutex action_mutex_;  // held while an action runs
    std::function<void(int)> action_;
    std::thread thread_;
};

}  // namespace kelvra::console
