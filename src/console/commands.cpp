#include "console/commands.h"

#include <string>

#include "app/registration.h"
#include "console/consoledisplay.h"
#include "server/serversettings.h"

namespace kelvra::console {
namespace {

// What the status dialog shows while it waits for the running transactions.
constexpr char kWaitingForThreads[] = "ただいまｽﾚｯﾄﾞ終了待機中....\n";

struct CrawlOutcome {
    long processed = 0;
    bool failed = false;
};

void Print(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// Runs until the finish report queues nothing more. A signal raises the stop level by one,
// as closing the status dialog does.
CrawlOutcome RunCrawl(crawl::KelvraClass_Log& crawl, SignalWatcher& signals, std::FILE* out) {
    CrawlOutcome outcome;
    if (signals.Count() > 0) {
        outcome.failed = true;  // interrupted before it began
        return outcome;
    }
    signals.SetAction([&crawl, out](int count) {
        if (count == 1) Print(out, kWaitingForThreads);
        crawl.Stop();
    });
    for (;;) {
        bool completed = false;
        outcome.processed += crawl.RunWithLog(completed);
        outcome.failed = crawl.HasErrorUrls() || !completed;
        // The report comes after a stop too: it saves the failed URLs.
        const bool queued_again = crawl.FinishReport(outcome.processed);
        if (!queued_again || signals.Count() > 0) break;
        crawl.ResetCrawl();
    }
    signals.SetAction(nullptr);
    return outcome;
}

int ExitCodeOf(const CrawlOutcome& outcome) {
    return outcome.failed || outcome.processed <= 0 ? kExitFailed : kExitDone;
}

int RunGet(app::AppCore& core, const CommandLine& line, SignalWatcher& signals, std::FILE* out,
           std::FILE* err) {
    ConsoleCrawlDisplay display(out, core.Ui());
    display.SetRetryListPath(line.retry_list_out);
    auto crawl = app::CreateCrawl(core, display);
    std::vector<std::string> registered;
    if (app::RegisterStartUrls(core, *crawl, line.urls, registered) < 1) {
        core.Ui().Beep(app::Sound::kStop);
        Print(err, "kelvrac: no URL was accepted for fetching\n");
        return kExitFailed;
    }
    const CrawlOutcome outcome = RunCrawl(*crawl, signals, out);
    crawl.reset();
    app::FinishCrawl(core, registered, outcome.processed > 0);
    return ExitCodeOf(outcome);
}

int RunRetry(app::AppCore& core, const CommandLine& line, SignalWatcher& signals, std::FILE* out,
             std::FILE* err) {
    ConsoleCrawlDisplay display(out, core.Ui());
    display.SetRetryListPath(line.retry_list_out);
    auto crawl = app::CreateCrawl(core, display);
    const int queued = crawl->ReadRetryList(line.retry_list_in);
    if (queued < 0) {
        Print(err, "kelvrac: not a retry list: " + line.retry_list_in + "\n");
        return kExitStartup;
    }
    if (queued == 0) {
        core.Ui().Beep(app::Sound::kStop);
        Print(err, "kelvrac: the retry list holds no job: " + line.retry_list_in + "\n");
        return kExitFailed;
    }
    const CrawlOutcome outcome = RunCrawl(*crawl, signals, out);
    return ExitCodeOf(outcome);
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
