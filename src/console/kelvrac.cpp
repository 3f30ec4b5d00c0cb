// kelvrac: the console program. It starts up and shuts down as the desktop program does and
// saves the store however the command ends.

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/appcore.h"
#include "app/settings.h"
#include "app/startup.h"
#include "console/commandline.h"
#include "console/commands.h"
#include "console/consoledisplay.h"
#include "console/consoleui.h"
#include "console/servefetch.h"
#include "console/signalwatch.h"
#include "server/proxyconfig.h"
#include "server/serversettings.h"

namespace {

using namespace kelvra;

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

constexpr int kKeptBlock = 4 << 20;     // smaller blocks come from the heap, not mmap
constexpr int kKeptHeapTop = 64 << 20;  // free memory at the heap top kept before trimming

int Fail(const std::string& message) {
    std::fprintf(stderr, "kelvrac: %s\n", message.c_str());
    return console::kExitStartup;
}

// Another instance holds these settings: when it serves, it fetches the URLs itself.
int HandOver(const console::CommandLine& line, const app::ProgramEnvironment& environment) {
    if (line.HasRunOptions() || line.resume) {
        return Fail(
            "another instance runs with the same settings; its crawl cannot take this get's "
            "per-run options (-d -c -w -j -l --update --continue): run get without them, or "
            "after it ends");
    }
    app::AppSettings settings;
    app::LIFOClass history{app::kHistoryCapacity};
    app::LoadSettings(settings, history, environment.ini_path);
    const int accepted = console::HandOverUrls(settings.port, line.urls);
    if (accepted == 0) return Fail("another instance runs with the same settings");
    std::printf(
        "kelvrac: a serve runs with the same settings; %d of %zu URLs handed to it on "
        "port %d, which fetches them\n",
        accepted, line.urls.size(), static_cast<int>(settings.port));
    return accepted == static_cast<int>(line.urls.size()) ? console::kExitDone
                                                          : console::kExitFailed;
}

// --help and --version need nothing of the program's files.
bool AnswersAtOnce(const console::CommandLine& line) {
    if (line.command == console::Command::kHelp) {
        std::fputs(console::HelpText(line.help_topic).c_str(), stdout);
    } else if (line.command == console::Command::kVersion) {
        std::fputs(console::kVersionText, stdout);
    } else {
        return false;
    }
    return true;
}

int Run(int argc, const char* const* argv, console::SignalWatcher& signals) {
    std::string error;
    std::optional<console::CommandLine> line = console::ParseCommandLine(argc, argv, error);
    if (!line) return Fail(error + "\n" + console::UsageText() + "(kelvrac --help tells more)");
    if (AnswersAtOnce(*line)) return console::kExitDone;
    if (line->command == console::Command::kCa) {
        const bool use_cd = app::UseCurrentDirectoryOption(argc, argv);
        return console::ShowAuthority(server::SettingsFilePath(use_cd, ""), stdout, stderr);
    }
    if (!line->data_directory.empty()) {
        std::optional<std::string> directory =
            console::UsableDataDirectory(line->data_directory, error);
        if (!directory) return Fail(error);
        line->overrides.data_directory = std::move(*directory);
    }
    console::ConsoleUserInterface ui(stdin, stdout, stderr);
    std::optional<app::ProgramEnvironment> environment = app::PrepareProgram(ui, argc, argv);
    if (!environment) return console::kExitStartup;
    if (line->command == console::Command::kRetry &&
        access(line->retry_list_in.c_str(), R_OK) != 0) {
        return Fail("cannot read " + line->retry_list_in);
    }
    const auto lock = app::InstanceLock::Acquire(DirectoryOf(environment->ini_path));
    if (!lock && line->command == console::Command::kGet) return HandOver(*line, *environment);
    if (!lock) return Fail("another instance runs with the same settings");

    console::UrlInbox inbox;
    console::ConsoleServerMonitor monitor(stdout, line->verbose, &inbox);
    app::AppCore core(ui, *environment);
    core.SetServerMonitor(monitor);
    // serve takes the "/get?" requests of browsers, as the main window does.
    core.SetHasMainWindow(line->command == console::Command::kServe);
    core.SetRunOverrides(line->overrides);
    core.LoadSettings();
    const std::uint32_t mode = console::StartMode(*line, core.Settings());
    if (line->command == console::Command::kServe && !server::IsServingMode(mode)) {
        return Fail("serve needs a server mode other than stopped, not " + std::to_string(mode));
    }
    core.StartUp(mode);
    // An abort that has to end the process at once still leaves kelvra.hif saved.
    signals.SetLastResort([&core] { core.SaveBeforeForcedEnd(); });
    int code = console::RunCommand(core, *line, signals, inbox, stdout, stderr);
    if (!core.ShutDown(true) && code == console::kExitDone) code = console::kExitFailed;
    signals.SetLastResort(nullptr);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    // A crawl allocates and frees a few response-sized blocks per object. Handing that memory
    // back to the kernel each time (heap trim or munmap) costs a TLB shootdown on every core,
    // more than the object's own work; keep it in the heap instead.
    mallopt(M_MMAP_THRESHOLD, kKeptBlock);
    mallopt(M_TRIM_THRESHOLD, kKeptHeapTop);
    // Before any other thread exists, so that every thread leaves the signals to the watcher.
    kelvra::console::SignalWatcher signals(kelvra::console::kExitFailed);
    return Run(argc, argv, signals);
}
