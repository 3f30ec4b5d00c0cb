#include "crawl/threadclass.h"

#include <sched.h>

#include <utility>
#include <vector>

#include "crawl/fetchstatus.h"

namespace kelvra::crawl {

ThreadClass::ThreadClass(int count) {
    for (int i = 0; i < count; ++i) workers_.push_back(std::make_unique<Worker>());
}

ThreadClass::~ThreadClass() {
    KillAllWorkers();
}

// All are asked first, so that they end side by side rather than each after the last's join.
void ThreadClass::KillAllWorkers() {
    std::vector<std::pair<int, bool>> asked;  // worker, whether it was working
    for (int i = 0; i < count(); ++i) {
        if (HasThread(i)) asked.emplace_back(i, AskToStop(i));
    }
    for (const auto& [i, working] : asked) JoinStopped(i, working);
}

bool ThreadClass::HasThread(int i) const {
    return ValidIndex(i) && workers_[i]->id.load() != std::thread::id{};
}

bool ThreadClass::StartWorker(int i) {
    if (!ValidIndex(i)) return false;
    if (!HasThread(i)) return CreateWorker(i, WorkerState::kWorking);
    if (workers_[i]->state.load() == WorkerState::kIdle) ResumeWorker(i, WorkerState::kWorking);
    return true;
}

std::thread::id ThreadClass::ThreadId(int i) const {
    return ValidIndex(i) ? workers_[i]->id.load() : std::thread::id{};
}

WorkerState ThreadClass::State(int i) const {
    return ValidIndex(i) ? workers_[i]->state.load() : WorkerState::kNoThread;
}

int ThreadClass::KillWorker(int i) {
    if (!HasThread(i)) return -1;
    JoinStopped(i, AskToStop(i));
    return 0;
}

bool ThreadClass::AskToStop(int i) {
    Worker& worker = *workers_[i];
    {
        std::lock_guard lock(worker.pause_mutex);
        worker.stop = true;
    }
    worker.pause_cv.notify_all();
    const bool working = worker.state.load() == WorkerState::kWorking;
    if (working) InterruptWork(i);
    worker.wake.Set();
    return working;
}

// A working worker ends its transaction itself, as Ending since it sees the stop; the scheduler
// may collect that before the join returns, so it is not marked again here (the slot would end
// twice).
void ThreadClass::JoinStopped(int i, bool working) {
    Worker& worker = *workers_[i];
    if (worker.thread.joinable()) worker.thread.join();
    if (!working) worker.state = WorkerState::kEnding;
    worker.id = std::thread::id{};
    SignalManager();
}

int ThreadClass::CurrentWorker() const {
    std::thread::id self = std::this_thread::get_id();
    for (int i = 0; i < count(); ++i) {
        if (workers_[i]->id.load() == self) return i;
    }
    return -1;
}

WorkerState ThreadClass::SetState(int i, WorkerState value) {
    if (!ValidIndex(i)) return WorkerState::kNoThread;
    Worker& worker = *workers_[i];
    if (!HasThread(i)) {
        worker.state = value;
        return value;
    }
    WorkerState current = worker.state.load();
    while (current != WorkerState::kWorking &&
           !worker.state.compare_exchange_weak(current, value)) {
    }
    return worker.state.load();
}

WorkerState ThreadClass::Work(int) {
    return WorkerResult::kHeaderRead;
}

bool ThreadClass::CreateWorker(int i, WorkerState state) {
    if (!ValidIndex(i)) return false;
    Worker& worker = *workers_[i];
    if (worker.thread.joinable()) worker.thread.join();  // a thread that ended by itself
    worker.stop = false;
    worker.state = state;
    try {
        worker.thread = std::thread([this, i] { Body(i); });
    } catch (const std::system_error&) {
        worker.state = WorkerState::kNoThread;
        return false;
    }
    worker.id = worker.thread.get_id();
    return true;
}

void ThreadClass::ResumeWorker(int i, WorkerState state) {
    if (!ValidIndex(i)) return;
    workers_[i]->state = state;
    workers_[i]->wake.Set();
}

void ThreadClass::ManagerEvent(bool on) {
    std::lock_guard lock(manager_mutex_);
    if (on && !manager_) manager_ = std::make_unique<util::ConditionClass>();
    if (!on) manager_.reset();
}

void ThreadClass::SignalManager() {
    std::lock_guard lock(manager_mutex_);
    if (manager_) manager_->Set();
}

bool ThreadClass::WaitManager(bool block) {
    util::ConditionClass* manager = nullptr;
    {
        std::lock_guard lock(manager_mutex_);
        manager = manager_.get();
    }
    return manager != nullptr && manager->Wait(block);
}

bool ThreadClass::WaitManagerFor(std::chrono::milliseconds timeout) {
    util::ConditionClass* manager = nullptr;
    {
        std::lock_guard lock(manager_mutex_);
        manager = manager_.get();
    }
    return manager != nullptr && manager->WaitFor(static_cast<long>(timeout.count()));
}

void ThreadClass::WorkDone(int) {
    SignalManager();
}

void ThreadClass::InterruptWork(int) {}

bool ThreadClass::StopRequested(int i) const {
    return ValidIndex(i) && workers_[i]->stop.load();
}

bool ThreadClass::PauseUnlessStopped(int i, std::chrono::milliseconds duration) {
    if (!ValidIndex(i)) return false;
    Worker& worker = *workers_[i];
    std::unique_lock lock(worker.pause_mutex);
    return !worker.pause_cv.wait_for(lock, duration, [&worker] { return worker.stop.load(); });
}

namespace {

// A worker woken by its server's answer then waits for the running task's time slice instead
// of taking the CPU at once: with origin and workers sharing the cores, each answer would
// otherwise cost two task switches. Failing changes nothing but the speed.
void RunAsBatchWork() {
    const sched_param param{};
    static_cast<void>(::sched_setscheduler(0, SCHED_BATCH, &param));
}

}  // namespace

void ThreadClass::Body(int i) {
    Worker& worker = *workers_[i];
    // The creator records the id too, but only after the thread may already be working.
    worker.id = std::this_thread::get_id();
    RunAsBatchWork();
    while (!worker.stop.load() && worker.state.load() != WorkerState::kEnding) {
        if (worker.state.load() == WorkerState::kWorking) {
            const WorkerState result = Work(i);
            worker.state = worker.stop.load() ? WorkerState::kEnding : result;
            WorkDone(i);
            if (worker.stop.load()) break;
        }
        worker.wake.Wait(true);
    }
    // Woken to work but stopped before it began: it ends as a stopped worker does, or the
    // slot would stay working without a thread.
    WorkerState working = WorkerState::kWorking;
    worker.state.compare_exchange_strong(working, WorkerState::kEnding);
}

}  // namespace kelvra::crawl
