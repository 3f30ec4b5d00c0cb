#include "app/crawlrun.h"

#include "app/registration.h"

namespace kelvra::app {

CrawlRun::CrawlRun(AppCore& core, crawl::CrawlDisplay& display)
    : CrawlRun(core, CreateCrawl(core, display)) {}

CrawlRun::CrawlRun(AppCore& core, std::unique_ptr<crawl::KelvraClass_Log> crawl)
    : core_(core), crawl_(std::move(crawl)) {}

CrawlRun::~CrawlRun() = default;

int CrawlRun::QueueStartUrls(const std::vector<std::string>& urls,
                             const std::function<void()>& every_eighth) {
    const int accepted = RegisterStartUrls(core_, *crawl_, urls, registered_, every_eighth);
    if (accepted < 1) core_.Ui().Beep(Sound::kStop);
    return accepted;
}

int CrawlRun::QueueStartUrl(const std::string& url, const store::AcquisitionCondition& condition) {
    store::CrawlRequest request = StartJob(condition, {url});
    const int accepted = crawl_->AddStartUrl(request);
    if (accepted > 0) {
        registered_.push_back(url);
    } else {
        core_.Ui().Beep(Sound::kStop);
    }
    return accepted;
}

int CrawlRun::QueueRetryList(const std::string& path) {
    const int queued = crawl_->ReadRetryList(path);
    if (queued == 0) core_.Ui().Beep(Sound::kStop);
    return queued;
}

void CrawlRun::KeepUnfinishedList(const std::string& path) {
    crawl_->KeepUnfinishedList(path);
}

CrawlOutcome CrawlRun::Run() {
    CrawlOutcome outcome;
    if (stops_ > 0) {
        outcome.failed = true;  // stopped before it began
    } else {
        RunRounds(outcome);
    }
    if (!registered_.empty()) {
        // The history looks at the store as the ended crawl left it.
        {
            std::lock_guard lock(crawl_mutex_);
            crawl_.reset();
        }
        if (outcome.processed > 0) outcome.registered = registered_;
        FinishCrawl(core_, registered_, outcome.processed > 0);
    }
    return outcome;
}

void CrawlRun::RunRounds(CrawlOutcome& outcome) {
    for (;;) {
        bool completed = false;
        outcome.processed += crawl_->RunWithLog(completed);
        outcome.failed = crawl_->HasErrorUrls() || !completed;
        // The report comes after a stop too: it saves the failed URLs.
        const bool queued_again = crawl_->FinishReport(outcome.processed);
        if (!queued_again || stops_ > 0) break;
        crawl_->ResetCrawl();
    }
}

void CrawlRun::Stop() {
    ++stops_;
    std::lock_guard lock(crawl_mutex_);
    if (crawl_) crawl_->Stop();
}

}  // namespace kelvra::app
