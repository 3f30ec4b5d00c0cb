#pragma once
// The toolkit-free state of a running program between start-up and shutdown: the settings, the
// [History] list, the one header-information store of the process and the local server. The
// desktop program's main window and kelvrac both drive it; it talks to the user only through
// the UserInterface it is given.

#include <memory>
#include <string>

#include "app/lifo.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/userinterface.h"
#include "store/headerlist_cookie.h"

namespace kelvra::app {

inline constexpr char kStartingTitle[] = "起動処理中.....お待ちください";
inline constexpr char kClosingTitle[] = "終了処理中....[待機]してください";

class AppCore final {
  public:
    AppCore(UserInterface& ui, ProgramEnvironment environment);
    ~AppCore();
    AppCore(const AppCore&) = delete;
    AppCore& operator=(const AppCore&) = delete;

    // What creating the main window does: the empty [History] list, the start directory
    // (the current directory now), then the settings and the history from kelvraw.ini.
    void LoadSettings();

    // Creates the store over the data directory, loads kelvra.hif, repairs it from the journal
    // of a run that ended abnormally, deletes the old progress log and puts the local server
    // into start_mode (a RunAtStart value; 0 leaves it stopped).
    void StartUp(int start_mode);
    // Stops the server, rewrites the proxy script for no local proxy, saves kelvra.hif (fast or
    // tidy), deletes the store and writes the settings. Returns false when the save failed.
    bool ShutDown(bool fast);
    bool Started() const { return store_ != nullptr; }

    UserInterface& Ui() { return ui_; }
    const ProgramEnvironment& Environment() const { return environment_; }
    AppSettings& Settings() { return settings_; }
    LIFOClass& History() { return history_; }
    // Valid between StartUp and ShutDown.
    store::headerlist_cookie& Store() { return *store_; }
    // With a trailing '/'; set by StartUp.
    const std::string& DataDirectoryPath() const { return data_directory_; }

  private:
    UserInterface& ui_;
    ProgramEnvironment environment_;
    AppSettings settings_;
    LIFOClass history_{kHistoryCapacity};
    std::string start_directory_;
    std::string data_directory_;
    std::unique_ptr<store::headerlist_cookie> store_;
};

}  // namespace kelvra::app
