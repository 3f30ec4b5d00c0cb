#pragma once
// The desktop program's side of URL registration: the URL entry dialog, the acquisition status
// dialog and the crawl that runs in it. The scheduler runs on the GUI thread: its wait for the
// workers runs the event loop, so the windows stay live and every display call of the
// scheduler is a plain call on the GUI thread; the workers' calls are queued to it.

#include <QElapsedTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/registrar.h"
#include "gui/crawldialogs.h"

class QObject;
class QWidget;

namespace kelvra::gui {

// The crawl engine of the status dialog: waiting for a worker runs the GUI thread's events,
// and a worker's signal posts an event that ends that wait (one at a time: a wake-up still
// pending covers every signal before it is handled).
class DialogCrawl final : public crawl::KelvraClass_Log {
  public:
    // For core's settings and store; the dialog shows its workers while it exists.
    DialogCrawl(app::AppCore& core, KelvraDialog& dialog);
    ~DialogCrawl() override;

    void SignalManager() override;
    bool WaitManager(bool block) override;

  private:
    void RunEvents(bool wait);

    KelvraDialog& dialog_;
    std::unique_ptr<QObject> waker_;  // receives the wake-ups; gone, they are dropped
    std::atomic<bool> wake_posted_ = false;
    QElapsedTimer since_events_;
};

class GuiRegistrationDialogs final : public app::RegistrationDialogs {
  public:
    using UrlChooser = std::function<std::optional<std::vector<std::string>>(
        const std::vector<std::string>& urls, const std::string& file)>;
    using ConditionEditor =
        std::function<bool(const std::string& url, store::AcquisitionCondition& condition)>;

    // core and window must outlive it; questions go to ui.
    GuiRegistrationDialogs(app::AppCore& core, app::UserInterface& ui, QWidget* window);
    ~GuiRegistrationDialogs() override;

    // The multi-URL dialog and the condition dialog; unset, they answer as Cancel does.
    void SetUrlChooser(UrlChooser chooser) { choose_urls_ = std::move(chooser); }
    void SetConditionEditor(ConditionEditor editor) { edit_condition_ = std::move(editor); }
    // What disabling the main window does during a long registration.
    void SetWindowEnabler(std::function<void(bool)> enabler) {
        enable_window_ = std::move(enabler);
    }
    // Called after every crawl with its outcome.
    void SetOnCrawlEnded(std::function<void(const app::CrawlOutcome&)> ended) {
        crawl_ended_ = std::move(ended);
    }
    // Without a user: the entry dialog takes its initial URL as "実行" would, the multi-URL
    // dialog takes every URL, and the status dialog asks nothing (see KelvraDialog).
    void SetUnattended(bool unattended);

    KelvraDialog& StatusDialog() { return *status_; }

    std::optional<app::UrlEntry> EnterUrl(std::string_view initial) override;
    std::optional<std::vector<std::string>> ChooseUrls(const std::vector<std::string>& urls,
                                                       const std::string& file) override;
    bool EditCondition(const std::string& url, store::AcquisitionCondition& condition) override;
    void EnableMainWindow(bool enable) override;
    void RunPendingEvents() override;
    crawl::CrawlDisplay& StatusDisplay() override { return *status_; }
    std::unique_ptr<crawl::KelvraClass_Log> NewCrawl(app::AppCore& core) override;
    app::CrawlOutcome RunCrawl(app::CrawlRun& run) override;

  private:
    app::AppCore& core_;
    QWidget* window_;
    std::unique_ptr<KelvraDialog> status_;
    UrlChooser choose_urls_;
    ConditionEditor edit_condition_;
    std::function<void(bool)> enable_window_;
    std::function<void(const app::CrawlOutcome&)> crawl_ended_;
    bool unattended_ = false;
};

}  // namespace kelvra::gui
