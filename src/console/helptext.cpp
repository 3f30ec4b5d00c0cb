// What kelvrac --help and kelvrac COMMAND --help print.

#include "console/commandline.h"

namespace kelvra::console {
namespace {

constexpr char kGetUsage[] = "usage: kelvrac [-cd] get [OPTION...] URL...\n";
constexpr char kContinueUsage[] = "       kelvrac [-cd] get --continue [OPTION...] [URL...]\n";
constexpr char kRetryUsage[] = "       kelvrac [-cd] retry [OPTION...] FILE.rlf\n";
constexpr char kServeUsage[] = "       kelvrac [-cd] serve [-d DIR] [-v] [MODE]\n";
constexpr char kCaUsage[] = "       kelvrac [-cd] ca\n";
constexpr char kHelpUsage[] = "       kelvrac [-cd] [COMMAND] --help | --version\n";

constexpr char kCommands[] =
    "\nCommands:\n"
    "  get URL...      mirror from the start URLs, each with its stored condition from\n"
    "                  kelvraw.cf or the default one\n"
    "  retry FILE.rlf  fetch the URLs of a retry list again\n"
    "  serve [MODE]    run the local server until SIGINT or SIGTERM\n"
    "  ca              show the local certificate authority (made on first use) and how\n"
    "                  to import it, so that browsers read https pages through serve\n";

constexpr char kCrawlOptions[] =
    "\nOptions of get and retry (for this run only; no file is rewritten):\n"
    "  -d DIR      data directory instead of BaseDirectory (created when missing)\n"
    "  -c N        connections per server, 1-4 (default: kelvra.mcf, else 1)\n"
    "  -w MS       pause between requests to one server, 0 or 3-32767 ms, on a kept\n"
    "              connection (default: kelvra.mcf, else 1000)\n"
    "              -c and -w act as a \"* \" line ahead of every line of kelvra.mcf\n"
    "  -j N        workers, 1-10 (default: GetThread)\n"
    "  -r FILE     where the URLs that failed are saved as a retry list\n"
    "  -q          print failures and the summary only\n"
    "  -v          print the line log even on a terminal\n"
    "  --insecure  accept https certificates that do not verify, for this run\n"
    "Options of get only:\n"
    "  -l N        link levels to fetch, 0-20, 0 = unlimited (default: Classes)\n"
    "  --update    re-check everything that is stored, below unchanged pages too\n"
    "  --continue  first fetch what the interrupted run left in unfinished.rlf\n";

constexpr char kServeText[] =
    "\nServer modes of serve (default: RunAtStart of kelvraw.ini):\n"
    "  local  1    answer from the data directory only\n"
    "  proxy  2    relay to the origin, store nothing\n"
    "  proxy2 3    relay and store\n"
    "  proxy3 4    relay and store, keeping old versions\n"
    "  A mode may end in +always (16: answer stored objects from the store) or\n"
    "  +check (32: ask the origin with the stored date), e.g. proxy2+check or 35.\n"
    "The server listens on Port of [Orvane] in kelvraw.ini (default 18080). Browsers\n"
    "reach it as a proxy, or through the proxy script proxycfg.pac.\n"
    "Options of serve:\n"
    "  -d DIR      data directory instead of BaseDirectory\n"
    "  -v          print the server's status texts\n";

constexpr char kFiles[] =
    "\nFiles:\n"
    "  ${XDG_CONFIG_HOME:-~/.config}/kelvraw/kelvraw.ini  settings (-cd: ./kelvraw.ini)\n"
    "  ${XDG_CONFIG_HOME:-~/.config}/kelvraw/proxycfg.pac proxy script written for browsers\n"
    "  ${XDG_CONFIG_HOME:-~/.config}/kelvraw/kelvra-ca.pem local certificate authority\n"
    "                    (kelvra-ca.key: its key, readable by you only)\n"
    "  kelvra.mtf        extension-to-MIME table beside the program\n"
    "  In the data directory:\n"
    "  kelvra.hif        what is stored (kelvra.log.tmp: its journal while running)\n"
    "  kelvraw.cf        acquisition conditions per start URL\n"
    "  kelvra.mcf        connections and pauses per server\n"
    "  unfinished.rlf    what the last get has not finished (for --continue)\n";

constexpr char kExitCodes[] =
    "\nExit status:\n"
    "  0  everything was fetched\n"
    "  1  URLs failed (no answer, local error, stopped), or nothing could be fetched\n"
    "  2  usage or start-up error\n"
    "  3  every fetch worked, but some URLs answered 4xx or 5xx (1 wins over 3)\n";

}  // namespace

std::string UsageText() {
    return std::string(kGetUsage) + kContinueUsage + kRetryUsage + kServeUsage + kCaUsage +
           kHelpUsage;
}

std::string HelpText(std::optional<Command> topic) {
    if (!topic) return UsageText() + kCommands + kCrawlOptions + kServeText + kFiles + kExitCodes;
    switch (*topic) {
        case Command::kServe:
            return std::string(kServeUsage).replace(0, 6, "usage:") + kServeText + kFiles;
        case Command::kCa:
            return std::string(kCaUsage).replace(0, 6, "usage:") + kCommands;
        case Command::kRetry:
            return std::string(kRetryUsage).replace(0, 6, "usage:") + kCrawlOptions + kFiles +
                   kExitCodes;
        default:
            return std::string(kGetUsage) + kContinueUsage + kCrawlOptions + kFiles + kExitCodes;
    }
}

}  // namespace kelvra::console
