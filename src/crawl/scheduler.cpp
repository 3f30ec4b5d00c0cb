// The scheduler: choosing URLs for idle workers under the per-server limits, collecting worker
// results on the scheduler's thread, and ending the crawl.
#include <algorithm>
#include <vector>

#include "crawl/fetch.h"
#include "crawl/fetchstatus.h"
#include "crawl/kelvra.h"
#include "net/transport.h"

namespace kelvra::crawl {

namespace {

// Hosts found at their limit during one search; more than fit are simply not remembered (their
// entries are looked at again, which costs time but never writes past the memory). Host nodes
// of the URL table are unique per host name, so comparing them compares the names.
class HostMemory {
  public:
    const std::vector<const store::treelistnode*>& hosts() const { return hosts_; }
    const std::vector<KelvraClass::HostAtLimit>& limits() const { return limits_; }
    // Whether every host found at its limit was remembered.
    bool complete() const { return complete_; }
    void Remember(const store::treelistnode* host, std::string_view name, int connections) {
        if (std::find(hosts_.begin(), hosts_.end(), host) != hosts_.end()) return;
        if (hosts_.size() >= KelvraClass::kRememberedHosts) {
            complete_ = false;
            return;
        }
        hosts_.push_back(host);
        limits_.push_back({std::string(name), connections});
    }

  private:
    std::vector<const store::treelistnode*> hosts_;
    std::vector<KelvraClass::HostAtLimit> limits_;
    bool complete_ = true;
};

constexpr std::string_view kOnHold = "OnHold";
constexpr std::string_view kReady = "Ready";

// A body of unknown length that a kill cut short looks exactly like a whole one; storing it
// would keep a truncated file that later runs take as current. Only an announced length (which
// the store compares against) or a finished message may be stored after a kill.
bool CutBodyIsDetectable(WorkerSlot& slot) {
    return slot.connection->Buffer().content_length >= 0 ||
           slot.connection->State() == net::kMessageComplete;
}

}  // namespace

// ---- choosing URLs --------------------------------------------------------------------------

bool KelvraClass::SameHostBusy(int i, std::string_view host, int& busy) {
    busy = 0;
    for (int j = 0; j < count(); ++j) {
        if (j == i) continue;
        const WorkerSlot& other = slots_[j];
        bool active = State(j) != WorkerState::kIdle || (other.flags & SlotFlag::kRetryNow) != 0;
        if (active && other.job != nullptr && HostOf(other.url) == host) ++busy;
        if (!active && other.next_job != nullptr && HostOf(other.next_url) == host) ++busy;
    }
    return busy > 0;
}

bool KelvraClass::SearchWouldFindNothing(int i) {
    // New entries of the hosts at their limit change nothing either: a search would turn them
    // to the tail with the rest. That is the common case, a page's links to its own server.
    if (!fruitless_.valid || fruitless_.robots_answers != robots_answers_ ||
        !url_table_->EnqueuedOnlyFor(fruitless_.host_nodes, fruitless_.enqueued)) {
        return false;
    }
    return std::all_of(fruitless_.hosts.begin(), fruitless_.hosts.end(),
                       [this, i](const HostAtLimit& host) {
                           int busy = 0;
                           SameHostBusy(i, host.name, busy);
                           return busy >= host.connections;
                       });
}

const std::string* KelvraClass::PickNext(int i) {
    WorkerSlot& slot = slots_[i];
    // With one server at its limit and a million URLs queued, each look would turn the whole
    // queue round; it finds nothing until something changes.
    if (SearchWouldFindNothing(i)) return nullptr;
    util::MutexLock lock(url_table_->mutex());
    HostMemory at_limit;
    for (std::size_t n = url_table_->QueueCount(); n > 0; --n) {
        // Entries of hosts already at their limit go to the tail in one pass: with one busy
        // server that is most of the queue, every time a slot looks for work.
        n -= url_table_->MoveHostsToEnd(at_limit.hosts(), n);
        if (n == 0) break;
        const store::treelistnode* queued_host = url_table_->CurrentHost();
        std::string url;
        const Allowed allowed = url_table_->NextAllowed(url, false);
        if (allowed == Allowed::kNone) break;
        if (allowed == Allowed::kSkip) continue;
        const ServerLimit limit = limits_.Lookup(url);
        store::FetchJob* job = url_table_->GetJob(url);
        if (limit.connections < 1 || job == nullptr) {
            url_table_->RemoveFirst();
            continue;
        }
        std::string host = HostOf(url);
        int busy = 0;
        SameHostBusy(i, host, busy);
        if (busy >= limit.connections) {
            at_limit.Remember(queued_host, host, limit.connections);
            url_table_->MoveFirstToEnd();
            continue;
        }
        url_table_->RemoveFirst();
        slot.setting = host != slot.previous_host ? limit.ForNewServer() : limit;
        slot.url = std::move(url);
        slot.job = job;
        fruitless_.valid = false;
        return &slot.url;
    }
    // Every entry left belongs to a host at its limit or waits for its robots.txt.
    fruitless_ = {at_limit.complete(), url_table_->EnqueueCount(), robots_answers_,
                  at_limit.limits(), at_limit.hosts()};
    return nullptr;
}

bool KelvraClass::PickSameHost(int i) {
    WorkerSlot& slot = slots_[i];
    std::string host = HostOf(slot.url);
    util::MutexLock lock(url_table_->mutex());
    for (std::size_t n = url_table_->QueueCount(); n > 0; --n) {
        if (CurrentHostName(*url_table_) != host) {
            url_table_->MoveFirstToEnd();
            continue;
        }
        std::string url;
        const Allowed allowed = url_table_->NextAllowed(url, false);
        if (allowed == Allowed::kNone) break;
        if (allowed == Allowed::kSkip) continue;
        store::FetchJob* job = url_table_->GetJob(url);
        if (job == nullptr || !limits_.Lookup(url).KeepsConnection()) {
            url_table_->MoveFirstToEnd();
            continue;
        }
        url_table_->RemoveFirst();
        slot.next_url = std::move(url);
        slot.next_job = job;
        return true;
    }
    return false;
}

// ---- slots ----------------------------------------------------------------------------------

int KelvraClass::PrepareSlot(int i) {
    WorkerSlot& slot = slots_[i];
    bool retrying = (slot.flags & SlotFlag::kRetryNow) != 0;
    if (slot.next_job == nullptr) {
        if (!retrying && PickNext(i) == nullptr) {
            slot.job = nullptr;
            slot.url.clear();
            return 0;
        }
        if (HostOf(slot.url) != slot.previous_host && HasConnection(i)) slot.connection->Close();
    } else if (!retrying) {
        slot.url = std::move(slot.next_url);
        slot.job = slot.next_job;
        slot.sent = std::move(slot.next_sent);
        slot.next_url.clear();
        slot.next_job = nullptr;
    } else {
        // The request already on the wire is answered first; the retry follows.
        std::swap(slot.url, slot.next_url);
        std::swap(slot.job, slot.next_job);
        std::swap(slot.sent, slot.next_sent);
    }
    slot.flags &= ~(SlotFlag::kRetryNow | SlotFlag::kReused);
    // The slot's temporary file stays open from one fetch to the next (each response is
    // written over the last): reopening it with truncation would make the file system write
    // its old blocks out on every close.
    if (!slot.connection->HasTempFile() && !slot.connection->OpenTempFile()) return -1;
    if (!StartWorker(i)) {
        ReleaseSlot(i);
        return -1;
    }
    return 1;
}

void KelvraClass::ReleaseSlot(int i) {
    WorkerSlot& slot = slots_[i];
    SetState(i, WorkerState::kIdle);
    if (!slot.url.empty()) slot.previous_host = HostOf(slot.url);
    if ((slot.flags & SlotFlag::kRetryNow) != 0) return;
    slot.flags &= ~SlotFlag::kAttemptMask;
    slot.job = nullptr;
    slot.url.clear();
}

// ---- the loop -------------------------------------------------------------------------------

void KelvraClass::CrawlLoop() {
    for (WorkerSlot& slot : slots_) slot.on_hold = false;
    std::unique_lock<std::mutex> turn;
    while (true) {
        turn = AwaitTurn();
        if (stop_level_.load() == StopLevel::kAbort) {
            KillAllWorkers();
            CollectResults();
            break;
        }
        TurnResult result = Turn();
        if (!result.busy) {
            // Nothing runs and nothing could start although URLs are queued: none of them can
            // ever be fetched in this run. Leave them to the error list rather than spin.
            if (url_table_->QueueCount() != 0) {
                stop_level_ = std::max(stop_level_.load(), StopLevel::kFinish);
            }
            break;
        }
        turn.unlock();
        if (std::optional<TurnResult> later = OfferTurn()) result = *later;
        if (result.running) WaitManager(true);
    }
    // The turn stays with this thread: a worker that has just finished must not start another.
    LogMessage("Closing all sockets ...");
    CloseAllConnections();
    if (stop_level_.load() != StopLevel::kNone) RegisterUnfinished();
    SaveUnfinished(true);
    LogMessage("Done.");
}

std::optional<KelvraClass::TurnResult> KelvraClass::OfferTurn() {
    std::optional<TurnResult> result;
    turn_wanted_ = true;
    while (turn_wanted_.load()) {
        std::unique_lock turn(turn_mutex_, std::try_to_lock);
        if (!turn.owns_lock()) break;
        turn_wanted_ = false;
        result = Turn();
    }
    if (result && awaiting_turn_.load()) SignalManager();
    return result;
}

std::unique_lock<std::mutex> KelvraClass::AwaitTurn() {
    std::unique_lock turn(turn_mutex_, std::defer_lock);
    awaiting_turn_ = true;
    // A holder that sees the flag signals once it has let go.
    while (!turn.try_lock()) WaitManager(true);
    awaiting_turn_ = false;
    turn_wanted_ = false;
    return turn;
}

KelvraClass::TurnResult KelvraClass::Turn() {
    TurnResult result;
    result.busy = CollectResults();
    SaveUnfinished(false);
    DrainStored();
    WaitForNetwork();
    result.running = StartIdleWorkers();
    result.busy = result.busy || result.running;
    return result;
}

void KelvraClass::WorkDone(int i) {
    // A worker being stopped leaves everything to the thread stopping it.
    if (StopRequested(i)) {
        SignalManager();
        return;
    }
    const std::optional<TurnResult> result = OfferTurn();
    // Only the crawl's own thread ends the crawl or carries out a stop.
    if (result && (!result->running || stop_level_.load() != StopLevel::kNone)) SignalManager();
}

void KelvraClass::DrainStored() {
    const store::treelistnode* record = nullptr;
    // Another look without new entries would only turn the whole queue once round.
    while (url_table_->EnqueueCount() != drained_at_) {
        const std::uint64_t enqueued = url_table_->EnqueueCount();
        std::optional<store::FetchJob> job = url_table_->NextUnprocessed(record);
        if (!job) {
            drained_at_ = enqueued;
            break;
        }
        CountProcessed();
        const std::string key = store_.NodeKey(record);
        std::string url = url_table_->QueuedUrl(key).value_or("http://" + key);
        Investigate(record, url, *job, job->trace != 0);
        NoteRobotsAnswer(url, *job, true);
    }
}

void KelvraClass::NoteRobotsAnswer(std::string_view url, const store::FetchJob& job, bool ok) {
    if ((job.flags & store::JobFlag::kRobots) != 0) ++robots_answers_;
    url_table_->RobotsFetched(url, job, ok);
}

void KelvraClass::Investigate(const store::treelistnode* record, std::string_view url,
                              const store::FetchJob& job, bool follow, store::FoundLinks* found) {
    if (deferring_investigations_) {
        deferred_.push_back({record, std::string(url), job, follow, {}});
        if (found) {
            // The slot reads its next page into buffers already grown, from an earlier page.
            store::FoundLinks spare;
            if (!spare_found_.empty()) {
                spare = std::move(spare_found_.back());
                spare_found_.pop_back();
            }
            deferred_.back().found = std::move(*found);
            *found = std::move(spare);
        }
        return;
    }
    LogMessage("Investigating: " + std::string(url));
    static const store::FoundLinks kNothingReadAhead;
    url_table_->ProcessReadAhead(url, record, job, follow, found ? *found : kNothingReadAhead);
    LogMessage(std::string(url) + " .... done.");
}

void KelvraClass::WaitForNetwork() {
    if (network_checked_) return;
    LogMessage("Waiting for TCP/IP connection ....");
    net::ResolveHost("localhost");
    LogMessage("TCP/IP connected.");
    network_checked_ = true;
}

void KelvraClass::RunDeferredInvestigations() {
    std::vector<DeferredInvestigation> pending = std::move(deferred_);
    deferred_.clear();
    for (DeferredInvestigation& item : pending) {
        Investigate(item.record, item.url, item.job, item.follow, &item.found);
        if (spare_found_.size() < static_cast<std::size_t>(count())) {
            item.found.source = store::LinkSource::kNone;
            spare_found_.push_back(std::move(item.found));
        }
    }
}

bool KelvraClass::StartIdleWorkers(bool pipelined_only) {
    bool busy = false;
    // Once a slot without reserved work found nothing in the queue, every other such slot
    // would walk the same queue against the same busy hosts and find nothing as well.
    bool nothing_to_pick = false;
    for (int i = 0; i < count(); ++i) {
        WorkerSlot& slot = slots_[i];
        // A worker being stopped is started again once its thread has ended.
        if (State(i) != WorkerState::kIdle || (StopRequested(i) && HasThread(i))) {
            busy = true;
            continue;
        }
        if (stop_level_.load() != StopLevel::kNone) continue;
        if (auth_holder_ >= 0 && auth_holder_ != i) {
            if (!slot.on_hold) ShowSlotStatus(i, kOnHold);
            slot.on_hold = true;
            continue;
        }
        if (slot.on_hold) ShowSlotStatus(i, kReady);
        slot.on_hold = false;
        bool unreserved = slot.next_job == nullptr && (slot.flags & SlotFlag::kRetryNow) == 0;
        if (pipelined_only && (slot.next_job == nullptr || (slot.flags & SlotFlag::kRetryNow))) {
            continue;
        }
        if (unreserved && nothing_to_pick) {
            slot.job = nullptr;
            slot.url.clear();
            continue;
        }
        int prepared = PrepareSlot(i);
        if (prepared == 0 && unreserved) nothing_to_pick = true;
        if (prepared == 1) busy = true;
        if (prepared == -1) {
            ShowSlotLine(i, "Can't create thread(" + slot.url + ")");
            stop_level_ = std::max(stop_level_.load(), StopLevel::kFinish);
        }
    }
    return busy;
}

bool KelvraClass::CollectResults() {
    bool busy = false;
    deferring_investigations_ = true;
    for (int i = 0; i < count(); ++i) {
        if (!IsWorkerResult(State(i))) continue;
        WorkerSlot& slot = slots_[i];
        Requeue requeue = Requeue::kNone;
        int status = DecideStatus(i, requeue);
        bool retrying = (slot.flags & SlotFlag::kRetryNow) != 0;
        if (!retrying && slot.job != nullptr) {
            // A refused certificate refuses every URL of the host: each fails with that reason
            // (and goes to the retry list) rather than being skipped as disallowed.
            const bool refused = slot.certificate != net::CertificateProblem::kNone;
            NoteRobotsAnswer(slot.url, *slot.job, requeue != Requeue::kFailed || refused);
        }
        ShowSlotStatus(i, FetchStatusName(status));
        if (status == kStatusMoved && !store::FollowsRedirect(*slot.job)) {
            ShowStatusNote(i, "Location not followed: " + std::to_string(store::kMaxRedirects) +
                                  " redirects in a row");
        }
        if (status == kStatusError && slot.certificate != net::CertificateProblem::kNone) {
            ShowStatusNote(i, "Certificate refused: " +
                                  std::string(net::CertificateProblemText(slot.certificate)));
        }
        if (status == kStatusIOError) {
            LogMessage(std::string(FetchStatusName(status)) + ": " + slot.url);
            requeue = Requeue::kLater;
        }
        const std::size_t errors = error_urls_.size();
        if (requeue != Requeue::kNone && !slot.url.empty()) {
            RegisterRetry(slot.url, requeue == Requeue::kFailed);
        }
        ReportOutcome(i, status, requeue != Requeue::kNone && error_urls_.size() == errors);
        ReleaseSlot(i);
        if (slot.job != nullptr || slot.next_job != nullptr) busy = true;
    }
    deferring_investigations_ = false;
    if (!deferred_.empty()) {
        if (StartIdleWorkers(true)) busy = true;
        RunDeferredInvestigations();
    }
    return busy;
}

void KelvraClass::ReportOutcome(int i, int status, bool again) {
    WorkerSlot& slot = slots_[i];
    FetchOutcome outcome;
    outcome.url = slot.url;
    outcome.status = status;
    outcome.bytes = slot.connection->Consumed();
    outcome.again = again || (slot.flags & SlotFlag::kRetryNow) != 0;
    switch (status) {
        case kStatusNoGood:
        case kStatusUnAuth:
            // A site without robots.txt is the usual case, not a failure.
            if (slot.job == nullptr || (slot.job->flags & store::JobFlag::kRobots) == 0) {
                outcome.cause =
                    HttpFailure(slot.response_status, slot.connection->Buffer().Header());
            }
            break;
        case kStatusKilled:
            outcome.cause.kind = FailureKind::kStopped;
            break;
        case kStatusTooLong:
            outcome.cause.kind = FailureKind::kTooLarge;
            break;
        case kStatusBadSize:
            // The reader may take the end of the connection for the end of the body.
            outcome.cause = slot.cause.Failed()
                                ? slot.cause
                                : ChannelFailure(net::ChannelCode::kOk, FetchPhase::kBody, 0);
            break;
        case kStatusError:
        case kStatusIOError:
        case kStatusAbnormal:
            outcome.cause = slot.cause;
            break;
        default:
            break;  // it worked, or goes on at once
    }
    display_.Outcome(i, outcome);
}

int KelvraClass::DecideStatus(int i, Requeue& requeue) {
    WorkerSlot& slot = slots_[i];
    int status = kStatusAbnormal;
    switch (State(i)) {
        case WorkerState::kEnding:
            requeue = Requeue::kFailed;
            if (slot.header_arrived && slot.job != nullptr && CutBodyIsDetectable(slot)) {
                Transaction(i).HandleResponse(requeue);
            }
            // The socket was shut down under the worker: never reuse it.
            slot.connection->Close();
            slot.connection->transport().Rearm();
            slot.flags &= ~(SlotFlag::kRetryNow | SlotFlag::kKeep);
            status = kStatusKilled;
            break;
        case WorkerResult::kHeaderRead:
            status = Transaction(i).HandleResponse(requeue);
            break;
        case WorkerResult::kSendFailed:
            status = kStatusError;
            // A refused certificate stays refused: trying later again would change nothing.
            if (slot.job != nullptr) {
                requeue = slot.certificate == net::CertificateProblem::kNone ? Requeue::kLater
                                                                             : Requeue::kFailed;
            }
            break;
        case WorkerResult::kTempFileFailed:
            status = kStatusIOError;
            break;
        case WorkerResult::kKeptClosed:
            slot.flags |= SlotFlag::kRetryNow;
            status = kStatusRetry;
            break;
        case WorkerResult::kTooLong:
            status = kStatusTooLong;
            break;
        default:
            status = slot.header_arrived ? Transaction(i).HandleResponse(requeue) : kStatusAbnormal;
            if ((slot.flags & SlotFlag::kRetryNow) == 0) requeue = Requeue::kLater;
            break;
    }
    TakeExclusiveRight(i, status);
    return status;
}

void KelvraClass::TakeExclusiveRight(int i, int status) {
    bool authorizing = status == kStatusUnAuth || status == kStatusAuthPend;
    if (authorizing && auth_holder_ < 0 && State(i) == WorkerResult::kHeaderRead) auth_holder_ = i;
    if (!authorizing && auth_holder_ == i) auth_holder_ = -1;
}

void KelvraClass::CloseAllConnections() {
    for (WorkerSlot& slot : slots_) {
        slot.connection->Close();
        slot.connection->CloseTempFile();
    }
}

void KelvraClass::RegisterUnfinished() {
    for (int i = 0; i < count(); ++i) {
        WorkerSlot& slot = slots_[i];
        slot.flags &= ~SlotFlag::kRetryNow;
        if (slot.job != nullptr) RegisterError(slot.url);
        ReleaseSlot(i);
        if (slot.next_job != nullptr) RegisterError(slot.next_url);
        slot.next_job = nullptr;
        slot.next_url.clear();
        slot.flags &= ~SlotFlag::kKeep;
    }
    LogMessage("Registering error URLs ...");
    std::size_t limit = 2 * url_table_->QueueCount();
    std::string url;
    for (std::size_t n = 0; n < limit; ++n) {
        const Allowed allowed = url_table_->NextAllowed(url, true);
        if (allowed == Allowed::kNone) return;
        if (allowed == Allowed::kUrl) RegisterError(url);
    }
    // Entries that stayed blocked (a robots.txt that never came) fail as well.
    while (std::optional<std::string> rest = url_table_->Dequeue(true)) RegisterError(*rest);
}

}  // namespace kelvra::crawl
