#pragma once
// A fixed pool of worker threads, each with a state and an auto-reset wake-up event,
// plus an optional manager event the workers signal after each piece of work. The crawl engine
// and the local server's connection pool both derive from it.
//
// A working thread cannot be terminated safely: KillWorker raises the worker's stop flag, asks
// the derived class to interrupt its blocking I/O (InterruptWork, e.g. shut its sockets down)
// and joins it. The visible result is the same as a forcible end: state kEnding.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "crawl/fetchstatus.h"
#include "util/lock.h"

namespace kelvra::crawl {

class ThreadClass {
  public:
    explicit ThreadClass(int count);
    // Derived classes must call KillAllWorkers() in their own destructor: Work and
    // InterruptWork are theirs and must not run once they are gone.
    virtual ~ThreadClass();
    ThreadClass(const ThreadClass&) = delete;
    ThreadClass& operator=(const ThreadClass&) = delete;

    // Without a thread, creates one in state working; an idle one is woken to work; otherwise
    // nothing. False when a thread could not be created.
    virtual bool StartWorker(int i);
    virtual std::thread::id ThreadId(int i) const;
    virtual WorkerState State(int i) const;
    // Ends worker i (see the file comment) and signals the manager; -1 when it had no thread.
    virtual int KillWorker(int i);
    // Index of the worker running on the calling thread, or -1.
    virtual int CurrentWorker() const;
    // Sets the state unless the worker's thread exists and is working; the state afterwards
    // (kNoThread for a bad index).
    virtual WorkerState SetState(int i, WorkerState value);
    // One wake-up's work on the worker's thread; returns the new state.
    virtual WorkerState Work(int i);
    virtual bool CreateWorker(int i, WorkerState state);
    virtual void ResumeWorker(int i, WorkerState state);
    virtual void ManagerEvent(bool on);
    virtual void SignalManager();
    // False when there is no manager event (or, not blocking, nothing was signalled).
    virtual bool WaitManager(bool block);
    // Waits up to timeout for the manager event; false on time-out or without one.
    bool WaitManagerFor(std::chrono::milliseconds timeout);
    // On worker i's thread after each piece of work, its result already in its state. The
    // base signals the manager.
    virtual void WorkDone(int i);

    int count() const { return static_cast<int>(workers_.size()); }
    bool HasThread(int i) const;
    void KillAllWorkers();

  protected:
    // Called from KillWorker on the killer's thread while worker i is working: make its
    // blocking calls return. The base does nothing.
    virtual void InterruptWork(int i);
    // For Work: true once worker i was asked to stop.
    bool StopRequested(int i) const;
    // Sleeps on worker i's thread; returns early (false) when the worker is being stopped.
    bool PauseUnlessStopped(int i, std::chrono::milliseconds duration);

  private:
    // Raises worker i's stop flag and wakes it; whether it was working.
    bool AskToStop(int i);
    // Joins worker i, asked to stop, and marks it ended.
    void JoinStopped(int i, bool working);

    struct Worker {
        std::thread thread;
        std::atomic<std::thread::id> id{};
        std::atomic<WorkerState> state{WorkerState::kIdle};
        std::atomic<bool> stop{false};
        util::ConditionClass wake;
        std::mutex pause_mutex;
        std::condition_variable pause_cv;
    };
    bool ValidIndex(int i) const { return i >= 0 && i < count(); }
    void Body(int i);

    std::vector<std::unique_ptr<Worker>> workers_;
    mutable std::mutex manager_mutex_;
    std::unique_ptr<util::ConditionClass> manager_;
};

}  // namespace kelvra::crawl
