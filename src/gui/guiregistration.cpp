#include "gui/guiregistration.h"

#include <QApplication>

#include "app/registration.h"
#include "gui/urldialog.h"

namespace kelvra::gui {

namespace {

// While the workers keep the scheduler busy without a pause, window events still run at
// least this often.
constexpr qint64 kMaxEventGapMs = 30;

}  // namespace

DialogCrawl::DialogCrawl(app::AppCore& core, KelvraDialog& dialog)
    : KelvraClass_Log(core.Store(), core.Settings().get_thread,
                      core.DataDirectoryPath() + app::kConnectionTableName, dialog),
      dialog_(dialog),
      waker_(std::make_unique<QObject>()) {
    Setup(app::CrawlEnvironmentFrom(core.Settings()));
    since_events_.start();
    dialog_.Attach(this);
}

DialogCrawl::~DialogCrawl() {
    dialog_.Attach(nullptr);
    // The workers call SignalManager, which is this class's.
    KillAllWorkers();
}

void DialogCrawl::SignalManager() {
    KelvraClass_Log::SignalManager();
    if (!wake_posted_.exchange(true)) {
        QMetaObject::invokeMethod(
            waker_.get(), [this] { wake_posted_ = false; }, Qt::QueuedConnection);
    }
}

bool DialogCrawl::WaitManager(bool block) {
    if (!block) return KelvraClass_Log::WaitManager(false);
    if (since_events_.hasExpired(kMaxEventGapMs)) RunEvents(false);
    // A signal between the look and the wait posts its wake-up, so none is lost.
    while (!KelvraClass_Log::WaitManager(false)) RunEvents(true);
    return true;
}

void DialogCrawl::RunEvents(bool wait) {
    QCoreApplication::processEvents(wait ? QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents);
    since_events_.restart();
}

GuiRegistrationDialogs::GuiRegistrationDialogs(app::AppCore& core, app::UserInterface& ui,
                                               QWidget* window)
    : core_(core),
      window_(window),
      status_(std::make_unique<KelvraDialog>(ui, core.Environment().ini_path, window)) {}

GuiRegistrationDialogs::~GuiRegistrationDialogs() = default;

void GuiRegistrationDialogs::SetUnattended(bool unattended) {
    unattended_ = unattended;
    status_->SetUnattended(unattended);
}

std::optional<app::UrlEntry> GuiRegistrationDialogs::EnterUrl(std::string_view initial) {
    if (unattended_) return app::UrlEntry{std::string(initial), app::EntryButton::kRun};
    UrlDialog dialog(core_.History(), initial, window_);
    dialog.exec();
    return dialog.Entry();
}

std::optional<std::vector<std::string>> GuiRegistrationDialogs::ChooseUrls(
    const std::vector<std::string>& urls, const std::string& file) {
    if (unattended_) return urls;
    if (!choose_urls_) return std::nullopt;
    return choose_urls_(urls, file);
}

bool GuiRegistrationDialogs::EditCondition(const std::string& url,
                                           store::AcquisitionCondition& condition) {
    return edit_condition_ && edit_condition_(url, condition);
}

void GuiRegistrationDialogs::EnableMainWindow(bool enable) {
    if (enable_window_) enable_window_(enable);
}

void GuiRegistrationDialogs::RunPendingEvents() {
    QCoreApplication::processEvents();
}

std::unique_ptr<crawl::KelvraClass_Log> GuiRegistrationDialogs::NewCrawl(app::AppCore& core) {
    return std::make_unique<DialogCrawl>(core, *status_);
}

app::CrawlOutcome GuiRegistrationDialogs::RunCrawl(app::CrawlRun& run) {
    status_->Begin(run, core_.Settings().get_thread);
    app::CrawlOutcome outcome = run.Run();
    status_->End();
    if (crawl_ended_) crawl_ended_(outcome);
    return outcome;
}

}  // namespace kelvra::gui
