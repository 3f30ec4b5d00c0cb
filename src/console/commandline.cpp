#include "console/commandline.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "app/registration.h"
#include "app/startup.h"
#include "server/serversettings.h"

namespace kelvra::console {
namespace {

std::optional<std::uint32_t> ParseMode(std::string_view text) {
    std::uint32_t mode = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), mode);
    // A value the server does not know would run it as nothing it can show.
    if (error != std::errc() || end != text.data() + text.size() || !server::IsKnownMode(mode)) {
        return std::nullopt;
    }
    return mode;
}

class Arguments final {
  public:
    Arguments(int argc, const char* const* argv, int first) : argc_(argc), argv_(argv), i_(first) {}
    bool Done() const { return i_ >= argc_; }
    std::string_view Peek() const { return argv_[i_]; }
    std::string_view Take() { return argv_[i_++]; }

  private:
    int argc_;
    const char* const* argv_;
    int i_;
};

bool TakeRetryListOption(Arguments& args, CommandLine& line, std::string& error) {
    if (!args.Done() && args.Peek() == "--insecure") {
        args.Take();
        line.insecure = true;
    }
    if (args.Done() || args.Peek() != "-r") return true;
    args.Take();
    if (args.Done()) {
        error = "-r needs a file name";
        return false;
    }
    line.retry_list_out = std::string(args.Take());
    return true;
}

bool ParseGet(Arguments& args, CommandLine& line, std::string& error) {
    if (!TakeRetryListOption(args, line, error)) return false;
    while (!args.Done()) {
        const std::string_view text = args.Take();
        std::optional<std::string> url = app::EnteredUrl(text);
        if (!url) {
            error = "not a URL: " + std::string(text);
            return false;
        }
        line.urls.push_back(std::move(*url));
    }
    if (line.urls.empty()) error = "get needs at least one URL";
    return !line.urls.empty();
}

bool ParseRetry(Arguments& args, CommandLine& line, std::string& error) {
    if (!TakeRetryListOption(args, line, error)) return false;
    if (args.Done()) {
        error = "retry needs a retry list file";
        return false;
    }
    line.retry_list_in = std::string(args.Take());
    if (!args.Done()) error = "retry takes one retry list file";
    return args.Done();
}

bool ParseServe(Arguments& args, CommandLine& line, std::string& error) {
    if (!args.Done() && args.Peek() == "-v") {
        args.Take();
        line.verbose = true;
    }
    if (args.Done()) return true;
    const std::string_view text = args.Take();
    line.mode = ParseMode(text);
    if (!line.mode) {
        error = "not a server mode: " + std::string(text);
        return false;
    }
    if (!args.Done()) error = "serve takes one mode";
    return args.Done();
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, std::string& error) {
    Arguments args(argc, argv, app::UseCurrentDirectoryOption(argc, argv) ? 2 : 1);
    if (args.Done()) {
        error = "no command";
        return std::nullopt;
    }
    const std::string_view name = args.Take();
    CommandLine line;
    bool ok = false;
    if (name == "get") {
        line.command = Command::kGet;
        ok = ParseGet(args, line, error);
    } else if (name == "retry") {
        line.command = Command::kRetry;
        ok = ParseRetry(args, line, error);
    } else if (name == "serve") {
        line.command = Command::kServe;
        ok = ParseServe(args, line, error);
    } else {
        error = "unknown command: " + std::string(name);
    }
    if (!ok) return std::nullopt;
    return line;
}

}  // namespace kelvra::console
