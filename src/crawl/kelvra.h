#pragma once
// The crawl engine: a pool of worker threads, one slot and one connection per worker, the
// crawl's URL table and per-server limits, and the scheduler loop that hands URLs to idle
// workers, judges their answers, commits them to the store and registers failures.
//
// Use (the app layer):
//   KelvraClass crawl(store, settings.GetThread, data_dir + "kelvra.mcf", display);
//   crawl.Setup(environment);            // proxies, time-out, retries, size limit
//   crawl.AddStartUrl(request);          // once per acquisition request
//   bool completed = false;
//   long processed = crawl.Run(completed);
//   ... Stop() from another thread (SIGINT, dialog close) ends it early.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crawl/auth.h"
#include "crawl/crawldisplay.h"
#include "crawl/failurecause.h"
#include "crawl/maxconnect.h"
#include "crawl/requestheaders.h"
#include "crawl/slotconnection.h"
#include "crawl/threadclass.h"
#include "crawl/urltable.h"
#include "net/proxy.h"
#include "store/fetchjob.h"
#include "store/headerlist_cookie.h"

namespace kelvra::crawl {

class FetchTransaction;

// The settings a crawl takes from the application.
struct CrawlEnvironment {
    net::ProxySetting http_proxy;
    net::ProxySetting ftp_proxy;
    net::ProxySetting https_proxy;   // CONNECT tunnels for https
    bool check_certificates = true;  // false: https certificates accepted unchecked (--insecure)
    std::string ftp_user;            // empty: "anonymous"
    std::string ftp_password;
    int timeout = 0;              // seconds per receive (GetTimeout); 0: no limit
    int retry_count = 0;          // RetryCount, 0..255
    std::int64_t size_limit = 0;  // bytes (SizeLimit); 0: none
    std::string progress_log;     // ProgressLog name; empty: no log
};

// The credentials one request carried: what a challenge in its answer refuses.
struct SentCredentials {
    std::string server;  // "Authorization:" value
    std::string proxy;   // "Proxy-Authorization:" value
};

struct WorkerSlot {
    std::unique_ptr<SlotConnection> connection;
    std::string url;  // current URL
    store::FetchJob* job = nullptr;
    SentCredentials sent;
    std::string next_url;  // pipelined (kKeep) or reserved
    store::FetchJob* next_job = nullptr;
    SentCredentials next_sent;
    std::uint32_t flags = 0;  // SlotFlag bits
    ServerLimit setting;
    std::string previous_host;  // host of the slot's previous URL
    bool on_hold = false;
    // The last transaction as the worker left it.
    int response_status = 0;  // HTTP status of the answer; 0 when none arrived
    // Why the server's https certificate was refused, when that failed the request.
    net::CertificateProblem certificate = net::CertificateProblem::kNone;
    bool header_arrived = false;
    bool keep_response = false;
    FailureCause cause;  // why the last transaction failed
    // The commit the worker made itself right after a whole answer (see
    // FetchTransaction::CommitOnWorker), for the scheduler's handler to take instead of
    // committing again.
    struct WorkerCommit {
        bool made = false;
        unsigned flags = 0;
        store::Committed committed;
    } worker_commit;
    // The links of the page just answered, read by the worker (see
    // FetchTransaction::ReadLinksOnWorker), for the scheduler to admit.
    store::FoundLinks found_links;
};

class KelvraClass : public ThreadClass {
  public:
    static constexpr int kMaxThreads = 10;
    static constexpr int kMaxRetryCount = 255;
    static constexpr std::size_t kRememberedHosts = 10;
    struct HostAtLimit {
        std::string name;
        int connections = 0;
    };

    // threads is clamped to 1..kMaxThreads. mcf_path is read now (missing: defaults).
    KelvraClass(store::headerlist_cookie& store, int threads, const std::string& mcf_path,
                CrawlDisplay& display);
    ~KelvraClass() override;

    void Setup(const CrawlEnvironment& environment);
    void ResetCrawl();
    // 0 at once when nothing is queued; otherwise crawls until done or stopped. completed tells
    // whether it ended without a stop. Returns the processed count.
    long Run(bool& completed);
    // Queues the start URLs of one request; the number queued.
    virtual int AddStartUrl(store::CrawlRequest& request);
    bool RequeueUrl(const std::string& url);
    // The first (or next) error URL; nullptr at the end.
    const std::string* ErrorUrl(bool first);
    bool HasErrorUrls() const { return !error_urls_.empty(); }
    // One level further (closing the dialog once finishes, twice aborts); or that level.
    void Stop();
    void Stop(StopLevel level);
    int WriteRetryList(const std::string& path);
    // Keeps the URLs not finished yet (failed, running, queued) in a retry list at path while
    // the crawl runs, so that a killed run can be finished: rewritten whole at most once a
    // second and when the crawl ends, removed when nothing is left. Empty: none kept.
    void KeepUnfinishedList(std::string path) { unfinished_path_ = std::move(path); }
    int ReadRetryList(const std::string& path);

    void CrawlLoop();
    int PrepareSlot(int i);
    void ReleaseSlot(int i);
    const std::string* PickNext(int i);
    bool PickSameHost(int i);
    // found: the object's links as a worker read them ahead, or nullptr. They are taken only
    // when the investigation has to wait; otherwise the slot keeps its buffers for the next page.
    void Investigate(const store::treelistnode* record, std::string_view url,
                     const store::FetchJob& job, bool follow, store::FoundLinks* found = nullptr);
    void RegisterRetry(const std::string& url, bool final);

    // Credentials of the "$AuthCode$" files in the data directory (see auth.h); the user is
    // asked through the display's AskCredentials.
    bool MakeAuthorization(std::string* out, std::string_view url, std::string_view challenge,
                           bool attempt);
    bool PrepareAuthorization(std::string_view url, std::string_view challenge, bool give_up);

    // Display operations.
    void ShowSlotLine(int i, std::string_view text);
    void ShowSlotLineQueued(int i, std::string_view text, long queued);
    virtual void ShowSlotStatus(int i, std::string_view text);
    // Why the status just shown for slot i's URL is not the whole story: a log line.
    virtual void ShowStatusNote(int i, std::string_view note);
    void ShowProgress(int i, std::int64_t received, std::int64_t total);
    void LogMessage(std::string_view message);
    void ClearDisplay();

    void RegisterError(const std::string& url);

    // The worker body: slot i's fetch transaction.
    WorkerState Work(int i) override;
    // The worker takes the scheduler's turn itself (see OfferTurn).
    void WorkDone(int i) override;

    long Processed() const { return processed_; }
    StopLevel stop_level() const { return stop_level_.load(); }
    const std::vector<std::string>& ErrorUrls() const { return error_urls_; }
    CrawlUrlTable& url_table() { return *url_table_; }
    MaxConnectClass& limits() { return limits_; }
    const WorkerSlot& slot(int i) const { return slots_[i]; }
    // The slot holding the exclusive right for an authorization exchange, or -1.
    int AuthorizationHolder() const { return auth_holder_; }

  protected:
    void InterruptWork(int i) override;
    CrawlDisplay& display() { return display_; }
    const CrawlEnvironment& environment() const { return environment_; }
    store::headerlist_cookie& store() { return store_; }

  private:
    // The transaction works on the crawl's store, URL table, limits and display.
    friend class FetchTransaction;

    FetchTransaction Transaction(int i);
    void CountProcessed() { ++processed_; }

    // What one turn of the scheduler left behind.
    struct TurnResult {
        bool busy = false;     // work runs or waits to be started
        bool running = false;  // some worker is not idle
    };
    // The scheduler's work runs in turns, one thread at a time: collecting results, admitting
    // their links, starting idle workers. A worker that has finished takes the turn itself, so
    // neither it nor the crawl's own thread sleeps and wakes for every answer. Runs the turns
    // asked for while the lock is free; nothing when another thread holds it (that thread runs
    // the turn asked for when it is done).
    std::optional<TurnResult> OfferTurn();
    // The crawl's own thread waits for the turn on the manager event, never on the lock: a
    // worker's turn may be asking the user something through that thread.
    std::unique_lock<std::mutex> AwaitTurn();
    TurnResult Turn();
    // CrawlLoop steps.
    void DrainStored();
    void WaitForNetwork();
    // Slots that are idle get work; with pipelined_only, only those whose next request is on
    // the wire already (their next URL was chosen before any link of the answers just handled
    // was admitted, so starting them early changes no choice).
    bool StartIdleWorkers(bool pipelined_only = false);
    bool CollectResults();
    // The link searches of the answers CollectResults judged, in the order of those answers.
    void RunDeferredInvestigations();
    int DecideStatus(int i, Requeue& requeue);
    // Tells the display how slot i's transaction ended; again: its URL is queued once more.
    void ReportOutcome(int i, int status, bool again);
    // The unfinished list now (final) or when a second has passed since the last write.
    void SaveUnfinished(bool final);
    int WriteJobList(const std::string& path,
                     std::initializer_list<const std::vector<std::string>*> lists, bool unfinished);
    void TakeExclusiveRight(int i, int status);
    void RegisterUnfinished();
    void CloseAllConnections();

    bool SameHostBusy(int i, std::string_view host, int& count);
    // True when the last search for slot work found nothing and nothing has changed since
    // that could let one find something now (no entry added, no robots.txt answered, every
    // host that was at its limit still is).
    bool SearchWouldFindNothing(int i);
    // A robots.txt answer may let entries waiting for it be started.
    void NoteRobotsAnswer(std::string_view url, const store::FetchJob& job, bool ok);
    static std::string HostOf(std::string_view url);
    bool HasConnection(int i) const;

    store::headerlist_cookie& store_;
    CrawlDisplay& display_;
    StoreObjectsAdapter store_objects_;
    std::unique_ptr<CrawlUrlTable> url_table_;
    MaxConnectClass limits_;
    std::vector<WorkerSlot> slots_;
    CrawlEnvironment environment_;
    std::atomic<StopLevel> stop_level_{StopLevel::kNone};
    long processed_ = 0;
    std::vector<std::string> error_urls_;
    std::string unfinished_path_;
    // No periodic save of the unfinished list before this (see UnfinishedSaveTimer).
    std::chrono::steady_clock::time_point next_unfinished_save_{};
    std::size_t error_cursor_ = 0;
    int auth_holder_ = -1;
    AcceptedCredentials accepted_;
    bool network_checked_ = false;
    // While results are collected, a page's links are searched only after the workers with
    // a request on the wire have gone on: the search reads the page again and would keep them
    // waiting.
    struct DeferredInvestigation {
        const store::treelistnode* record;
        std::string url;
        store::FetchJob job;
        bool follow;
        store::FoundLinks found;
    };
    struct FruitlessSearch {
        bool valid = false;
        std::uint64_t enqueued = 0;
        std::uint64_t robots_answers = 0;
        std::vector<HostAtLimit> hosts;
        std::vector<const store::treelistnode*> host_nodes;
    };
    FruitlessSearch fruitless_;
    std::uint64_t robots_answers_ = 0;
    bool deferring_investigations_ = false;
    std::mutex turn_mutex_;
    std::atomic<bool> turn_wanted_{false};
    std::atomic<bool> awaiting_turn_{false};
    std::vector<DeferredInvestigation> deferred_;
    // Buffers of links read ahead whose investigation is over, for slots to read into again.
    std::vector<store::FoundLinks> spare_found_;
    // The URL table's enqueue count when a look for stored copies last found none: until it
    // changes every queued entry is known to need a fetch.
    std::uint64_t drained_at_ = kNeverDrained;
    static constexpr std::uint64_t kNeverDrained = ~std::uint64_t{0};
};

}  // namespace kelvra::crawl
