#include "crawl/kelvra.h"

#include <algorithm>

#include "crawl/auth.h"
#include "crawl/fetch.h"
#include "crawl/fetchstatus.h"
#include "net/result_codes.h"
#include "net/transport.h"
#include "net/url.h"
#include "util/fileutil.h"

namespace kelvra::crawl {

namespace {

using namespace store::JobFlag;
using store::CommitFlags;
using store::CommitResult;
using store::RegetLevel;

}  // namespace

KelvraClass::KelvraClass(store::headerlist_cookie& store, int threads, const std::string& mcf_path,
                         CrawlDisplay& display)
    : ThreadClass(std::clamp(threads, 1, kMaxThreads)),
      store_(store),
      display_(display),
      store_objects_(store),
      url_table_(std::make_unique<CrawlUrlTable>(&store_objects_, store::PluginHost::kLibraryName)),
      slots_(static_cast<std::size_t>(count())) {
    limits_.Load(mcf_path);
    for (WorkerSlot& slot : slots_) slot.connection = std::make_unique<SlotConnection>();
    ManagerEvent(true);
}

KelvraClass::~KelvraClass() {
    KillAllWorkers();
}

// ---- set-up ---------------------------------------------------------------------------------

void KelvraClass::Setup(const CrawlEnvironment& environment) {
    environment_ = environment;
    environment_.retry_count = std::clamp(environment_.retry_count, 0, kMaxRetryCount);
    for (WorkerSlot& slot : slots_) {
        slot.connection->SetTimeout(environment_.timeout);
        slot.connection->SetProxies(&environment_.http_proxy, &environment_.ftp_proxy,
                                    &environment_.https_proxy);
        slot.connection->SetFtpLogin(environment_.ftp_user, environment_.ftp_password);
        // When this fails, each fetch's OpenTempFile tries again and the fetch reports it.
        static_cast<void>(slot.connection->MakeTempName());
    }
    ResetCrawl();
}

void KelvraClass::ResetCrawl() {
    drained_at_ = kNeverDrained;
    error_urls_.clear();
    error_cursor_ = 0;
    for (int i = 0; i < count(); ++i) {
        SetState(i, WorkerState::kIdle);
        WorkerSlot& slot = slots_[i];
        slot.url.clear();
        slot.job = nullptr;
        slot.next_url.clear();
        slot.next_job = nullptr;
        slot.flags = 0;
    }
    processed_ = 0;
    auth_holder_ = -1;
    accepted_.Clear();
}

long KelvraClass::Run(bool& completed) {
    completed = true;
    if (url_table_->QueueCount() == 0) return 0;
    ClearDisplay();
    stop_level_ = StopLevel::kNone;
    CrawlLoop();
    completed = stop_level_.load() == StopLevel::kNone;
    return processed_;
}

int KelvraClass::AddStartUrl(store::CrawlRequest& request) {
    int queued = url_table_->RegisterStartUrls(request);
    SignalManager();
    return queued;
}

void KelvraClass::Stop() {
    // Two requests at once still count twice.
    StopLevel level = stop_level_.load();
    while (level != StopLevel::kAbort &&
           !stop_level_.compare_exchange_weak(
               level, level == StopLevel::kNone ? StopLevel::kFinish : StopLevel::kAbort)) {
    }
    SignalManager();
}

void KelvraClass::Stop(StopLevel level) {
    stop_level_ = level;
    SignalManager();
}

// ---- error URLs and retries -----------------------------------------------------------------

bool KelvraClass::RequeueUrl(const std::string& url) {
    store::FetchJob* job = url_table_->GetJob(url);
    if (job == nullptr) return false;
    job->retry = 0;
    return url_table_->Enqueue(url, true);
}

const std::string* KelvraClass::ErrorUrl(bool first) {
    if (first) error_cursor_ = 0;
    if (error_cursor_ >= error_urls_.size()) return nullptr;
    return &error_urls_[error_cursor_++];
}

void KelvraClass::RegisterError(const std::string& url) {
    error_urls_.push_back(url);
}

void KelvraClass::RegisterRetry(const std::string& url, bool final) {
    store::FetchJob* job = url_table_->GetJob(url);
    if (job == nullptr) {
        RegisterError(url);
        return;
    }
    // A retry never uses stored data or caches.
    job->flags =
        (job->flags & ~kRegetMask) | static_cast<std::uint32_t>(RegetLevel::kFetchAll) | kNoCache;
    if (!final && job->retry < environment_.retry_count) {
        ++job->retry;
        url_table_->Enqueue(url, true);
        return;
    }
    RegisterError(url);
    // A URL that failed for good no longer forces its page objects in; the retry list written
    // from the error list carries the flag word that way.
    job->flags &= ~kSrcObject;
}

// ---- display --------------------------------------------------------------------------------

void KelvraClass::ShowSlotLine(int i, std::string_view text) {
    display_.SlotLine(i, text);
}

void KelvraClass::ShowSlotLineQueued(int i, std::string_view text, long queued) {
    display_.SlotLineQueued(i, text, queued);
}

void KelvraClass::ShowSlotStatus(int i, std::string_view text) {
    display_.SlotStatus(i, text);
}

void KelvraClass::ShowStatusNote(int i, std::string_view note) {
    LogMessage(slots_[i].url + ": " + std::string(note));
}

void KelvraClass::ShowProgress(int i, std::int64_t received, std::int64_t total) {
    display_.Progress(i, received, total);
}

void KelvraClass::LogMessage(std::string_view message) {
    display_.Log(message);
}

void KelvraClass::ClearDisplay() {
    display_.Clear();
}

// ---- authentication seams -------------------------------------------------------------------

bool KelvraClass::MakeAuthorization(std::string* out, std::string_view url,
                                    std::string_view challenge, bool attempt) {
    return AuthCodeStore(store_.DataDirectory()).MakeAuthorization(out, url, challenge, attempt);
}

bool KelvraClass::PrepareAuthorization(std::string_view url, std::string_view challenge,
                                       bool give_up) {
    auto ask = [this](std::string_view prompt, std::string& value) {
        return AskCredentials(display_, prompt, value);
    };
    return AuthCodeStore(store_.DataDirectory()).PrepareAuthorization(url, challenge, give_up, ask);
}

// ---- helpers --------------------------------------------------------------------------------

std::string KelvraClass::HostOf(std::string_view url) {
    std::string_view key = store::getlistmanager::UrlKey(url);
    return std::string(key.substr(0, key.find('/')));
}

bool KelvraClass::HasConnection(int i) const {
    return !slots_[i].connection->IsClosed();
}

void KelvraClass::InterruptWork(int i) {
    slots_[i].connection->transport().Interrupt();
}

FetchTransaction KelvraClass::Transaction(int i) {
    return FetchTransaction(*this, slots_[i], i);
}

WorkerState KelvraClass::Work(int i) {
    FetchTransaction transaction = Transaction(i);
    const WorkerResult result = transaction.RunFetch();
    if (result == WorkerResult::kHeaderRead) {
        transaction.CommitOnWorker();
        transaction.ReadLinksOnWorker();
    }
    return result;
}

}  // namespace kelvra::crawl
