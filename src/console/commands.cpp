#include "console/commands.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/crawlrun.h"
#include "console/consoledisplay.h"
#include "server/serversettings.h"

namespace kelvra::console {
namespace {

void Print(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// A signal raises the stop level by one, as closing the status dialog does.
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

int ExitCodeOf(const app::CrawlOutcome& outcome) {
    return outcome.failed || outcome.processed <= 0 ? kExitFailed : kExitDone;
}

int RunGet(app::AppCore& core, const CommandLine& line, SignalWatcher& signals, std::FILE* out,
           std::FILE* err) {
    ConsoleCrawlDisplay display(out, core.Ui());
    display.SetRetryListPath(line.retry_list_out);
    app::CrawlRun run(core, display);
    if (run.QueueStartUrls(line.urls) < 1) {
        Print(err, "kelvrac: no URL was accepted for fetching\n");
        return kExitFailed;
    }
    return ExitCodeOf(RunCrawl(run, signals, out));
}

int RunRetry(app::AppCore& core, const CommandLine& line, SignalWatcher& signals, std::FILE* out,
             std::FILE* err) {
    ConsoleCrawlDisplay display(out, core.Ui());
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
    return ExitCodeOf(RunCrawl(run, signals, out));
}

int RunServe(app::AppCore& core, SignalWatcher& signals, std::FILE* out, std::FILE* err) {
    if (core.ServerMode() == server::kModeStopped) {
        Print(err, "kelvrac: the local server cannot listen on port " +
                       std::to_string(core.Settings().port) + "\n");
        return kExitStartup;
    }
    Print(out, "Orvane serves " + core.DataDirectoryPath() + " on port " +
                   std::to_string(core.ServerPort()) + "\n");
    signals.WaitForSignal();
    return kExitDone;
}

}  // namespace

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

std::uint32_t StartMode(const CommandLine& line, const app::AppSettings& settings) {
    if (line.command != Command::kServe) return server::kModeStopped;
    return line.mode.value_or(static_cast<std::uint32_t>(settings.run_at_start));
}

int RunCommand(app::AppCore& core, const CommandLine& line, SignalWatcher& signals, std::FILE* out,
               std::FILE* err) {
    switch (line.command) {
        case Command::kGet:
            return RunGet(core, line, signals, out, err);
        case Command::kRetry:
            return RunRetry(core, line, signals, out, err);
        case Command::kServe:
            return RunServe(core, signals, out, err);
        case Command::kHelp:
        case Command::kVersion:
            break;  // answered before start-up
    }
    return kExitStartup;
}

}  // namespace kelvra::console
