#include "app/appcore.h"

#include "app/shutdown.h"
#include "server/pac.h"

namespace kelvra::app {

AppCore::AppCore(UserInterface& ui, ProgramEnvironment environment)
    : ui_(ui), environment_(std::move(environment)) {}

AppCore::~AppCore() = default;

void AppCore::LoadSettings() {
    start_directory_ = CurrentDirectory();
    app::LoadSettings(settings_, history_, environment_.ini_path);
}

void AppCore::StartUp(std::uint32_t start_mode) {
    ui_.SetTitle(kStartingTitle);
    data_directory_ = overrides_.data_directory.empty() ? DataDirectory(settings_, start_directory_)
                                                        : overrides_.data_directory;
    store_ = std::make_unique<store::headerlist_cookie>(data_directory_, settings_.root_file_name,
                                                        kJournalName, environment_.mime_table_path);
    store_->SetCookiesEnabled(settings_.save_cookie);
    LoadHeaderInformation(ui_, *store_);
    if (!settings_.progress_log.empty()) DeleteProgressLog(data_directory_, settings_.progress_log);
    CreateServer();
    SetServerMode(start_mode, true);
    ui_.SetTitle(kMainTitle);
}

bool AppCore::ShutDown(bool fast) {
    if (!store_) return true;
    ui_.SetTitle(kClosingTitle);
    server_.reset();
    WriteProxyScript(0);
    bool saved = false;
    {
        std::lock_guard lock(store_end_mutex_);
        saved = SaveHeaderInformation(ui_, *store_, fast);
        store_.reset();
    }
    SaveSettings(settings_, history_, environment_.ini_path);
    ui_.SetTitle(kMainTitle);
    return saved;
}

bool AppCore::SaveBeforeForcedEnd() {
    std::lock_guard lock(store_end_mutex_);
    return !store_ || SaveHeaderInformation(ui_, *store_, true);
}

}  // namespace kelvra::app
