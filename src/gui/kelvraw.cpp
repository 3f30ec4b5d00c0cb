// kelvraw: the desktop program. One instance per settings directory (shared with kelvrac);
// SIGINT and SIGTERM close the main window as its close box does (a fast exit), as soon as no
// modal command or fill holds it.
//
//   kelvraw [-cd] [URL...]        start URLs open the URL entry dialog (several: the multi-URL
//                                 dialog) once the window has started
//   kelvraw [-cd] --run URL...    fetches them without asking anything, then exits: 0 when
//                                 something was fetched and nothing failed, else 1

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "app/registration.h"
#include "app/settings.h"
#include "app/startup.h"
#include "gui/guiui.h"
#include "gui/kelvrawindow.h"

namespace {

using namespace kelvra;

// Hidden option for scripts/screenshots: save pictures of the windows into DIR, then exit.
constexpr char kScreenshotOption[] = "--screenshot";
constexpr char kRunOption[] = "--run";

int signal_pipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    // Nothing to do when the pipe is full: a close request is pending already.
    [[maybe_unused]] const ssize_t written = write(signal_pipe[1], &byte, 1);
}

// Turns SIGINT and SIGTERM into a close request on the GUI thread.
void WatchSignals(gui::KelvraWindow& window) {
    if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[16];
        while (read(signal_pipe[0], bytes, sizeof bytes) > 0) {
        }
        window.RequestClose();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

QString ScreenshotDirectory(const std::vector<std::string>& args) {
    for (std::size_t i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == kScreenshotOption) return gui::ToQt(args[i + 1]);
    }
    return {};
}

// The arguments that look like URLs, in order.
std::vector<std::string> StartUrls(const std::vector<std::string>& args) {
    std::vector<std::string> urls;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (app::LooksLikeUrl(args[i])) urls.push_back(args[i]);
    }
    return urls;
}

bool Unattended(const std::vector<std::string>& args) {
    return args.size() > 1 && std::find(args.begin() + 1, args.end(), kRunOption) != args.end();
}

}  // namespace

int main(int argc, char** argv) {
    // The program's own arguments, before Qt takes out the ones it knows.
    const std::vector<std::string> args(argv, argv + argc);
    std::vector<const char*> arg_pointers;
    for (const std::string& arg : args) arg_pointers.push_back(arg.c_str());
    const int arg_count = static_cast<int>(arg_pointers.size());

    // One running instance: a second one ends at once, silently, before the toolkit starts.
    const bool use_current = app::UseCurrentDirectoryOption(arg_count, arg_pointers.data());
    const auto lock = app::InstanceLock::Acquire(DirectoryOf(app::IniFilePath(use_current)));
    if (!lock) return 0;
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    gui::GuiUserInterface ui;
    std::optional<app::ProgramEnvironment> environment =
        app::PrepareProgram(ui, arg_count, arg_pointers.data());
    if (!environment) return 0;

    gui::KelvraWindow window(ui, *environment);
    ui.SetWindow(&window);
    ui.SetModeShower([&window](std::uint32_t mode) { window.ShowServerMode(mode); });
    window.SetOnClosed([&window] { QCoreApplication::exit(window.ExitCode()); });
    WatchSignals(window);
    const QString screenshots = ScreenshotDirectory(args);
    if (!screenshots.isEmpty()) window.ScreenshotsWhenStarted(screenshots);
    if (std::vector<std::string> urls = StartUrls(args); !urls.empty()) {
        window.FetchWhenStarted(std::move(urls), Unattended(args));
    }
    window.show();
    return application.exec();
}
