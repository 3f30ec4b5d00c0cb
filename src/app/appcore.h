#pragma once
// The toolkit-free state of a running program between start-up and shutdown: the settings, the
// [History] list, the one header-information store of the process and the local server. The
// desktop program's main window and kelvrac both drive it; it talks to the user only through
// the UserInterface it is given.

#include <memory>
#include <mutex>
#include <string>

#include "app/lifo.h"
#include "app/runoverrides.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/userinterface.h"
#include "server/htmlserver.h"
#include "server/servermonitor.h"
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

    // Where the local server's workers report; must outlive the core. Set before StartUp.
    void SetServerMonitor(server::ServerMonitor& monitor) { monitor_ = &monitor; }
    // Whether a main window receives the "/get?" requests of browsers.
    void SetHasMainWindow(bool has) { has_main_window_ = has; }
    // What this run takes instead of the settings; set before StartUp, never saved.
    void SetRunOverrides(RunOverrides overrides) { overrides_ = std::move(overrides); }
    const RunOverrides& Overrides() const { return overrides_; }

    // Creates the store over the data directory, loads kelvra.hif, repairs it from the journal
    // of a run that ended abnormally, deletes the old progress log, creates the local server
    // and puts it into start_mode (a RunAtStart value; 0 leaves it stopped).
    void StartUp(std::uint32_t start_mode);
    // Stops the server, rewrites the proxy script for no local proxy, saves kelvra.hif (fast or
    // tidy), deletes the store and writes the settings. Returns false when the save failed.
    bool ShutDown(bool fast);
    bool Started() const { return store_ != nullptr; }
    // For a process about to be ended at once, from any thread: the fast save of kelvra.hif,
    // unless ShutDown has saved it already (waits while it saves). False when the save failed.
    bool SaveBeforeForcedEnd();

    // Sets the local server's mode (low four bits a server mode, bits 0x10 and 0x20 its data
    // use). Without replace_flags the running server's flag bits are kept. A stopped server
    // is started on "Port" with the client access list read anew; mode 0 stops it. The proxy
    // script follows. Returns the previous mode.
    std::uint32_t SetServerMode(std::uint32_t mode, bool replace_flags);
    // The running server's mode, 0 while it is stopped or there is none.
    std::uint32_t ServerMode() const;
    // The port the server listens on, 0 while it is stopped.
    int ServerPort() const;

    UserInterface& Ui() { return ui_; }
    const ProgramEnvironment& Environment() const { return environment_; }
    AppSettings& Settings() { return settings_; }
    LIFOClass& History() { return history_; }
    // Valid between StartUp and ShutDown.
    store::headerlist_cookie& Store() { return *store_; }
    // With a trailing '/'; set by StartUp.
    const std::string& DataDirectoryPath() const { return data_directory_; }

  private:
    // Points browsers at the local server on port, or past it for 0.
    void WriteProxyScript(int port);
    void CreateServer();

    UserInterface& ui_;
    ProgramEnvironment environment_;
    AppSettings settings_;
    LIFOClass history_{kHistoryCapacity};
    std::string start_directory_;
    std::string data_directory_;
    std::mutex store_end_mutex_;  // ShutDown's save and release against SaveBeforeForcedEnd
    std::unique_ptr<store::headerlist_cookie> store_;
    server::NullMonitor null_monitor_;
    server::ServerMonitor* monitor_ = &null_monitor_;
    bool has_main_window_ = true;
    RunOverrides overrides_;
    std::unique_ptr<server::HtmlServer> server_;
    std::uint32_t shown_mode_ = 0xFFFFFFFF;  // none shown yet
};

}  // namespace kelvra::app
