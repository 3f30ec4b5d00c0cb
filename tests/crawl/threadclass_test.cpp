// The worker pool: states, wake-ups, and stopping a worker that is busy.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <vector>

#include "crawl/fetchstatus.h"
#include "crawl/threadclass.h"

namespace kelvra::crawl {
namespace {

using namespace std::chrono_literals;

// Work blocks until released or interrupted; results are counted.
class BlockingPool final : public ThreadClass {
  public:
    explicit BlockingPool(int n) : ThreadClass(n) { ManagerEvent(true); }
    ~BlockingPool() override { KillAllWorkers(); }

    WorkerState Work(int) override {
        ++runs;
        std::unique_lock lock(mutex);
        entered = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release || interrupted; });
        release = false;
        return interrupted ? WorkerResult::kReadFailed : WorkerResult::kHeaderRead;
    }
    void InterruptWork(int) override {
        std::lock_guard lock(mutex);
        interrupted = true;
        cv.notify_all();
    }
    bool WaitEntered() {
        std::unique_lock lock(mutex);
        bool ok = cv.wait_for(lock, 5s, [&] { return entered; });
        entered = false;
        return ok;
    }
    void Release() {
        std::lock_guard lock(mutex);
        release = true;
        cv.notify_all();
    }
    // Waits for the manager until worker i leaves state working.
    bool WaitResult(int i) {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (State(i) == WorkerState::kWorking) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            WaitManagerFor(100ms);
        }
        return true;
    }

    std::atomic<int> runs{0};
    std::mutex mutex;
    std::condition_variable cv;
    bool entered = false, release = false, interrupted = false;
};

TEST(ThreadPool, WorkerRunsOnStartAndReportsItsResult) {
    BlockingPool pool(2);
    EXPECT_EQ(pool.State(0), WorkerState::kIdle);
    EXPECT_FALSE(pool.HasThread(0));
    ASSERT_TRUE(pool.StartWorker(0));
    ASSERT_TRUE(pool.WaitEntered());
    EXPECT_EQ(pool.State(0), WorkerState::kWorking);
    // A working worker's state cannot be changed from outside.
    EXPECT_EQ(pool.SetState(0, WorkerState::kIdle), WorkerState::kWorking);
    pool.Release();
    ASSERT_TRUE(pool.WaitResult(0));
    EXPECT_EQ(pool.State(0), WorkerResult::kHeaderRead);
    EXPECT_FALSE(pool.HasThread(1));  // threads are made only when needed
}

TEST(ThreadPool, IdleWorkerIsWokenAgainWithoutANewThread) {
    BlockingPool pool(1);
    ASSERT_TRUE(pool.StartWorker(0));
    ASSERT_TRUE(pool.WaitEntered());
    std::thread::id first = pool.ThreadId(0);
    pool.Release();
    ASSERT_TRUE(pool.WaitResult(0));
    // A result is not idle: starting does nothing until the scheduler releases the slot.
    EXPECT_TRUE(pool.StartWorker(0));
    EXPECT_EQ(pool.State(0), WorkerResult::kHeaderRead);
    EXPECT_EQ(pool.SetState(0, WorkerState::kIdle), WorkerState::kIdle);
    ASSERT_TRUE(pool.StartWorker(0));
    ASSERT_TRUE(pool.WaitEntered());
    EXPECT_EQ(pool.ThreadId(0), first);
    pool.Release();
    ASSERT_TRUE(pool.WaitResult(0));
    EXPECT_EQ(pool.runs.load(), 2);
}

TEST(ThreadPool, KillingABusyWorkerInterruptsAndJoinsIt) {
    BlockingPool pool(1);
    ASSERT_TRUE(pool.StartWorker(0));
    ASSERT_TRUE(pool.WaitEntered());
    EXPECT_EQ(pool.KillWorker(0), 0);
    EXPECT_TRUE(pool.interrupted);
    EXPECT_EQ(pool.State(0), WorkerState::kEnding);
    EXPECT_FALSE(pool.HasThread(0));
    EXPECT_EQ(pool.KillWorker(0), -1);  // no thread any more
    // The slot can get a new thread afterwards.
    pool.interrupted = false;
    EXPECT_EQ(pool.SetState(0, WorkerState::kIdle), WorkerState::kIdle);
    ASSERT_TRUE(pool.StartWorker(0));
    ASSERT_TRUE(pool.WaitEntered());
    pool.Release();
    ASSERT_TRUE(pool.WaitResult(0));
}

TEST(ThreadPool, KillingAnIdleWorkerEndsItWithoutInterrupt) {
    BlockingPool pool(1);
    ASSERT_TRUE(pool.StartWorker(0));
    ASSERT_TRUE(pool.WaitEntered());
    pool.Release();
    ASSERT_TRUE(pool.WaitResult(0));
    EXPECT_EQ(pool.KillWorker(0), 0);
    EXPECT_FALSE(pool.interrupted);
    EXPECT_EQ(pool.State(0), WorkerState::kEnding);
}

// A worker may be started again while it is still finishing its last piece of work (a worker
// that takes the scheduler's turn starts itself). Stopped before it begins, it must end as a
// stopped worker does, not stay "working" without a thread.
TEST(ThreadPool, WorkerStoppedBeforeItsNextStartBeginsEndsAsStopped) {
    class RestartingPool final : public ThreadClass {
      public:
        RestartingPool() : ThreadClass(1) {}
        ~RestartingPool() override { KillAllWorkers(); }
        WorkerState Work(int) override {
            ++runs;
            return WorkerResult::kHeaderRead;
        }
        void WorkDone(int i) override {
            SetState(i, WorkerState::kIdle);
            ResumeWorker(i, WorkerState::kWorking);
            finishing = true;
            const auto deadline = std::chrono::steady_clock::now() + 5s;
            while (!StopRequested(i) && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(1ms);
            }
        }
        std::atomic<int> runs{0};
        std::atomic<bool> finishing{false};
    };
    RestartingPool pool;
    ASSERT_TRUE(pool.StartWorker(0));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!pool.finishing && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(pool.finishing);
    EXPECT_EQ(pool.State(0), WorkerState::kWorking);
    EXPECT_EQ(pool.KillWorker(0), 0);
    EXPECT_EQ(pool.State(0), WorkerState::kEnding);
    EXPECT_EQ(pool.runs.load(), 1);
}

TEST(ThreadPool, CurrentWorkerAndBadIndices) {
    class SelfPool final : public ThreadClass {
      public:
        SelfPool() : ThreadClass(2) { ManagerEvent(true); }
        ~SelfPool() override { KillAllWorkers(); }
        WorkerState Work(int) override {
            seen = CurrentWorker();
            return WorkerResult::kHeaderRead;
        }
        std::atomic<int> seen{-5};
    } pool;
    EXPECT_EQ(pool.CurrentWorker(), -1);
    EXPECT_EQ(pool.SetState(7, WorkerState::kIdle), WorkerState::kNoThread);
    EXPECT_EQ(pool.State(-1), WorkerState::kNoThread);
    EXPECT_FALSE(pool.StartWorker(2));
    ASSERT_TRUE(pool.StartWorker(1));
    for (int i = 0; i < 50 && pool.State(1) == WorkerState::kWorking; ++i) {
        pool.WaitManagerFor(100ms);
    }
    EXPECT_EQ(pool.seen.load(), 1);
}

TEST(ThreadPool, NoManagerEventMeansNoWait) {
    ThreadClass pool(1);
    EXPECT_FALSE(pool.WaitManager(false));
    pool.ManagerEvent(true);
    pool.SignalManager();
    EXPECT_TRUE(pool.WaitManager(false));
    EXPECT_FALSE(pool.WaitManager(false));  // auto-reset
}

// Each worker, once in its work, waits until every worker was asked to stop. Killing them one
// join at a time would leave the first waiting for a stop that comes only after its join.
class AwaitAllStopsPool final : public ThreadClass {
  public:
    explicit AwaitAllStopsPool(int n)
        : ThreadClass(n), saw_all_stops(static_cast<std::size_t>(n)) {}
    ~AwaitAllStopsPool() override { KillAllWorkers(); }

    WorkerState Work(int i) override {
        ++entered;
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (!AllStopsRequested()) {
            if (std::chrono::steady_clock::now() > deadline) return WorkerResult::kReadFailed;
            std::this_thread::sleep_for(1ms);
        }
        saw_all_stops[static_cast<std::size_t>(i)] = true;
        return WorkerResult::kHeaderRead;
    }
    bool AllStopsRequested() const {
        for (int j = 0; j < count(); ++j) {
            if (!StopRequested(j)) return false;
        }
        return true;
    }

    std::atomic<int> entered{0};
    std::vector<std::atomic<bool>> saw_all_stops;
};

TEST(ThreadPool, KillingAllAsksEveryWorkerBeforeJoiningAny) {
    constexpr int kWorkers = 3;
    AwaitAllStopsPool pool(kWorkers);
    for (int i = 0; i < kWorkers; ++i) ASSERT_TRUE(pool.StartWorker(i));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (pool.entered.load() < kWorkers && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(pool.entered.load(), kWorkers);
    pool.KillAllWorkers();
    for (int i = 0; i < kWorkers; ++i) {
        EXPECT_TRUE(pool.saw_all_stops[static_cast<std::size_t>(i)]) << "worker " << i;
        EXPECT_FALSE(pool.HasThread(i));
        EXPECT_EQ(pool.State(i), WorkerState::kEnding);
    }
}

}  // namespace
}  // namespace kelvra::crawl
