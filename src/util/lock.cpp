#include "util/lock.h"

#include <chrono>

namespace kelvra::util {

namespace {

constexpr int kSpinsBeforeSleep = 256;

// Tells the core that this is a wait loop (it lets the other hyper-thread run).
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace

bool ConditionClass::Wait(bool blocking) {
    // A worker is mostly started again within microseconds of finishing: a short look first
    // spares it the sleep and the wake-up in the kernel.
    for (int k = 0; blocking && k < kSpinsBeforeSleep && !signalled_hint_.load(); ++k) {
        CpuRelax();
    }
    std::unique_lock<std::mutex> hold(mutex_);
    if (blocking) signalled_cv_.wait(hold, [this] { return signalled_; });
    const bool was_signalled = signalled_;
    signalled_ = false;  // auto-reset: one waiter takes the signal
    signalled_hint_ = false;
    return was_signalled;
}

bool ConditionClass::WaitFor(long timeout_ms) {
    std::unique_lock<std::mutex> hold(mutex_);
    signalled_cv_.wait_for(hold, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                           [this] { return signalled_; });
    const bool was_signalled = signalled_;
    signalled_ = false;
    signalled_hint_ = false;
    return was_signalled;
}

void ConditionClass::Set() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        signalled_ = true;
        signalled_hint_ = true;
    }
    signalled_cv_.notify_one();
}

void MutexClass::Lock() {
    if (OwnedByCaller()) {
        ++count_;
        return;
    }
    // The table locks are held for a microsecond or two at a time; a short wait in user space
    // spares most contended takes the sleep and the wake-up in the kernel.
    for (int k = 0; k < kSpinsBeforeSleep; ++k) {
        if (mutex_.try_lock()) {
            owner_.store(std::this_thread::get_id());
            return;
        }
        CpuRelax();
    }
    mutex_.lock();
    owner_.store(std::this_thread::get_id());
}

void MutexClass::Unlock() {
    // Only the owner may unlock; anything else would release a lock held by another thread.
    if (!OwnedByCaller()) return;
    if (count_ > 0) {
        --count_;
        return;
    }
    owner_.store(std::thread::id());
    mutex_.unlock();
}

bool MutexClass::OwnedByCaller() const {
    return owner_.load() == std::this_thread::get_id();
}

}  // namespace kelvra::util
