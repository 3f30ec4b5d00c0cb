#pragma once
// The command line of kelvrac:
//   kelvrac [-cd] get [-r FILE.rlf] URL...
//   kelvrac [-cd] retry [-r FILE.rlf] FILE.rlf
//   kelvrac [-cd] serve [-v] [MODE]

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvra::console {

enum class Command { kGet, kRetry, kServe };

struct CommandLine {
    Command command = Command::kGet;
    std::vector<std::string> urls;      // get: normalised start URLs
    std::string retry_list_out;         // -r: where the failed URLs are saved
    std::string retry_list_in;          // retry: the list to fetch again
    std::optional<std::uint32_t> mode;  // serve: the mode; none: the "RunAtStart" setting
    bool verbose = false;               // serve -v: print the server's status texts
    bool insecure = false;              // --insecure: https certificates accepted unchecked
};

inline constexpr char kUsage[] =
    "usage: kelvrac [-cd] get [-r FILE.rlf] URL...\n"
    "       kelvrac [-cd] retry [-r FILE.rlf] FILE.rlf\n"
    "       kelvrac [-cd] serve [-v] [MODE]\n";

// None on a usage error, with a one-line reason in error.
std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, std::string& error);

}  // namespace kelvra::console
