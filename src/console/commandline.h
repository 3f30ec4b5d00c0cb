#pragma once
// The command line of kelvrac (HelpText shows it whole):
//   kelvrac [-cd] get [OPTION...] URL...
//   kelvrac [-cd] retry [OPTION...] FILE.rlf
//   kelvrac [-cd] serve [-d DIR] [-v] [MODE]
//   kelvrac [-cd] ca
//   kelvrac [-cd] [COMMAND] --help | --version

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/runoverrides.h"

namespace kelvra::console {

enum class Command { kGet, kRetry, kServe, kCa, kHelp, kVersion };

struct CommandLine {
    Command command = Command::kGet;
    std::optional<Command> help_topic;  // kHelp: the command asked about; none: all of them
    std::vector<std::string> urls;      // get: normalised start URLs
    bool resume = false;                // get --continue: the unfinished list first
    std::string retry_list_out;         // -r: where the failed URLs are saved
    std::string retry_list_in;          // retry: the list to fetch again
    std::optional<std::uint32_t> mode;  // serve: the mode; none: the "RunAtStart" setting
    bool verbose = false;               // -v: the line log; serve: the server's status texts
    bool quiet = false;                 // -q: failures and the summary only
    bool insecure = false;              // --insecure: https certificates accepted unchecked
    std::string data_directory;         // -d, as given
    app::RunOverrides overrides;        // -c -w -j -l --update

    // Whether an option changes how the crawl runs (-d -c -w -j -l --update --insecure).
    bool HasRunOptions() const;
};

inline constexpr char kVersionText[] = "kelvrac 1.0\n";

// The usage lines of every command, or the whole help of one.
std::string HelpText(std::optional<Command> topic);
std::string UsageText();

// A server mode by name ("local", "proxy2+check") or number; none when unknown.
std::optional<std::uint32_t> ParseMode(std::string_view text);

// None on a usage error, with a one-line reason in error.
std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, std::string& error);

}  // namespace kelvra::console
