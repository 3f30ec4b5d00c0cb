#include "util/lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace kelvra::util {
namespace {

using namespace std::chrono_literals;

// ---- ConditionClass ----

TEST(ConditionClass, StartsNotSignalled) {
    ConditionClass event;
    EXPECT_FALSE(event.Wait(false));
    EXPECT_FALSE(event.WaitFor(10));
}

TEST(ConditionClass, ResetsAfterOneWait) {
    ConditionClass event;
    event.Set();
    event.Set();  // signalling twice still wakes one wait: it is not a counter
    EXPECT_TRUE(event.Wait(false));
    EXPECT_FALSE(event.Wait(false));
}

TEST(ConditionClass, BlockingWaitWakesOnSetFromAnotherThread) {
    ConditionClass go;
    ConditionClass done;
    std::thread waiter([&] {
        if (go.Wait(true)) done.Set();
    });
    go.Set();
    EXPECT_TRUE(done.WaitFor(10000));
    waiter.join();
    // The waiter took the signal: it was reset for everyone else.
    EXPECT_FALSE(go.Wait(false));
}

TEST(ConditionClass, OneSetReleasesOneOfTwoWaiters) {
    ConditionClass event;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            if (event.WaitFor(500)) ++woken;
        });
    }
    event.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woken.load(), 1);
}

// ---- MutexClass ----

TEST(MutexClass, OwnerMayLockRecursively) {
    MutexClass mutex;
    EXPECT_FALSE(mutex.OwnedByCaller());
    mutex.Lock();
    mutex.Lock();
    mutex.Lock();
    EXPECT_TRUE(mutex.OwnedByCaller());
    mutex.Unlock();
    mutex.Unlock();
    EXPECT_TRUE(mutex.OwnedByCaller()) << "still held after two of three unlocks";
    mutex.Unlock();
    EXPECT_FALSE(mutex.OwnedByCaller());
}

TEST(MutexClass, OtherThreadWaitsUntilTheLastUnlock) {
    MutexClass mutex;
    ConditionClass attempting;
    ConditionClass acquired;
    mutex.Lock();
    mutex.Lock();
    std::thread other([&] {
        EXPECT_FALSE(mutex.OwnedByCaller());
        attempting.Set();
        MutexLock hold(mutex);
        acquired.Set();
    });
    ASSERT_TRUE(attempting.WaitFor(10000));
    mutex.Unlock();
    // One lock is still held: the other thread cannot have it yet.
    EXPECT_FALSE(acquired.WaitFor(100));
    mutex.Unlock();
    EXPECT_TRUE(acquired.WaitFor(10000));
    other.join();
    EXPECT_FALSE(mutex.OwnedByCaller());
}

TEST(MutexClass, RecursiveSectionsAcrossThreadsStayExclusive) {
    MutexClass mutex;
    long counter = 0;  // guarded by mutex
    int inside = 0;    // threads inside the section; must never exceed 1
    int worst = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                MutexLock outer(mutex);
                MutexLock inner(mutex);  // the owner takes it again
                worst = std::max(worst, ++inside);
                ++counter;
                --inside;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 4 * 2000);
    EXPECT_EQ(worst, 1);
}

TEST(MutexClass, UnlockByANonOwnerIsIgnored) {
    MutexClass mutex;
    mutex.Lock();
    std::thread stranger([&] { mutex.Unlock(); });
    stranger.join();
    EXPECT_TRUE(mutex.OwnedByCaller());
    mutex.Unlock();
}

}  // namespace
}  // namespace kelvra::util
