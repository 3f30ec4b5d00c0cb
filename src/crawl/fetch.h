#pragma once
// One fetch transaction of a worker slot: the worker's half (request, response into the slot's
// temporary file, the early commit) and the scheduler's half (what the answer means for the
// stored copy). Made on the stack for each step; it owns nothing, the slot keeps the state.

#include <optional>
#include <string>
#include <string_view>

#include "crawl/kelvra.h"

namespace kelvra::crawl {

class FetchTransaction {
  public:
    // index is the slot's number in the pool: its display line and its worker's stop checks.
    FetchTransaction(KelvraClass& crawl, WorkerSlot& slot, int index);

    // Worker side: a WorkerResult (or WorkerState::kEnding when stopped before sending).
    WorkerResult RunFetch();
    void CommitOnWorker();
    void ReadLinksOnWorker();

    // Scheduler side: the FetchStatus of the answer; sets requeue when the URL goes again.
    int HandleResponse(Requeue& requeue);

  private:
    // kCut: the rest of the body is not wanted (a robots.txt past its limit).
    enum class ReadOutcome { kComplete, kCut, kTooLong, kFailed };

    // Request headers of the slot's URL (or the pipelined one); returns job (may set plain-GET).
    store::FetchJob* BuildRequestHeaders(const std::string& url, store::FetchJob* job,
                                         std::string& text, bool attempt);
    StoredState StoredStateOf(std::string_view url);

    // RunFetch steps.
    bool ReuseKeptConnection();
    void ShowFreshStart();
    bool PauseBeforeRequest();
    net::ChannelCode SendCurrent();
    WorkerResult ReadHeaderResult(bool reused_kept);
    ReadOutcome ReadBody(net::ChannelCode& code);
    WorkerResult FinishFetch(ReadOutcome outcome, net::ChannelCode code);
    bool PipelineNext();
    bool SendOn(const std::string& url, store::FetchJob* job);
    // Sends the request for url with the job's method and certificate checking.
    net::ChannelCode SendJob(const std::string& url, const store::FetchJob& job,
                             std::string_view text);
    bool KeepAliveResponse() const;

    // HandleResponse by status.
    int HandleNotModified(Requeue& requeue);
    int HandleMoved();
    int HandleResumed(Requeue& requeue);
    int HandleFull(Requeue& requeue);
    int HandleAuthorization(Requeue& requeue);
    bool RefusedOrNoneStored(std::string_view scope, std::string_view challenge);
    void NoteAcceptedCredentials();
    int HandleOther();
    store::Committed CommitSlot(unsigned flags);
    store::ReceivedBody ReceivedBodyInFile();
    store::Committed CommitNow(unsigned flags);
    // Why the transaction failed, into the slot for the scheduler.
    void NoteFailure(net::ChannelCode code, FetchPhase phase);
    // A refused certificate replaces the channel's cause: it says what to do about it.
    void NoteCertificateRefusal();
    void NoteStoreFailure();
    std::optional<unsigned> LeadingCommitFlags() const;
    void RetryPartial(Requeue& requeue);

    KelvraClass& crawl_;
    WorkerSlot& slot_;
    const int index_;
};

}  // namespace kelvra::crawl
