#include "console/commandline.h"

#include <charconv>
#include <string_view>

#include "app/registration.h"
#include "app/settings.h"
#include "app/startup.h"
#include "crawl/maxconnect.h"
#include "server/serversettings.h"

namespace kelvra::console {
namespace {

constexpr int kMinPauseMs = 3;  // kelvra.mcf reads 1 and 2 as keep-alive kinds, not pauses
constexpr int kMaxPauseMs = 32767;
constexpr int kMaxDepth = 20;  // what the condition dialog's level box allows

struct ModeName {
    std::string_view name;
    std::uint32_t base;
};
constexpr ModeName kModeNames[] = {
    {"local", server::kModeLocal},
    {"proxy", server::kModeProxy},
    {"proxy2", server::kModeProxy2},
    {"proxy3", server::kModeProxy3},
};
struct DataUseName {
    std::string_view suffix;
    std::uint32_t bits;
};
constexpr DataUseName kDataUseNames[] = {
    {"+always", server::kUseSpoolAlways},
    {"+check", server::kUseSpoolCheck},
};

std::optional<long> ParseNumber(std::string_view text) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> ModeByName(std::string_view text) {
    std::uint32_t bits = 0;
    for (const DataUseName& use : kDataUseNames) {
        if (text.ends_with(use.suffix)) {
            bits = use.bits;
            text.remove_suffix(use.suffix.size());
            break;
        }
    }
    for (const ModeName& mode : kModeNames) {
        if (text == mode.name) return mode.base | bits;
    }
    return std::nullopt;
}

enum class Accepts : unsigned {
    kGet = 1,
    kRetry = 2,
    kServe = 4,
};
constexpr unsigned kCrawling = unsigned(Accepts::kGet) | unsigned(Accepts::kRetry);

unsigned Bit(Command command) {
    switch (command) {
        case Command::kGet:
            return unsigned(Accepts::kGet);
        case Command::kRetry:
            return unsigned(Accepts::kRetry);
        default:
            return unsigned(Accepts::kServe);
    }
}

// A number option: the ranges its value may lie in and the field it sets.
struct NumberOption {
    std::string_view name;
    unsigned commands;
    long low1, high1, low2, high2;  // the second range is empty when low2 > high2
    std::optional<int> app::RunOverrides::*field;
    const char* what;
};
constexpr NumberOption kNumberOptions[] = {
    {"-c", kCrawling, 1, crawl::ServerLimit::kMaxConnections, 1, 0, &app::RunOverrides::connections,
     "connections per server"},
    {"-w", kCrawling, 0, 0, kMinPauseMs, kMaxPauseMs, &app::RunOverrides::pause_ms, "pause in ms"},
    {"-j", kCrawling, app::kMinGetThread, app::kMaxGetThread, 1, 0, &app::RunOverrides::workers,
     "workers"},
    {"-l", unsigned(Accepts::kGet), 0, kMaxDepth, 1, 0, &app::RunOverrides::depth, "link depth"},
};

std::string RangeText(const NumberOption& option) {
    std::string text = std::to_string(option.low1);
    if (option.high1 != option.low1) text += "-" + std::to_string(option.high1);
    if (option.low2 <= option.high2) {
        text += " or " + std::to_string(option.low2) + "-" + std::to_string(option.high2);
    }
    return text;
}

class Arguments final {
  public:
    Arguments(int argc, const char* const* argv, int first) : argc_(argc), argv_(argv), i_(first) {}
    bool Done() const { return i_ >= argc_; }
    std::string_view Take() { return argv_[i_++]; }

  private:
    int argc_;
    const char* const* argv_;
    int i_;
};

class Parser final {
  public:
    Parser(Arguments& args, CommandLine& line, std::string& error)
        : args_(args), line_(line), error_(error) {}

    // Options anywhere among the operands; the operands in order.
    bool Split(std::vector<std::string_view>& operands) {
        while (!args_.Done()) {
            const std::string_view word = args_.Take();
            if (word == "--help") {
                line_.help_topic = line_.command;
                line_.command = Command::kHelp;
                return true;
            }
            if (word.size() > 1 && word.front() == '-' && !IsNegativeNumber(word)) {
                if (!TakeOption(word)) return false;
            } else {
                operands.push_back(word);
            }
        }
        return true;
    }

  private:
    static bool IsNegativeNumber(std::string_view word) { return ParseNumber(word).has_value(); }

    bool Fail(std::string text) {
        error_ = std::move(text);
        return false;
    }

    bool Value(std::string_view option, std::string_view& value) {
        if (args_.Done()) return Fail(std::string(option) + " needs a value");
        value = args_.Take();
        return true;
    }

    bool TakeOption(std::string_view word) {
        const unsigned bit = Bit(line_.command);
        for (const NumberOption& option : kNumberOptions) {
            if (word == option.name) {
                return (option.commands & bit) ? TakeNumber(option) : NotHere(word);
            }
        }
        std::string_view value;
        if (word == "-r" && (bit & kCrawling)) {
            if (!Value(word, value)) return false;
            line_.retry_list_out = std::string(value);
        } else if (word == "-d") {
            if (!Value(word, value)) return false;
            line_.data_directory = std::string(value);
            if (value.empty()) return Fail("-d needs a directory");
        } else if (word == "-v") {
            line_.verbose = true;
        } else if (word == "-q" && (bit & kCrawling)) {
            line_.quiet = true;
        } else if (word == "--insecure" && (bit & kCrawling)) {
            line_.insecure = true;
        } else if (word == "--update" && line_.command == Command::kGet) {
            line_.overrides.update = true;
        } else if (word == "--continue" && line_.command == Command::kGet) {
            line_.resume = true;
        } else {
            return NotHere(word);
        }
        return true;
    }

    bool NotHere(std::string_view word) {
        return Fail("unknown option for this command: " + std::string(word));
    }

    bool TakeNumber(const NumberOption& option) {
        std::string_view text;
        if (!Value(option.name, text)) return false;
        const std::optional<long> value = ParseNumber(text);
        const auto in = [&](long low, long high) {
            return value && *value >= low && *value <= high;
        };
        if (!in(option.low1, option.high1) && !in(option.low2, option.high2)) {
            return Fail(std::string(option.name) + " takes " + option.what + " " +
                        RangeText(option) + ", not " + std::string(text));
        }
        line_.overrides.*option.field = static_cast<int>(*value);
        return true;
    }

    Arguments& args_;
    CommandLine& line_;
    std::string& error_;
};

bool ParseGet(const std::vector<std::string_view>& operands, CommandLine& line,
              std::string& error) {
    for (const std::string_view text : operands) {
        std::optional<std::string> url = app::EnteredUrl(text);
        if (!url) {
            error = "not a URL: " + std::string(text);
            return false;
        }
        line.urls.push_back(std::move(*url));
    }
    if (line.urls.empty() && !line.resume) error = "get needs at least one URL (or --continue)";
    return !line.urls.empty() || line.resume;
}

bool ParseRetry(const std::vector<std::string_view>& operands, CommandLine& line,
                std::string& error) {
    if (operands.size() != 1) {
        error = "retry takes one retry list file";
        return false;
    }
    line.retry_list_in = std::string(operands.front());
    return true;
}

bool ParseServe(const std::vector<std::string_view>& operands, CommandLine& line,
                std::string& error) {
    if (operands.empty()) return true;
    if (operands.size() > 1) {
        error = "serve takes one mode";
        return false;
    }
    line.mode = ParseMode(operands.front());
    if (!line.mode) error = "not a server mode: " + std::string(operands.front());
    return line.mode.has_value();
}

std::optional<Command> CommandNamed(std::string_view name) {
    if (name == "get") return Command::kGet;
    if (name == "retry") return Command::kRetry;
    if (name == "serve") return Command::kServe;
    if (name == "ca") return Command::kCa;
    return std::nullopt;
}

}  // namespace

bool CommandLine::HasRunOptions() const {
    const app::RunOverrides& o = overrides;
    return !data_directory.empty() || o.workers || o.connections || o.pause_ms || o.depth ||
           o.update || insecure;
}

std::optional<std::uint32_t> ParseMode(std::string_view text) {
    if (const std::optional<std::uint32_t> named = ModeByName(text)) return named;
    const std::optional<long> number = ParseNumber(text);
    // A value the server does not know would run it as nothing it can show.
    if (!number || *number < 0 || !server::IsKnownMode(static_cast<std::uint32_t>(*number))) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*number);
}

std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, std::string& error) {
    Arguments args(argc, argv, app::UseCurrentDirectoryOption(argc, argv) ? 2 : 1);
    if (args.Done()) {
        error = "no command";
        return std::nullopt;
    }
    const std::string_view name = args.Take();
    CommandLine line;
    if (name == "--help" || name == "help") {
        line.command = Command::kHelp;
        if (!args.Done()) line.help_topic = CommandNamed(args.Take());
        return line;
    }
    if (name == "--version") {
        line.command = Command::kVersion;
        return line;
    }
    const std::optional<Command> command = CommandNamed(name);
    if (!command) {
        error = "unknown command: " + std::string(name);
        return std::nullopt;
    }
    line.command = *command;
    std::vector<std::string_view> operands;
    if (!Parser(args, line, error).Split(operands)) return std::nullopt;
    if (line.command == Command::kHelp) return line;
    if (line.quiet && line.verbose) {
        error = "-q and -v exclude each other";
        return std::nullopt;
    }
    bool ok = false;
    switch (line.command) {
        case Command::kGet:
            ok = ParseGet(operands, line, error);
            break;
        case Command::kRetry:
            ok = ParseRetry(operands, line, error);
            break;
        case Command::kCa:
            ok = operands.empty() && line.data_directory.empty() && !line.HasRunOptions();
            if (!ok) error = "ca takes no operands or options";
            break;
        default:
            ok = ParseServe(operands, line, error);
            break;
    }
    if (!ok) return std::nullopt;
    return line;
}

}  // namespace kelvra::console
