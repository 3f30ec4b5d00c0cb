#pragma once
// RegisterUrls and RefetchRetryList: the dialogs that collect start URLs, the busy state, and
// the crawl this registration creates or, while one is running, adds to.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/appcore.h"
#include "app/commands.h"
#include "app/crawlrun.h"
#include "store/condition.h"

namespace kelvra::app {

// The buttons of the URL entry dialog: "実行" and "条件設定後実行".
enum class EntryButton { kRun, kRunWithCondition };

struct UrlEntry {
    std::string text;
    EntryButton button = EntryButton::kRun;
};

// The dialogs and window operations registration needs from the desktop.
class RegistrationDialogs {
  public:
    virtual ~RegistrationDialogs() = default;
    // The URL entry dialog pre-filled with initial; none when cancelled.
    virtual std::optional<UrlEntry> EnterUrl(std::string_view initial) = 0;
    // The multi-URL dialog with urls and, when not empty, the multi-URL file loaded; the chosen
    // list, or none when cancelled.
    virtual std::optional<std::vector<std::string>> ChooseUrls(const std::vector<std::string>& urls,
                                                               const std::string& file) = 0;
    // The condition dialog for url; false when cancelled.
    virtual bool EditCondition(const std::string& url, store::AcquisitionCondition& condition) = 0;
    virtual void EnableMainWindow(bool enable) = 0;
    // Lets pending window events run.
    virtual void RunPendingEvents() = 0;
    // The acquisition status display a new crawl reports to.
    virtual crawl::CrawlDisplay& StatusDisplay() = 0;
    // A new crawl for core reporting to StatusDisplay; the base makes the plain engine.
    virtual std::unique_ptr<crawl::KelvraClass_Log> NewCrawl(AppCore& core);
    // Runs the crawl with its status display shown until it ends.
    virtual CrawlOutcome RunCrawl(CrawlRun& run) = 0;
};

class Registrar final {
  public:
    // busy is the main window's busy state; all must outlive the registrar.
    Registrar(AppCore& core, BusyState& busy, RegistrationDialogs& dialogs);
    ~Registrar();
    Registrar(const Registrar&) = delete;
    Registrar& operator=(const Registrar&) = delete;

    // Registers urls through the entry dialog (fewer than two and not multi) or the multi-URL
    // dialog (which loads multi_file), then runs the crawl it created; while a crawl runs only
    // adds to it. Returns the number of URLs accepted.
    int RegisterUrls(const std::vector<std::string>& urls, const std::string& multi_file = {},
                     bool multi = false);
    // Fetches the URLs of a retry list again. Returns the number of jobs queued.
    int RefetchRetryList(const std::string& path);
    // Whether a crawl this registrar created is in its run loop.
    bool CrawlRunning() const { return running_; }

  private:
    bool MayRegister() const;
    std::optional<UrlEntry> AskUrls(const std::vector<std::string>& urls,
                                    const std::string& multi_file, bool multi,
                                    std::vector<std::string>& chosen);
    int QueueWithCondition(const std::string& url);
    int QueueAll(const std::vector<std::string>& urls);
    void RunCreated();

    AppCore& core_;
    BusyState& busy_;
    RegistrationDialogs& dialogs_;
    std::unique_ptr<CrawlRun> run_;
    bool running_ = false;  // run_ is in its run loop and takes more start URLs
};

}  // namespace kelvra::app
