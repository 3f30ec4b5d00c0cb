#pragma once
// What kelvrac's commands do once the program has started up.

#include <cstdio>
#include <optional>
#include <string>

#include "app/appcore.h"
#include "app/crawlrun.h"
#include "console/commandline.h"
#include "console/signalwatch.h"

namespace kelvra::console {

class UrlInbox;

// In the data directory: what the last get has not finished, for get --continue.
inline constexpr char kUnfinishedListName[] = "unfinished.rlf";

// Exit codes.
inline constexpr int kExitDone = 0;        // nothing failed and something was processed
inline constexpr int kExitFailed = 1;      // URLs failed, or nothing could be fetched
inline constexpr int kExitStartup = 2;     // usage or start-up error
inline constexpr int kExitHttpErrors = 3;  // every fetch worked, some answers were 4xx/5xx

// The data directory of -d, absolute with a trailing '/': created when missing. None, with
// the path and the system's reason in error, when it cannot be used.
std::optional<std::string> UsableDataDirectory(const std::string& given, std::string& error);

// Runs the crawl until it ends. A signal raises its stop level by one, as closing the status
// dialog does.
app::CrawlOutcome RunCrawl(app::CrawlRun& run, SignalWatcher& signals, std::FILE* out);

// The RunAtStart value kelvrac starts the server with: serve's mode (or the setting); the
// crawling commands leave the server stopped.
// kelvrac ca: opens (on first use makes) the local certificate authority of the settings
// directory and prints where its certificate is and how browsers and the system come to trust
// it. kExitDone, or kExitStartup when it can be neither read nor made.
int ShowAuthority(const std::string& settings_directory, std::FILE* out, std::FILE* err);

std::uint32_t StartMode(const CommandLine& line, const app::AppSettings& settings);

// Runs the command on the started core. While a crawl runs, the first SIGINT or SIGTERM lets
// the running transactions finish and lists the rest as failed; a second aborts. serve runs
// until a signal arrives. Returns the exit code; the caller shuts the core down.
// serve crawls the URLs that arrive in inbox.
int RunCommand(app::AppCore& core, const CommandLine& line, SignalWatcher& signals, UrlInbox& inbox,
               std::FILE* out, std::FILE* err);

}  // namespace kelvra::console
