#include "console/commands.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/crawlrun.h"
#include "app/registrar.h"
#include "console/consoledisplay.h"
#include "console/servefetch.h"
#include "net/local_authority.h"
#include "server/serversettings.h"

namespace kelvra::console {
namespace {

void Print(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// The live view on a terminal unless -v asks for the line log.
ViewMode ViewModeOf(const CommandLine& line, std::FILE* out) {
    if (line.quiet) return ViewMode::kQuiet;
    return !line.verbose && TerminalColumns(out) > 0 ? ViewMode::kLive : ViewMode::kLines;
}

// 1 (something failed) wins over 3 (the server said no).
int ExitCodeOf(const app::CrawlOutcome& outcome, const CrawlTally& tally) {
    if (outcome.failed || outcome.processed <= 0) return kExitFailed;
    return tally.http_errors > 0 ? kExitHttpErrors : kExitDone;
}

std::string SummaryLine(const CrawlTally& tally, std::chrono::steady_clock::duration took,
                        const std::string& data_directory, const std::string& retry_list) {
    const double seconds = std::chrono::duration<double>(took).count();
    char time[32];
    std::snprintf(time, sizeof time, "%.1f", seconds);
    std::string line =
        "kelvrac: " + std::to_string(tally.stored) + " stored, " + std::to_string(tally.unchanged) +
        " unchanged, " + std::to_string(tally.failed + tally.http_errors) + " failed (" +
        std::to_string(tally.http_errors) + " answered 4xx/5xx), " + std::to_string(tally.bytes) +
        " bytes in " + time + " s; data in " + data_directory;
    if (!retry_list.empty()) line += "; retry list " + retry_list;
    return line + "\n";
}

// Runs the queued crawl, then prints the summary line.
int RunQueued(app::AppCore& core, app::CrawlRun& run, ConsoleCrawlDisplay& display,
              const CommandLine& line, SignalWatcher& signals, std::FILE* out) {
    const auto start = std::chrono::steady_clock::now();
    const app::CrawlOutcome outcome = RunCrawl(run, signals, out);
    display.EndView();
    const CrawlTally tally = display.Tally();
    // The list that holds what is left: get's own, else the one of -r.
    const std::string unfinished = core.DataDirectoryPath() + kUnfinishedListName;
    const bool kept = line.command == Command::kGet && ::access(unfinished.c_str(), F_OK) == 0;
    Print(out, SummaryLine(tally, std::chrono::steady_clock::now() - start,
                           core.DataDirectoryPath(), kept ? unfinished : line.retry_list_out));
    return ExitCodeOf(outcome, tally);
}

// With --continue the unfinished list first; else a word that there is one.
bool QueueUnfinished(app::CrawlRun& run, const CommandLine& line, const std::string& path,
                     std::FILE* out, std::FILE* err) {
    const bool exists = ::access(path.c_str(), F_OK) == 0;
    if (!line.resume) {
        if (exists) {
            Print(out, "kelvrac: an earlier get left " + path +
                           "; this get replaces it (kelvrac get --continue finishes it)\n");
        }
        return true;
    }
    if (!exists) {
        Print(err, "kelvrac: nothing to continue: " + path + " is not there\n");
        return !line.urls.empty();
    }
    const int queued = run.QueueRetryList(path);
    if (queued < 0) Print(err, "kelvrac: not a retry list: " + path + "\n");
    return queued > 0 || !line.urls.empty();
}

int RunGet(app::AppCore& core, const CommandLine& line, SignalWatcher& signals, std::FILE* out,
           std::FILE* err) {
    ConsoleCrawlDisplay display(out, core.Ui(), ViewModeOf(line, out), TerminalColumns(out));
    display.SetRetryListPath(line.retry_list_out);
    app::CrawlRun run(core, display);
    const std::string unfinished = core.DataDirectoryPath() + kUnfinishedListName;
    if (!QueueUnfinished(run, line, unfinished, out, err)) return kExitFailed;
    if (!line.urls.empty() && run.QueueStartUrls(line.urls) < 1 && !line.resume) {
        Print(err, "kelvrac: no URL was accepted for fetching\n");
        return kExitFailed;
    }
    Print(out, "kelvrac: storing into " + core.DataDirectoryPath() +
                   "; what is left unfinished is kept in " + unfinished + "\n");
    run.KeepUnfinishedList(unfinished);
    return RunQueued(core, run, display, line, signals, out);
}

int RunRetry(app::AppCore& core, const CommandLine& line, SignalWatcher& signals, std::FILE* out,
             std::FILE* err) {
    ConsoleCrawlDisplay display(out, core.Ui(), ViewModeOf(line, out), TerminalColumns(out));
    display.SetRetryListPath(line.retry_list_out);
    app::CrawlRun run(core, display);
    const int queued = run.QueueRetryList(line.retry_list_in);
    if (queued < 0) {
        Print(err, "kelvrac: not a retry list: " + line.retry_list_in + "\n");
        return kExitStartup;
    }
    if (queued == 0) {
        Print(err, "kelvrac: the retry list holds no job: " + line.retry_list_in + "\n");
        return kExitFailed;
    }
    return RunQueued(core, run, display, line, signals, out);
}

// Crawls what browsers ask for, one request after the other, until a signal arrives.
void FetchRequested(app::AppCore& core, SignalWatcher& signals, UrlInbox& inbox, std::FILE* out) {
    ConsoleRegistrationDialogs dialogs(core.Ui(), signals, out);
    app::BusyState busy = app::BusyState::kIdle;
    app::Registrar registrar(core, busy, dialogs);
    for (;;) {
        // Set again after every crawl, which has an action of its own.
        signals.SetAction([&inbox](int) { inbox.Close(); });
        if (signals.Count() > 0) break;
        const std::optional<std::string> url = inbox.Next();
        if (!url) break;
        registrar.RegisterUrls({*url});
    }
    signals.SetAction(nullptr);
}

int RunServe(app::AppCore& core, SignalWatcher& signals, UrlInbox& inbox, std::FILE* out,
             std::FILE* err) {
    if (core.ServerMode() == server::kModeStopped) {
        Print(err, "kelvrac: the local server cannot listen on port " +
                       std::to_string(core.Settings().port) + "\n");
        return kExitStartup;
    }
    Print(out, "Orvane serves " + core.DataDirectoryPath() + " on port " +
                   std::to_string(core.ServerPort()) + "\n");
    FetchRequested(core, signals, inbox, out);
    return kExitDone;
}

}  // namespace

app::CrawlOutcome RunCrawl(app::CrawlRun& run, SignalWatcher& signals, std::FILE* out) {
    if (signals.Count() > 0) run.Stop();  // interrupted before it began
    signals.SetAction([&run, out](int count) {
        if (count == 1) Print(out, app::kWaitingForThreads);
        run.Stop();
    });
    const app::CrawlOutcome outcome = run.Run();
    signals.SetAction(nullptr);
    return outcome;
}

std::optional<std::string> UsableDataDirectory(const std::string& given, std::string& error) {
    std::error_code code;
    std::filesystem::path path = std::filesystem::absolute(given, code);
    if (!code) std::filesystem::create_directories(path, code);
    if (!code && !std::filesystem::is_directory(path, code) && !code) {
        code = std::make_error_code(std::errc::not_a_directory);
    }
    if (!code && ::access(path.c_str(), R_OK | W_OK | X_OK) != 0) {
        code = std::error_code(errno, std::generic_category());
    }
    if (code) {
        error = "cannot use data directory " + given + ": " + code.message() + " (errno " +
                std::to_string(code.value()) + ")";
        return std::nullopt;
    }
    std::string directory = path.lexically_normal().string();
    if (directory.back() != '/') directory += '/';
    return directory;
}

int ShowAuthority(const std::string& settings_directory, std::FILE* out, std::FILE* err) {
    std::string error;
    const auto authority = net::LocalAuthority::Open(settings_directory, error);
    if (!authority) {
        std::fprintf(err, "kelvrac: %s\n", error.c_str());
        return kExitStartup;
    }
    const std::string& pem = authority->CertificatePath();
    std::fprintf(
        out,
        "Local certificate authority: %s\n"
        "serve answers https pages with certificates it signs; import it once.\n"
        "Chromium (and Chrome) on Linux:\n"
        "  certutil -d sql:$HOME/.pki/nssdb -A -t C,, -n KelvraW -i '%s'\n"
        "Firefox (each profile):\n"
        "  certutil -d sql:$HOME/.mozilla/firefox/PROFILE -A -t C,, -n KelvraW -i '%s'\n"
        "The system store (curl, wget, ...), as root:\n"
        "  cp '%s' /usr/local/share/ca-certificates/kelvraw.crt && update-ca-certificates\n"
        "(certutil is in the package libnss3-tools.)\n",
        pem.c_str(), pem.c_str(), pem.c_str(), pem.c_str());
    return kExitDone;
}

std::uint32_t StartMode(const CommandLine& line, const app::AppSettings& settings) {
    if (line.command != Command::kServe) return server::kModeStopped;
    return line.mode.value_or(static_cast<std::uint32_t>(settings.run_at_start));
}

int RunCommand(app::AppCore& core, const CommandLine& line, SignalWatcher& signals, UrlInbox& inbox,
               std::FILE* out, std::FILE* err) {
    core.Settings().check_certificates = !line.insecure;
    switch (line.command) {
        case Command::kGet:
            return RunGet(core, line, signals, out, err);
        case Command::kRetry:
            return RunRetry(core, line, signals, out, err);
        case Command::kServe:
            return RunServe(core, signals, inbox, out, err);
        case Command::kCa:
        case Command::kHelp:
        case Command::kVersion:
            break;  // answered before start-up
    }
    return kExitStartup;
}

}  // namespace kelvra::console
