#pragma once
// The two synchronisation objects every shared list uses.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kelvra::util {

// Auto-reset event, initially not signalled.
class ConditionClass final {
public:
    // Blocking: waits without limit. Otherwise polls. True when the event was signalled
    // (and resets it).
    bool Wait(bool blocking);
    // Waits up to timeout_ms milliseconds; true when signalled.
    bool WaitFor(long timeout_ms);
    void Set();

private:
    std::mutex mutex_;
    std::condition_variable signalled_cv_;
    bool signalled_ = false;
    // signalled_ as seen without the mutex, for a short look before sleeping.
    std::atomic<bool> signalled_hint_{false};
};

// Recursive lock that records its owner and recursion count.
class MutexClass final {
public:
    void Lock();
    void Unlock();
    bool OwnedByCaller() const;

private:
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    int count_ = 0;
};

// Scoped holder for a MutexClass.
class MutexLock final {
public:
    explicit MutexLock(MutexClass& mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~MutexLock() { mutex_.Unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    MutexClass& mutex_;
};

}  // namespace kelvra::util
