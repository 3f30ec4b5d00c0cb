#include "console/commands.h"

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

std::uint32_t StartMode(const CommandLine& line, const app::AppSettings& settings) {
    if (line.command != Command::kServe) return server::kModeStopped;
    return line.mode.value_or(static_cast<std::uint32_t>(settings.run_at_start));
}

int RunCommand(app::AppCore& core, const CommandLine& line, SignalWatcher& signals, std::FILE* out,
               std::FILE* err) {
    core.Settings().check_certificates = !line.insecure;
    switch (line.command) {
        case Command::kGet:
            return RunGet(core, line, signals, out, err);
        case Command::kRetry:
            return RunRetry(core, line, signals, out, err);
        case Command::kServe:
            return RunServe(core, signals, out, err);
    }
    return kExitStartup;
}

}  // namespace kelvra::console
