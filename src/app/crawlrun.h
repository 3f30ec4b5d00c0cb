#pragma once
// One crawl as the user starts it: start URLs or a retry list queued, then rounds of running
// and the finish report (which may queue the failed URLs again) until nothing more is queued
// or the user stops it. The console and the desktop program share it; it shows everything
// through the crawl display and the core's UserInterface.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "crawl/crawldisplay.h"
#include "crawl/kelvra_log.h"
#include "store/condition.h"

namespace kelvra::app {

// What the status dialog shows while it waits for the running transactions to end.
inline constexpr char kWaitingForThreads[] = "ただいまｽﾚｯﾄﾞ終了待機中....\n";

struct CrawlOutcome {
    long processed = 0;   // over every round
    bool failed = false;  // URLs failed, or the crawl was stopped before it completed
    // When something was fetched: the start URLs registered, in order; the tree may select the
    // first, the bookmark window offers them.
    std::vector<std::string> registered;
};

class CrawlRun final {
  public:
    // display must outlive the run.
    CrawlRun(AppCore& core, crawl::CrawlDisplay& display);
    // Runs crawl, made for core (as CreateCrawl makes it).
    CrawlRun(AppCore& core, std::unique_ptr<crawl::KelvraClass_Log> crawl);
    ~CrawlRun();
    CrawlRun(const CrawlRun&) = delete;
    CrawlRun& operator=(const CrawlRun&) = delete;

    // Queues start URLs with their stored or the default condition. Returns the number
    // accepted; with none accepted it beeps. every_eighth runs after every 8 URLs.
    int QueueStartUrls(const std::vector<std::string>& urls,
                       const std::function<void()>& every_eighth = {});
    // Queues url as a start job of its own with condition. Returns 1 when accepted; else beeps.
    int QueueStartUrl(const std::string& url, const store::AcquisitionCondition& condition);
    // Queues the jobs of a retry list. Returns their number, -1 when path is no retry list;
    // an empty list beeps.
    int QueueRetryList(const std::string& path);
    // Keeps what is not finished in the retry list at path while the crawl runs.
    void KeepUnfinishedList(const std::string& path);

    // Runs until the finish report queues nothing more or a stop was asked for; a stop asked
    // for before it began runs nothing and counts as failed. Afterwards the fetched start URLs
    // enter the history.
    CrawlOutcome Run();
    // From any thread: raises the stop level by one, as closing the status dialog does (the
    // first lets running transactions finish, the next abort them).
    void Stop();

  private:
    void RunRounds(CrawlOutcome& outcome);

    AppCore& core_;
    std::mutex crawl_mutex_;  // Stop from another thread against Run's release of the crawl
    std::unique_ptr<crawl::KelvraClass_Log> crawl_;
    std::vector<std::string> registered_;  // accepted start URLs, for the history
    std::atomic<int> stops_ = 0;
};

}  // namespace kelvra::app
