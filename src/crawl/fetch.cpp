#include "crawl/fetch.h"

#include <cerrno>

#include <cstdio>

#include "crawl/auth.h"
#include "crawl/fetchstatus.h"
#include "net/result_codes.h"
#include "store/store_names.h"
#include "util/fileutil.h"
#include "util/header.h"
#include "util/strutil.h"

namespace kelvra::crawl {

namespace {

using namespace store::JobFlag;
using store::CommitFlags;
using store::CommitResult;

constexpr std::int64_t kMaxRobotsBytes = store::PickupLinkClassEx::kMaxRobotsBytes;
constexpr std::string_view kProxyScope = ".";

bool IsAuthorizationStatus(int status) {
    return status == 401 || status == 407;
}

net::ConnectionSetting SettingOf(const WorkerSlot& slot) {
    return {slot.setting.keep_alive, slot.setting.version};
}

bool IsStrictCheck(const store::FetchJob& job) {
    return (job.flags & kStrictModifyCheck) != 0 && (job.flags & kPlainGet) == 0;
}

SentCredentials CredentialsIn(std::string_view request_headers) {
    return {std::string(util::FindHeader(request_headers, "Authorization:")),
            std::string(util::FindHeader(request_headers, "Proxy-Authorization:"))};
}

bool IsBasicValue(std::string_view value) {
    return util::StartsWithNoCase(value, "Basic ");
}

// Body bytes the temporary file holds so far (decoded, for a chunked body).
std::int64_t BodyBytesInFile(SlotConnection& connection) {
    std::FILE* temp = connection.TempStream();
    const off_t end = temp != nullptr ? ::ftello(temp) : -1;
    if (end < 0) return connection.Consumed();
    return static_cast<std::int64_t>(end) -
           static_cast<std::int64_t>(connection.Buffer().header_length);
}

// How a 200 or 206 answer is committed.
unsigned FullCommitFlags(const store::FetchJob& job) {
    if (IsStrictCheck(job)) return CommitFlags::HeadOnly;
    return (job.flags & kPreserveOldData) != 0 ? CommitFlags::KeepOldVersion : 0;
}

}  // namespace

FetchTransaction::FetchTransaction(KelvraClass& crawl, WorkerSlot& slot, int index)
    : crawl_(crawl), slot_(slot), index_(index) {}

// ---- request headers ------------------------------------------------------------------------

StoredState FetchTransaction::StoredStateOf(std::string_view url) {
    StoredState stored;
    const std::string key = store::KeyOfUrl(url);
    util::MutexLock lock(crawl_.store_.Mutex());
    crawl_.store_.BuildCookieHeader(url, key, stored.cookie_header);
    store::treelistnode* record = crawl_.store_.FindRecordByKey(key);
    if (record == nullptr) return stored;
    stored.has_record = true;
    std::string value;
    // The local file's size matters only to a partial object (resumed or compared by it).
    if (crawl_.store_.GetNodeField(record, "XRange:", value)) {
        stored.xrange = value;
        std::string path;
        if (crawl_.store_.GetNodeLocalPath(record, path)) stored.local_size = util::FileSize(path);
    }
    if (crawl_.store_.GetNodeLastModified(record, value)) stored.last_modified = value;
    stored.has_server_challenge = crawl_.store_.GetNodeField(record, "WA:", value);
    stored.has_proxy_challenge = crawl_.store_.GetNodeField(record, "PA:", value);
    return stored;
}

store::FetchJob* FetchTransaction::BuildRequestHeaders(const std::string& url, store::FetchJob* job,
                                                       std::string& text, bool attempt) {
    RequestInputs inputs;
    inputs.url = url;
    std::string referrer;
    if (job->referrer != nullptr) {
        util::MutexLock lock(crawl_.url_table_->mutex());
        referrer = crawl_.url_table_->EntryUrl(job->referrer);
        inputs.referrer = referrer;
    }
    if (job->rules != nullptr && job->rules->extra_header) {
        inputs.extra_header = *job->rules->extra_header;
    }
    inputs.attempt = attempt;
    inputs.authorization = [this, &url](std::string& value, std::string_view scope,
                                        bool in_attempt) {
        std::string challenge;
        crawl_.store_.GetUrlField(url, scope == kProxyScope ? "PA:" : "WA:", challenge);
        return crawl_.MakeAuthorization(&value, scope, challenge, in_attempt);
    };
    std::optional<std::string> accepted;
    if ((job->flags & kAuthentication) != 0) accepted = crawl_.accepted_.For(url);
    if (accepted) inputs.accepted_authorization = *accepted;
    std::uint32_t flags = job->flags;
    text = crawl::BuildRequestHeaders(inputs, StoredStateOf(url), flags);
    job->flags = flags;
    return job;
}

// ---- worker side ----------------------------------------------------------------------------

WorkerResult FetchTransaction::RunFetch() {
    slot_.response_status = 0;
    slot_.header_arrived = false;
    slot_.keep_response = false;
    slot_.worker_commit = {};
    slot_.found_links.source = store::LinkSource::kNone;
    slot_.cause = {};
    slot_.certificate = net::CertificateProblem::kNone;
    if (slot_.job == nullptr) return WorkerResult::kSendFailed;
    slot_.connection->transport().ArmStallGuard(crawl_.environment_.timeout);
    bool reused_kept = (slot_.flags & SlotFlag::kKeep) != 0 && ReuseKeptConnection();
    if (!reused_kept) {
        ShowFreshStart();
        if (!PauseBeforeRequest()) return WorkerState::kEnding;
        const net::ChannelCode sent = SendCurrent();
        if (sent != net::ChannelCode::kOk) {
            NoteFailure(sent, sent == net::ChannelCode::kSendFailed ? FetchPhase::kSend
                                                                    : FetchPhase::kConnect);
            NoteCertificateRefusal();
            slot_.connection->Close();
            return WorkerResult::kSendFailed;
        }
    }
    const WorkerResult header = ReadHeaderResult(reused_kept);
    if (header != WorkerResult::kHeaderRead) return header;
    const net::HttpMessageBuffer& buffer = slot_.connection->Buffer();
    if (crawl_.environment_.size_limit > 0 &&
        buffer.content_length > crawl_.environment_.size_limit) {
        slot_.connection->Close();
        return WorkerResult::kTooLong;
    }
    slot_.keep_response = KeepAliveResponse();
    if (slot_.keep_response && !IsAuthorizationStatus(slot_.response_status) &&
        slot_.setting.Pipelines() && PipelineNext()) {
        slot_.flags |= SlotFlag::kKeep;
    }
    net::ChannelCode code = net::ChannelCode::kOk;
    ReadOutcome outcome = ReadBody(code);
    // The temporary file is buffered: a full disk shows only when it is flushed. A 304 is not
    // stored, and its header need not reach the file at all.
    if (outcome == ReadOutcome::kComplete && slot_.response_status != 304 &&
        !slot_.connection->FlushTempFile()) {
        outcome = ReadOutcome::kFailed;
        code = net::ChannelCode::kTempFileFailed;
    }
    if (outcome == ReadOutcome::kFailed) NoteFailure(code, FetchPhase::kBody);
    return FinishFetch(outcome, code);
}

bool FetchTransaction::ReuseKeptConnection() {
    if (crawl_.HasConnection(index_) && slot_.connection->Peek(0) >= 0) {
        crawl_.ShowSlotLineQueued(index_, "*" + slot_.url,
                                  static_cast<long>(crawl_.url_table_->QueueCount()));
        slot_.flags |= SlotFlag::kReused;
        return true;
    }
    slot_.connection->Close();
    return false;
}

void FetchTransaction::ShowFreshStart() {
    const bool reused = crawl_.HasConnection(index_);
    if (reused) slot_.flags |= SlotFlag::kReused;
    crawl_.ShowSlotLineQueued(index_, reused ? "+" + slot_.url : slot_.url,
                              static_cast<long>(crawl_.url_table_->QueueCount()));
}

bool FetchTransaction::PauseBeforeRequest() {
    const int pause = slot_.setting.PauseMs();
    if (pause == 0) return !crawl_.StopRequested(index_);
    return crawl_.PauseUnlessStopped(index_, std::chrono::milliseconds(pause));
}

net::ChannelCode FetchTransaction::SendCurrent() {
    std::string text;
    BuildRequestHeaders(slot_.url, slot_.job, text, (slot_.flags & SlotFlag::kAttemptMask) != 0);
    slot_.sent = CredentialsIn(text);
    return SendJob(slot_.url, *slot_.job, text);
}

WorkerResult FetchTransaction::ReadHeaderResult(bool reused_kept) {
    slot_.flags &= ~SlotFlag::kKeep;
    const net::ResponseStatus read = slot_.connection->ReadStatus();
    slot_.response_status = read.status;
    // A redirection whose header was cut short after its Location line counts as arrived.
    slot_.header_arrived = slot_.connection->State() >= net::kHeaderComplete;
    if (read.Arrived()) return WorkerResult::kHeaderRead;
    NoteFailure(read.failure, FetchPhase::kHeader);
    slot_.connection->Close();
    if (read.failure == net::ChannelCode::kTempFileFailed) return WorkerResult::kTempFileFailed;
    if (read.PeerClosed() && reused_kept) return WorkerResult::kKeptClosed;
    return WorkerResult::kSendFailed;
}

FetchTransaction::ReadOutcome FetchTransaction::ReadBody(net::ChannelCode& code) {
    SlotConnection& connection = *slot_.connection;
    const net::HttpMessageBuffer& buffer = connection.Buffer();
    const std::int64_t header_length = static_cast<std::int64_t>(buffer.header_length);
    const std::int64_t total =
        buffer.content_length >= 0 ? header_length + buffer.content_length : -1;
    const std::int64_t limit = crawl_.environment_.size_limit;
    const bool robots = (slot_.job->flags & kRobots) != 0;
    int state = connection.State();
    while (state >= net::kAfterLf && state <= net::kAfterChunkData) {
        std::int64_t received = header_length + connection.Consumed();
        crawl_.ShowProgress(index_, received, total);
        if (limit > 0 && received > header_length + limit) return ReadOutcome::kTooLong;
        if (robots && BodyBytesInFile(connection) >= kMaxRobotsBytes) return ReadOutcome::kCut;
        state = connection.Step(code);
    }
    if (limit > 0 && connection.Consumed() > limit) return ReadOutcome::kTooLong;
    return state == net::kMessageComplete ? ReadOutcome::kComplete : ReadOutcome::kFailed;
}

WorkerResult FetchTransaction::FinishFetch(ReadOutcome outcome, net::ChannelCode code) {
    slot_.connection->FinishTransfer();
    if (outcome == ReadOutcome::kComplete) {
        bool may_keep = slot_.keep_response && !IsAuthorizationStatus(slot_.response_status);
        if (may_keep && slot_.setting.SendsAfterBody() && PipelineNext()) {
            slot_.flags |= SlotFlag::kKeep;
            return WorkerResult::kHeaderRead;
        }
        if (slot_.keep_response && slot_.setting.KeepsConnection())
            return WorkerResult::kHeaderRead;
        slot_.connection->Close();
        return WorkerResult::kHeaderRead;
    }
    slot_.connection->Close();
    if (outcome == ReadOutcome::kCut) return WorkerResult::kHeaderRead;
    if (outcome == ReadOutcome::kTooLong) return WorkerResult::kTooLong;
    return code == net::ChannelCode::kTempFileFailed ? WorkerResult::kTempFileFailed
                                                     : WorkerResult::kReadFailed;
}

bool FetchTransaction::PipelineNext() {
    const net::HttpMessageBuffer& buffer = slot_.connection->Buffer();
    if (crawl_.stop_level_.load() != StopLevel::kNone || !slot_.keep_response) return false;
    if (buffer.content_length < 0 && !buffer.chunked) return false;
    if (slot_.connection->Peek(0) < 0) return false;
    if (slot_.next_job == nullptr && !crawl_.PickSameHost(index_)) return false;
    return SendOn(slot_.next_url, slot_.next_job);
}

net::ChannelCode FetchTransaction::SendJob(const std::string& url, const store::FetchJob& job,
                                           std::string_view text) {
    slot_.connection->SetCertificateCheck(crawl_.environment_.check_certificates &&
                                          (job.flags & store::JobFlag::kAcceptAnyCertificate) == 0);
    return slot_.connection->Request(ChooseMethod(job.flags), url, SettingOf(slot_), text);
}

bool FetchTransaction::SendOn(const std::string& url, store::FetchJob* job) {
    std::string text;
    BuildRequestHeaders(url, job, text, false);
    slot_.next_sent = CredentialsIn(text);
    return SendJob(url, *job, text) == net::ChannelCode::kOk;
}

bool FetchTransaction::KeepAliveResponse() const {
    return net::KeepAliveResponse(slot_.connection->Buffer());
}

// ---- scheduler side -------------------------------------------------------------------------

namespace {

// The answers whose Location is followed (RFC 9110 §15.4; 300 and 305 name no single target).
bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

// The flags the handler of the slot's answer commits it with, when committing is the first thing
// that handler does and depends on nothing but the answer and the job; none otherwise (a 304
// commits nothing, an authorization answer first changes the stored challenge).
std::optional<unsigned> FetchTransaction::LeadingCommitFlags() const {
    const int status = slot_.response_status;
    if (slot_.job == nullptr || status == 304 || IsAuthorizationStatus(status)) return std::nullopt;
    if (IsRedirect(status)) return CommitFlags::MovedBody;
    if (status == 206 && (slot_.job->flags & kResume) != 0) return CommitFlags::Resume;
    if (status == 200 || status == 206) return FullCommitFlags(*slot_.job);
    if ((slot_.job->flags & kSaveErrorPage) != 0) return 0u;
    return std::nullopt;
}

// Storing a body (creating its file, copying it out of the temporary file, the journal line)
// is the largest part of handling an answer; done here it runs on the worker threads side by
// side instead of one after another on the scheduler's.
void FetchTransaction::CommitOnWorker() {
    const std::optional<unsigned> flags = LeadingCommitFlags();
    if (!flags) return;
    WorkerSlot::WorkerCommit commit;
    commit.flags = *flags;
    commit.committed = CommitNow(*flags);
    commit.made = true;
    slot_.worker_commit = commit;
}

// The link search of the page just answered: here it runs side by side with the other workers
// and with the next request on the wire, instead of one page after another on the scheduler's
// thread, which only admits what was found, in its own order. What the handler will not use
// (a stricter check, a partial file to resume) is only wasted work.
void FetchTransaction::ReadLinksOnWorker() {
    const store::FetchJob* job = slot_.job;
    const int status = slot_.response_status;
    const store::treelistnode* record = nullptr;
    bool follow = false;
    store::ReceivedBody body;
    if (status == 304) {
        util::MutexLock lock(crawl_.store_.Mutex());
        record = crawl_.store_.FindRecord(slot_.url);
        follow = job->trace != 0;
    } else if (slot_.worker_commit.made && (status == 200 || status == 206) &&
               (job->flags & kResume) == 0 && !IsStrictCheck(*job)) {
        const store::Committed& committed = slot_.worker_commit.committed;
        record = committed.record;
        follow = job->trace != 0 || committed.result == CommitResult::Stored ||
                 committed.result == CommitResult::Partial;
        // The stored file was copied whole from the temporary file, which is still at hand: no
        // second open of the file by its path.
        body = ReceivedBodyInFile();
    }
    if (record != nullptr) {
        crawl_.url_table_->ReadLinksAhead(slot_.url, record, *job, follow, slot_.found_links, body);
    }
}

// The body as the temporary file holds it, which may go on with an earlier response's bytes.
store::ReceivedBody FetchTransaction::ReceivedBodyInFile() {
    SlotConnection& connection = *slot_.connection;
    const net::HttpMessageBuffer& buffer = connection.Buffer();
    std::uint64_t end = static_cast<std::uint64_t>(connection.ResponseLength());
    if (buffer.content_length >= 0) {
        end = std::min<std::uint64_t>(
            end, buffer.header_length + static_cast<std::uint64_t>(buffer.content_length));
    }
    return {connection.ResponseStream(), buffer.header_length, end};
}

store::Committed FetchTransaction::CommitSlot(unsigned flags) {
    WorkerSlot::WorkerCommit& early = slot_.worker_commit;
    if (early.made && early.flags == flags) {
        early.made = false;
        return early.committed;
    }
    return CommitNow(flags);
}

store::Committed FetchTransaction::CommitNow(unsigned flags) {
    const net::HttpMessageBuffer& buffer = slot_.connection->Buffer();
    store::ReceivedObject object;
    object.header_length = static_cast<std::int64_t>(buffer.header_length);
    object.content_length = buffer.content_length;
    object.cut_short = !slot_.connection->BodyComplete();
    object.response_length = slot_.connection->ResponseLength();
    std::FILE* stream = slot_.connection->ResponseStream();
    if (stream == nullptr) {
        slot_.cause = LocalFileFailure(slot_.connection->TempFileLocation(), 0);
        return {};
    }
    // A robots.txt past its limit is taken as if it ended there.
    if ((slot_.job->flags & kRobots) != 0 &&
        object.response_length - object.header_length > kMaxRobotsBytes) {
        object.content_length = kMaxRobotsBytes;
        object.cut_short = false;
    }
    object.stop = [this] {
        return crawl_.StopRequested(index_) || crawl_.stop_level_.load() == StopLevel::kAbort;
    };
    store::Committed committed = crawl_.store_.Commit(slot_.url, stream, object, flags);
    if (committed.record == nullptr) NoteStoreFailure();
    return committed;
}

// Right after the failed call, before anything else can change errno.
void FetchTransaction::NoteFailure(net::ChannelCode code, FetchPhase phase) {
    const int error = errno;
    slot_.cause = code == net::ChannelCode::kTempFileFailed
                      ? LocalFileFailure(slot_.connection->TempFileLocation(), error)
                      : ChannelFailure(code, phase, error);
}

void FetchTransaction::NoteCertificateRefusal() {
    slot_.certificate = slot_.connection->Tls().Problem();
    if (slot_.certificate != net::CertificateProblem::kNone) {
        slot_.cause = CertificateFailure(net::CertificateProblemText(slot_.certificate));
    }
}

void FetchTransaction::NoteStoreFailure() {
    const int error = errno;
    if (crawl_.StopRequested(index_)) {
        slot_.cause.kind = FailureKind::kStopped;
        return;
    }
    // The object's own file when it has one already, else the directory it goes into.
    std::string path;
    if (!crawl_.store_.GetUrlLocalPath(slot_.url, path)) path = crawl_.store_.DataDirectory();
    slot_.cause = LocalFileFailure(std::move(path), error);
}

int FetchTransaction::HandleResponse(Requeue& requeue) {
    int status = slot_.response_status;
    bool resume = (slot_.job->flags & kResume) != 0;
    NoteAcceptedCredentials();
    if (status == 304) return HandleNotModified(requeue);
    if (IsRedirect(status)) return HandleMoved();
    if (status == 206 && resume) return HandleResumed(requeue);
    if (status == 200 || status == 206) return HandleFull(requeue);
    if (IsAuthorizationStatus(status)) return HandleAuthorization(requeue);
    return HandleOther();
}

int FetchTransaction::HandleNotModified(Requeue& requeue) {
    store::treelistnode* record = crawl_.store_.FindRecord(slot_.url);
    std::string xrange;
    if (record != nullptr && crawl_.store_.GetNodeField(record, "XRange:", xrange)) {
        // An unchanged partial file: resume it at once.
        slot_.job->flags |= kResume;
        if (requeue == Requeue::kNone) slot_.flags |= SlotFlag::kRetryNow;
    } else if (record != nullptr) {
        crawl_.Investigate(record, slot_.url, *slot_.job, slot_.job->trace != 0,
                           &slot_.found_links);
    }
    crawl_.CountProcessed();
    return kStatusNotModify;
}

int FetchTransaction::HandleMoved() {
    store::treelistnode* record = CommitSlot(CommitFlags::MovedBody).record;
    if (record == nullptr) return kStatusIOError;
    crawl_.Investigate(record, slot_.url, *slot_.job, true);
    crawl_.CountProcessed();
    return kStatusMoved;
}

void FetchTransaction::RetryPartial(Requeue& requeue) {
    if ((slot_.flags & SlotFlag::kReused) == 0 || requeue != Requeue::kNone) {
        requeue = Requeue::kLater;
        return;
    }
    slot_.flags |= SlotFlag::kRetryNow;
    slot_.job->flags |= kResume;
}

int FetchTransaction::HandleResumed(Requeue& requeue) {
    const auto [record, result] = CommitSlot(CommitFlags::Resume);
    if (record == nullptr) return kStatusIOError;
    int status = kStatusSuccess;
    if (result == CommitResult::Partial) {
        status = kStatusBadSize;
        RetryPartial(requeue);
    }
    crawl_.Investigate(record, slot_.url, *slot_.job, true);
    crawl_.CountProcessed();
    return status;
}

int FetchTransaction::HandleFull(Requeue& requeue) {
    store::FetchJob& job = *slot_.job;
    const bool strict = IsStrictCheck(job);
    const auto [record, result] = CommitSlot(FullCommitFlags(job));
    if (record == nullptr) return kStatusIOError;
    int status = kStatusSuccess;
    if (strict) {
        if (result == CommitResult::Unchanged) {
            status = kStatusSameData;
        } else if (result == CommitResult::NotNewer) {
            status = kStatusHeadOlder;
        } else if (result != CommitResult::Stored) {
            // Changed, or of unknown age: fetch it at once.
            job.flags |= kPlainGet;
            if (requeue == Requeue::kNone) slot_.flags |= SlotFlag::kRetryNow;
            return kStatusHeadOK;
        }
    } else if (result == CommitResult::Partial) {
        status = kStatusBadSize;
        RetryPartial(requeue);
    } else if (result == CommitResult::Unchanged) {
        status = kStatusSameData;
    }
    bool follow =
        job.trace != 0 || result == CommitResult::Stored || result == CommitResult::Partial;
    crawl_.Investigate(record, slot_.url, job, follow, &slot_.found_links);
    crawl_.CountProcessed();
    return status;
}

int FetchTransaction::HandleAuthorization(Requeue& requeue) {
    bool server = slot_.response_status == 401;
    bool in_force = !server || (slot_.job->flags & kAuthentication) != 0;
    std::string_view key = server ? "WA:" : "PA:";
    std::string scope = server ? slot_.url : std::string(kProxyScope);
    bool give_up = true;
    if (in_force) {
        // The challenge of this answer, else the one stored from an earlier answer.
        std::string challenge(
            util::FindHeader(slot_.connection->Buffer().Header(),
                             server ? "WWW-Authenticate:" : "Proxy-Authenticate:"));
        while (!challenge.empty() && static_cast<unsigned char>(challenge.back()) < 0x20) {
            challenge.pop_back();
        }
        bool has_challenge =
            !challenge.empty() || crawl_.store_.GetUrlField(slot_.url, key, challenge);
        std::uint32_t attempt = slot_.flags & SlotFlag::kAttemptMask;
        bool basic = has_challenge && !challenge.starts_with("NTLM");
        give_up = attempt + 1 > 2 || (basic && RefusedOrNoneStored(scope, challenge));
        slot_.flags &= ~SlotFlag::kAttemptMask;
        if (!give_up) slot_.flags |= attempt + 1;
        if (give_up) crawl_.store_.RemoveField(slot_.url, key);
    }
    store::treelistnode* record = CommitSlot(0).record;
    if (record == nullptr) return kStatusIOError;
    if (in_force) {
        std::string challenge;
        crawl_.store_.GetNodeField(record, key, challenge);
        if (crawl_.PrepareAuthorization(scope, challenge, give_up) && requeue == Requeue::kNone) {
            slot_.flags |= SlotFlag::kRetryNow;
        } else {
            requeue = Requeue::kFailed;
        }
    }
    return give_up ? kStatusUnAuth : kStatusAuthPend;
}

// A Basic challenge is answered with the stored credentials of its scope, unless there are
// none or they are the ones the server has just refused: then the user is asked.
bool FetchTransaction::RefusedOrNoneStored(std::string_view scope, std::string_view challenge) {
    std::string stored;
    if (!crawl_.MakeAuthorization(&stored, scope, challenge, true)) return true;
    return stored == (scope == kProxyScope ? slot_.sent.proxy : slot_.sent.server);
}

// Basic credentials the server took are sent ahead below their directory from now on.
void FetchTransaction::NoteAcceptedCredentials() {
    const int status = slot_.response_status;
    const std::string& sent = slot_.sent.server;
    if (status < 200 || status > 399 || (slot_.job->flags & kAuthentication) == 0 ||
        !IsBasicValue(sent) || crawl_.accepted_.For(slot_.url) == sent) {
        return;
    }
    std::optional<std::string> scope =
        AuthCodeStore(crawl_.store_.DataDirectory()).ScopeHolding(slot_.url, sent);
    if (scope) crawl_.accepted_.Note(slot_.url, std::move(*scope), sent);
}

int FetchTransaction::HandleOther() {
    if ((slot_.job->flags & kSaveErrorPage) != 0) {
        if (CommitSlot(0).record == nullptr) return kStatusIOError;
    }
    return kStatusNoGood;
}

}  // namespace kelvra::crawl
