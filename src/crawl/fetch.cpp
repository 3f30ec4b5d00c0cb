// The fetch transaction: the worker's half (request, response into the temporary file) and
// the scheduler's half (what the answer means for the stored copy).
#include <cstdio>

#include "crawl/auth.h"
#include "crawl/fetchstatus.h"
#include "crawl/kelvra.h"
#include "net/result_codes.h"
#include "util/fileutil.h"
#include "util/header.h"
#include "util/strutil.h"

namespace kelvra::crawl {

namespace {

using namespace store::JobFlag;
using store::CommitFlags;
using store::CommitResult;

constexpr int kMaxChannelStatus = 0x7FFF;
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

// ---- request headers ------------------------------------------------------------------------

StoredState KelvraClass::StoredStateOf(std::string_view url) {
    StoredState stored;
    util::MutexLock lock(store_.Mutex());
    store_.BuildCookieHeader(url, stored.cookie_header);
    store::treelistnode* record = store_.FindRecord(url);
    if (record == nullptr) return stored;
    stored.has_record = true;
    std::string value;
    if (store_.GetNodeField(record, "XRange:", value)) stored.xrange = value;
    std::string path;
    if (store_.GetNodeLocalPath(record, path)) stored.local_size = util::FileSize(path);
    if (store_.GetNodeLastModified(record, value)) stored.last_modified = value;
    stored.has_server_challenge = store_.GetNodeField(record, "WA:", value);
    stored.has_proxy_challenge = store_.GetNodeField(record, "PA:", value);
    return stored;
}

store::FetchJob* KelvraClass::BuildRequestHeaders(const std::string& url, store::FetchJob* job,
                                                  std::string& text, bool attempt) {
    RequestInputs inputs;
    inputs.url = url;
    std::string referrer;
    if (job->referrer != nullptr) {
        util::MutexLock lock(url_table_->mutex());
        referrer = url_table_->EntryUrl(job->referrer);
        inputs.referrer = referrer;
    }
    if (job->rules != nullptr && job->rules->extra_header) {
        inputs.extra_header = *job->rules->extra_header;
    }
    inputs.attempt = attempt;
    inputs.authorization = [this, &url](std::string& value, std::string_view scope,
                                        bool in_attempt) {
        std::string challenge;
        store_.GetUrlField(url, scope == kProxyScope ? "PA:" : "WA:", challenge);
        return MakeAuthorization(&value, scope, challenge, in_attempt);
    };
    std::optional<std::string> accepted;
    if ((job->flags & kAuthentication) != 0) accepted = accepted_.For(url);
    if (accepted) inputs.accepted_authorization = *accepted;
    std::uint32_t flags = job->flags;
    text = crawl::BuildRequestHeaders(inputs, StoredStateOf(url), flags);
    job->flags = flags;
    return job;
}

// ---- worker side ----------------------------------------------------------------------------

int KelvraClass::RunFetch(int i) {
    WorkerSlot& slot = slots_[i];
    slot.response_status = 0;
    slot.header_arrived = false;
    slot.keep_response = false;
    slot.worker_commit = {};
    if (slot.job == nullptr) return WorkerResult::kSendFailed;
    slot.connection->transport().ArmStallGuard(environment_.timeout);
    bool reused_kept = (slot.flags & SlotFlag::kKeep) != 0 && ReuseKeptConnection(i);
    if (!reused_kept) {
        ShowFreshStart(i);
        if (!PauseBeforeRequest(i)) return WorkerState::kEnding;
        if (SendCurrent(i) != net::kChannelOk) {
            slot.connection->Close();
            return WorkerResult::kSendFailed;
        }
    }
    int header = ReadHeaderResult(i, reused_kept);
    if (header != WorkerResult::kHeaderRead) return header;
    const net::HttpMessageBuffer& buffer = slot.connection->Buffer();
    if (environment_.size_limit > 0 && buffer.content_length > environment_.size_limit) {
        slot.connection->Close();
        return WorkerResult::kTooLong;
    }
    slot.keep_response = KeepAliveResponse(i);
    if (slot.keep_response && !IsAuthorizationStatus(slot.response_status) &&
        slot.setting.keep_alive == 2 && PipelineNext(i)) {
        slot.flags |= SlotFlag::kKeep;
    }
    int code = net::kChannelOk;
    ReadOutcome outcome = ReadBody(i, code);
    return FinishFetch(i, outcome, code);
}

bool KelvraClass::ReuseKeptConnection(int i) {
    WorkerSlot& slot = slots_[i];
    if (HasConnection(i) && slot.connection->Peek(0) >= 0) {
        ShowSlotLineQueued(i, "*" + slot.url, static_cast<long>(url_table_->QueueCount()));
        slot.flags |= SlotFlag::kReused;
        return true;
    }
    slot.connection->Close();
    return false;
}

void KelvraClass::ShowFreshStart(int i) {
    WorkerSlot& slot = slots_[i];
    std::string line = slot.url;
    if (HasConnection(i)) {
        line.insert(0, "+");
        slot.flags |= SlotFlag::kReused;
    }
    ShowSlotLineQueued(i, line, static_cast<long>(url_table_->QueueCount()));
}

bool KelvraClass::PauseBeforeRequest(int i) {
    int keep_alive = slots_[i].setting.keep_alive;
    int pause = keep_alive < 0 ? -keep_alive : (keep_alive > 2 ? keep_alive : 0);
    if (pause == 0) return !StopRequested(i);
    return PauseUnlessStopped(i, std::chrono::milliseconds(pause));
}

int KelvraClass::SendCurrent(int i) {
    WorkerSlot& slot = slots_[i];
    std::string text;
    BuildRequestHeaders(slot.url, slot.job, text, (slot.flags & SlotFlag::kAttemptMask) != 0);
    slot.sent = CredentialsIn(text);
    return slot.connection->Request(ChooseMethod(slot.job->flags), slot.url, SettingOf(slot), text);
}

int KelvraClass::ReadHeaderResult(int i, bool reused_kept) {
    WorkerSlot& slot = slots_[i];
    slot.flags &= ~SlotFlag::kKeep;
    int status = slot.connection->ReadStatus();
    slot.response_status = status;
    // A redirection whose header was cut short after its Location line counts as arrived.
    slot.header_arrived = slot.connection->State() >= net::kHeaderComplete;
    if (status >= 100 && status <= kMaxChannelStatus) return WorkerResult::kHeaderRead;
    slot.connection->Close();
    if (status == net::kTempFileFailed) return WorkerResult::kTempFileFailed;
    if (status == 0 && reused_kept) return WorkerResult::kKeptClosed;
    return WorkerResult::kSendFailed;
}

KelvraClass::ReadOutcome KelvraClass::ReadBody(int i, int& code) {
    SlotConnection& connection = *slots_[i].connection;
    const net::HttpMessageBuffer& buffer = connection.Buffer();
    const std::int64_t header_length = static_cast<std::int64_t>(buffer.header_length);
    const std::int64_t total =
        buffer.content_length >= 0 ? header_length + buffer.content_length : -1;
    const std::int64_t limit = environment_.size_limit;
    const bool robots = (slots_[i].job->flags & kRobots) != 0;
    int state = connection.State();
    while (state >= net::kAfterLf && state <= net::kAfterChunkData) {
        std::int64_t received = header_length + connection.Consumed();
        ShowProgress(i, received, total);
        if (limit > 0 && received > header_length + limit) return ReadOutcome::kTooLong;
        if (robots && BodyBytesInFile(connection) >= kMaxRobotsBytes) return ReadOutcome::kCut;
        state = connection.Step(code);
    }
    if (limit > 0 && connection.Consumed() > limit) return ReadOutcome::kTooLong;
    return state == net::kMessageComplete ? ReadOutcome::kComplete : ReadOutcome::kFailed;
}

int KelvraClass::FinishFetch(int i, ReadOutcome outcome, int code) {
    WorkerSlot& slot = slots_[i];
    slot.connection->FinishTransfer();
    if (outcome == ReadOutcome::kComplete) {
        bool may_keep = slot.keep_response && !IsAuthorizationStatus(slot.response_status);
        if (may_keep && slot.setting.keep_alive == 1 && PipelineNext(i)) {
            slot.flags |= SlotFlag::kKeep;
            return WorkerResult::kHeaderRead;
        }
        if (slot.keep_response && slot.setting.keep_alive > 0) return WorkerResult::kHeaderRead;
        slot.connection->Close();
        return WorkerResult::kHeaderRead;
    }
    slot.connection->Close();
    if (outcome == ReadOutcome::kCut) return WorkerResult::kHeaderRead;
    if (outcome == ReadOutcome::kTooLong) return WorkerResult::kTooLong;
    return code == net::kTempFileFailed ? WorkerResult::kTempFileFailed : WorkerResult::kReadFailed;
}

bool KelvraClass::PipelineNext(int i) {
    WorkerSlot& slot = slots_[i];
    const net::HttpMessageBuffer& buffer = slot.connection->Buffer();
    if (stop_level_.load() > 0 || !KeepAliveResponse(i)) return false;
    if (buffer.content_length < 0 && !buffer.chunked) return false;
    if (slot.connection->Peek(0) < 0) return false;
    if (slot.next_job == nullptr && !PickSameHost(i)) return false;
    return SendOn(i, slot.next_url, slot.next_job);
}

bool KelvraClass::SendOn(int i, const std::string& url, store::FetchJob* job) {
    WorkerSlot& slot = slots_[i];
    std::string text;
    BuildRequestHeaders(url, job, text, false);
    slot.next_sent = CredentialsIn(text);
    return slot.connection->Request(ChooseMethod(job->flags), url, SettingOf(slot), text) ==
           net::kChannelOk;
}

// ---- scheduler side -------------------------------------------------------------------------

// The flags the handler of slot i's answer commits it with, when committing is the first thing
// that handler does and depends on nothing but the answer and the job; none otherwise (a 304
// commits nothing, an authorization answer first changes the stored challenge).
std::optional<unsigned> KelvraClass::LeadingCommitFlags(int i) const {
    const WorkerSlot& slot = slots_[i];
    const int status = slot.response_status;
    if (slot.job == nullptr || status == 304 || IsAuthorizationStatus(status)) return std::nullopt;
    if (status == 301 || status == 302) return CommitFlags::MovedBody;
    if (status == 206 && (slot.job->flags & kResume) != 0) return CommitFlags::Resume;
    if (status == 200 || status == 206) return FullCommitFlags(*slot.job);
    if ((slot.job->flags & kSaveErrorPage) != 0) return 0u;
    return std::nullopt;
}

// Storing a body (creating its file, copying it out of the temporary file, the journal line)
// is the largest part of handling an answer; done here it runs on the worker threads side by
// side instead of one after another on the scheduler's.
void KelvraClass::CommitOnWorker(int i) {
    WorkerSlot& slot = slots_[i];
    const std::optional<unsigned> flags = LeadingCommitFlags(i);
    if (!flags) return;
    WorkerSlot::WorkerCommit commit;
    commit.flags = *flags;
    commit.record = CommitNow(i, *flags, commit.result);
    commit.made = true;
    slot.worker_commit = commit;
}

store::treelistnode* KelvraClass::CommitSlot(int i, unsigned flags, CommitResult& result) {
    WorkerSlot::WorkerCommit& early = slots_[i].worker_commit;
    if (early.made && early.flags == flags) {
        early.made = false;
        result = early.result;
        return early.record;
    }
    return CommitNow(i, flags, result);
}

store::treelistnode* KelvraClass::CommitNow(int i, unsigned flags, CommitResult& result) {
    WorkerSlot& slot = slots_[i];
    const net::HttpMessageBuffer& buffer = slot.connection->Buffer();
    store::ReceivedObject object;
    object.header_length = static_cast<std::int64_t>(buffer.header_length);
    object.content_length = buffer.content_length;
    object.cut_short = !slot.connection->BodyComplete();
    std::FILE* stream = slot.connection->TempStream();
    if (stream == nullptr) return nullptr;
    // A robots.txt past its limit is taken as if it ended there.
    if ((slot.job->flags & kRobots) != 0 &&
        store::StreamSize(stream) - object.header_length > kMaxRobotsBytes) {
        object.content_length = kMaxRobotsBytes;
        object.cut_short = false;
    }
    object.stop = [this, i] { return StopRequested(i) || stop_level_.load() >= 2; };
    result = CommitResult::Failed;
    return store_.Commit(slot.url, stream, object, result, flags);
}

int KelvraClass::HandleResponse(int i, int& requeue) {
    int status = slots_[i].response_status;
    bool resume = (slots_[i].job->flags & kResume) != 0;
    NoteAcceptedCredentials(i);
    if (status == 304) return HandleNotModified(i, requeue);
    if (status == 301 || status == 302) return HandleMoved(i);
    if (status == 206 && resume) return HandleResumed(i, requeue);
    if (status == 200 || status == 206) return HandleFull(i, requeue);
    if (IsAuthorizationStatus(status)) return HandleAuthorization(i, requeue);
    return HandleOther(i);
}

int KelvraClass::HandleNotModified(int i, int& requeue) {
    WorkerSlot& slot = slots_[i];
    store::treelistnode* record = store_.FindRecord(slot.url);
    std::string xrange;
    if (record != nullptr && store_.GetNodeField(record, "XRange:", xrange)) {
        // An unchanged partial file: resume it at once.
        slot.job->flags |= kResume;
        if (requeue == Requeue::kNone) slot.flags |= SlotFlag::kRetryNow;
    } else if (record != nullptr) {
        Investigate(record, slot.url, *slot.job, slot.job->trace != 0);
    }
    CountProcessed();
    return kStatusNotModify;
}

int KelvraClass::HandleMoved(int i) {
    CommitResult result = CommitResult::Failed;
    store::treelistnode* record = CommitSlot(i, CommitFlags::MovedBody, result);
    if (record == nullptr) return kStatusIOError;
    Investigate(record, slots_[i].url, *slots_[i].job, true);
    CountProcessed();
    return kStatusMoved;
}

void KelvraClass::RetryPartial(int i, int& requeue) {
    WorkerSlot& slot = slots_[i];
    if ((slot.flags & SlotFlag::kReused) == 0 || requeue != Requeue::kNone) {
        requeue = Requeue::kLater;
        return;
    }
    slot.flags |= SlotFlag::kRetryNow;
    slot.job->flags |= kResume;
}

int KelvraClass::HandleResumed(int i, int& requeue) {
    CommitResult result = CommitResult::Failed;
    store::treelistnode* record = CommitSlot(i, CommitFlags::Resume, result);
    if (record == nullptr) return kStatusIOError;
    int status = kStatusSuccess;
    if (result == CommitResult::Partial) {
        status = kStatusBadSize;
        RetryPartial(i, requeue);
    }
    Investigate(record, slots_[i].url, *slots_[i].job, true);
    CountProcessed();
    return status;
}

int KelvraClass::HandleFull(int i, int& requeue) {
    WorkerSlot& slot = slots_[i];
    store::FetchJob& job = *slot.job;
    const bool strict = IsStrictCheck(job);
    CommitResult result = CommitResult::Failed;
    store::treelistnode* record = CommitSlot(i, FullCommitFlags(job), result);
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
            if (requeue == Requeue::kNone) slot.flags |= SlotFlag::kRetryNow;
            return kStatusHeadOK;
        }
    } else if (result == CommitResult::Partial) {
        status = kStatusBadSize;
        RetryPartial(i, requeue);
    } else if (result == CommitResult::Unchanged) {
        status = kStatusSameData;
    }
    bool follow =
        job.trace != 0 || result == CommitResult::Stored || result == CommitResult::Partial;
    Investigate(record, slot.url, job, follow);
    CountProcessed();
    return status;
}

int KelvraClass::HandleAuthorization(int i, int& requeue) {
    WorkerSlot& slot = slots_[i];
    bool server = slot.response_status == 401;
    bool in_force = !server || (slot.job->flags & kAuthentication) != 0;
    std::string_view key = server ? "WA:" : "PA:";
    std::string scope = server ? slot.url : std::string(kProxyScope);
    bool give_up = true;
    if (in_force) {
        // The challenge of this answer, else the one stored from an earlier answer.
        std::string challenge(
            util::FindHeader(slot.connection->Buffer().Header(),
                             server ? "WWW-Authenticate:" : "Proxy-Authenticate:"));
        while (!challenge.empty() && static_cast<unsigned char>(challenge.back()) < 0x20) {
            challenge.pop_back();
        }
        bool has_challenge = !challenge.empty() || store_.GetUrlField(slot.url, key, challenge);
        std::uint32_t attempt = slot.flags & SlotFlag::kAttemptMask;
        bool basic = has_challenge && !challenge.starts_with("NTLM");
        give_up = attempt + 1 > 2 || (basic && RefusedOrNoneStored(i, scope, challenge));
        slot.flags &= ~SlotFlag::kAttemptMask;
        if (!give_up) slot.flags |= attempt + 1;
        if (give_up) store_.RemoveField(slot.url, key);
    }
    CommitResult result = CommitResult::Failed;
    store::treelistnode* record = CommitSlot(i, 0, result);
    if (record == nullptr) return kStatusIOError;
    if (in_force) {
        std::string challenge;
        store_.GetNodeField(record, key, challenge);
        if (PrepareAuthorization(scope, challenge, give_up) && requeue == Requeue::kNone) {
            slot.flags |= SlotFlag::kRetryNow;
        } else {
            requeue = Requeue::kFailed;
        }
    }
    return give_up ? kStatusUnAuth : kStatusAuthPend;
}

// A Basic challenge is answered with the stored credentials of its scope, unless there are
// none or they are the ones the server has just refused: then the user is asked.
bool KelvraClass::RefusedOrNoneStored(int i, std::string_view scope, std::string_view challenge) {
    const WorkerSlot& slot = slots_[i];
    std::string stored;
    if (!MakeAuthorization(&stored, scope, challenge, true)) return true;
    return stored == (scope == kProxyScope ? slot.sent.proxy : slot.sent.server);
}

// Basic credentials the server took are sent ahead below their directory from now on.
void KelvraClass::NoteAcceptedCredentials(int i) {
    const WorkerSlot& slot = slots_[i];
    const int status = slot.response_status;
    const std::string& sent = slot.sent.server;
    if (status < 200 || status > 399 || (slot.job->flags & kAuthentication) == 0 ||
        !IsBasicValue(sent) || accepted_.For(slot.url) == sent) {
        return;
    }
    std::optional<std::string> scope =
        AuthCodeStore(store_.DataDirectory()).ScopeHolding(slot.url, sent);
    if (scope) accepted_.Note(slot.url, std::move(*scope), sent);
}

int KelvraClass::HandleOther(int i) {
    if ((slots_[i].job->flags & kSaveErrorPage) != 0) {
        CommitResult result = CommitResult::Failed;
        if (CommitSlot(i, 0, result) == nullptr) return kStatusIOError;
    }
    return kStatusNoGood;
}

void KelvraClass::Investigate(const store::treelistnode* record, std::string_view url,
                              const store::FetchJob& job, bool follow) {
    LogMessage("Investigating: " + std::string(url));
    url_table_->ProcessObject(url, record, job, follow);
    LogMessage(std::string(url) + " .... done.");
}

}  // namespace kelvra::crawl
