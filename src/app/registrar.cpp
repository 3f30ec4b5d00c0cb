#include "app/registrar.h"

#include "app/registration.h"
#include "store/configclass.h"

namespace kelvra::app {

std::unique_ptr<crawl::KelvraClass_Log> RegistrationDialogs::NewCrawl(AppCore& core) {
    return CreateCrawl(core, StatusDisplay());
}

Registrar::Registrar(AppCore& core, BusyState& busy, RegistrationDialogs& dialogs)
    : core_(core), busy_(busy), dialogs_(dialogs) {}

Registrar::~Registrar() = default;

bool Registrar::MayRegister() const {
    return busy_ == BusyState::kIdle || (busy_ == BusyState::kCrawling && running_);
}

int Registrar::RegisterUrls(const std::vector<std::string>& urls, const std::string& multi_file,
                            bool multi) {
    if (!MayRegister()) {
        core_.Ui().Beep(Sound::kStop);
        return 0;
    }
    BusyGuard guard(busy_, BusyState::kCrawling);
    std::vector<std::string> chosen;
    const std::optional<UrlEntry> entry = AskUrls(urls, multi_file, multi, chosen);
    if (!entry) return 0;
    const bool created = !run_;
    if (created) run_ = std::make_unique<CrawlRun>(core_, dialogs_.NewCrawl(core_));
    const int accepted = entry->button == EntryButton::kRunWithCondition
                             ? QueueWithCondition(chosen.front())
                             : QueueAll(chosen);
    if (created) {
        if (accepted > 0) RunCreated();
        run_.reset();
    }
    return accepted;
}

// The chosen URLs in chosen and the button that closed the dialog; none when cancelled.
std::optional<UrlEntry> Registrar::AskUrls(const std::vector<std::string>& urls,
                                           const std::string& multi_file, bool multi,
                                           std::vector<std::string>& chosen) {
    if (urls.size() < 2 && !multi && multi_file.empty()) {
        std::optional<UrlEntry> entry = dialogs_.EnterUrl(urls.empty() ? "" : urls.front());
        if (!entry) return std::nullopt;
        std::optional<std::string> url = EnteredUrl(entry->text);
        if (!url) return std::nullopt;
        chosen.push_back(*url);
        return entry;
    }
    std::optional<std::vector<std::string>> list = dialogs_.ChooseUrls(urls, multi_file);
    if (!list || list->empty()) return std::nullopt;
    chosen = std::move(*list);
    return UrlEntry{};
}

int Registrar::QueueWithCondition(const std::string& url) {
    store::GetConditionClass conditions;
    // Without a readable condition file the URL starts from the default condition.
    static_cast<void>(conditions.Load(core_.DataDirectoryPath() + kConditionFileName));
    store::AcquisitionCondition condition;
    if (!conditions.ReadCondition(url, condition, true)) {
        conditions.ReadCondition(store::GetConditionClass::kDefaultSection, condition, false);
    }
    if (!dialogs_.EditCondition(url, condition)) {
        core_.Ui().Beep(Sound::kStop);
        return 0;
    }
    return run_->QueueStartUrl(url, condition);
}

int Registrar::QueueAll(const std::vector<std::string>& urls) {
    dialogs_.EnableMainWindow(false);
    const int accepted = run_->QueueStartUrls(urls, [this] { dialogs_.RunPendingEvents(); });
    dialogs_.EnableMainWindow(true);
    return accepted;
}

void Registrar::RunCreated() {
    running_ = true;
    dialogs_.RunCrawl(*run_);
    running_ = false;
}

int Registrar::RefetchRetryList(const std::string& path) {
    if (busy_ != BusyState::kIdle) {
        core_.Ui().Beep(Sound::kStop);
        return 0;
    }
    BusyGuard guard(busy_, BusyState::kCrawling);
    run_ = std::make_unique<CrawlRun>(core_, dialogs_.NewCrawl(core_));
    const int queued = run_->QueueRetryList(path);
    if (queued > 0) {
        RunCreated();
    } else if (queued < 0) {
        core_.Ui().Beep(Sound::kStop);  // no retry list
    }
    run_.reset();
    return queued;
}

}  // namespace kelvra::app
