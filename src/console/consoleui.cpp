#include "console/consoleui.h"

#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <span>
#include <vector>

#include "app/servermode.h"
#include "util/strutil.h"

namespace kelvra::console {
namespace {

using app::DialogResult;
using app::MessageButtons;

// User ID and password are each at most this long.
constexpr std::size_t kMaxCredentialLength = 32;

struct ButtonName {
    DialogResult result;
    std::string_view word;   // what the user types, compared ignoring case
    std::string_view shown;  // how the prompt names it
};

constexpr ButtonName kOkButton{DialogResult::kOk, "ok", "OK"};
constexpr ButtonName kCancelButton{DialogResult::kCancel, "cancel", "Cancel"};
constexpr ButtonName kYesButton{DialogResult::kYes, "yes", "Yes"};
constexpr ButtonName kNoButton{DialogResult::kNo, "no", "No"};

// The buttons of a set, the default first.
std::span<const ButtonName> ButtonsOf(MessageButtons buttons) {
    static constexpr ButtonName kOk[] = {kOkButton};
    static constexpr ButtonName kOkCancel[] = {kOkButton, kCancelButton};
    static constexpr ButtonName kYesNo[] = {kYesButton, kNoButton};
    static constexpr ButtonName kYesNoCancel[] = {kYesButton, kNoButton, kCancelButton};
    switch (buttons) {
        case MessageButtons::kOkCancel:
            return kOkCancel;
        case MessageButtons::kYesNo:
            return kYesNo;
        case MessageButtons::kYesNoCancel:
            return kYesNoCancel;
        case MessageButtons::kOk:
            break;
    }
    return kOk;
}

// The button whose name starts with the answer; none for an unknown answer.
std::optional<DialogResult> MatchAnswer(std::span<const ButtonName> names,
                                        std::string_view answer) {
    if (answer.empty()) return std::nullopt;
    for (const ButtonName& name : names) {
        if (answer.size() <= name.word.size() &&
            util::EqualsNoCase(answer, name.word.substr(0, answer.size()))) {
            return name.result;
        }
    }
    return std::nullopt;
}

// "(Yes/No/Cancel) "
std::string PromptOf(std::span<const ButtonName> names) {
    std::string prompt = "(";
    for (const ButtonName& name : names) {
        if (prompt.size() > 1) prompt += "/";
        prompt += name.shown;
    }
    return prompt + ") ";
}

// Runs argv[0] from PATH and waits for it: its exit status, or -1 when it could not start or
// did not exit normally.
int RunAndWait(const std::vector<std::string>& argv) {
    if (argv.empty()) return -1;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Turns terminal echo off for its lifetime (password entry).
class EchoOff final {
  public:
    explicit EchoOff(int fd) : fd_(fd) {
        active_ = tcgetattr(fd_, &saved_) == 0;
        if (!active_) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

void Print(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

ConsoleUserInterface::ConsoleUserInterface(std::FILE* in, std::FILE* out, std::FILE* err)
    : in_(in), out_(out), err_(err) {}

bool ConsoleUserInterface::Interactive() const {
    return isatty(fileno(in_)) == 1;
}

std::optional<std::string> ConsoleUserInterface::ReadLine(bool hide_echo) {
    std::optional<EchoOff> echo;
    if (hide_echo && Interactive()) echo.emplace(fileno(in_));
    std::string line;
    int c = 0;
    while ((c = std::fgetc(in_)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (echo) Print(out_, "\n");
    if (c == EOF && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

DialogResult ConsoleUserInterface::MessageBox(std::string_view text, std::string_view caption,
                                              app::MessageIcon icon, MessageButtons buttons) {
    return AskWithDefault(text, caption, icon, buttons, ButtonsOf(buttons).front().result);
}

DialogResult ConsoleUserInterface::AskWithDefault(std::string_view text, std::string_view caption,
                                       app::MessageIcon icon, MessageButtons buttons,
                                       DialogResult default_button) {
    const bool warning = icon == app::MessageIcon::kStop || icon == app::MessageIcon::kExclamation;
    std::FILE* stream = warning ? err_ : out_;
    std::string shown = "[" + std::string(caption) + "] " + std::string(text) + "\n";
    Print(stream, shown);
    const std::span<const ButtonName> names = ButtonsOf(buttons);
    if (names.size() == 1 || !Interactive()) return default_button;
    for (;;) {
        Print(stream, PromptOf(names));
        std::optional<std::string> answer = ReadLine(false);
        if (!answer) return default_button;
        std::string word(util::Trim(*answer));
        if (word.empty()) return default_button;
        if (std::optional<DialogResult> result = MatchAnswer(names, word)) return *result;
    }
}

std::optional<std::string> ConsoleUserInterface::AskText(std::string_view prompt) {
    Print(out_, std::string(prompt) + " : ");
    return ReadLine(false);
}

app::CredentialAnswer ConsoleUserInterface::AskCredentials(std::string_view prompt,
                                                           std::string& user,
                                                           std::string& password) {
    Print(out_, "Input authorization code for " + std::string(prompt) + "\n");
    Print(out_, "User ID : ");
    std::string id = ReadLine(false).value_or("");
    util::TrimRight(id);
    if (id.empty()) {
        Print(out_, "canceled.\n");
        return app::CredentialAnswer::kCancelled;
    }
    if (id.size() > kMaxCredentialLength) {
        Print(out_, "Too long User ID.\n");
        return app::CredentialAnswer::kFailed;
    }
    Print(out_, "Password : ");
    std::string secret = ReadLine(true).value_or("");
    util::TrimRight(secret);
    if (secret.size() > kMaxCredentialLength) {
        Print(out_, "Too long passwd.\n");
        return app::CredentialAnswer::kFailed;
    }
    user = std::move(id);
    password = std::move(secret);
    return app::CredentialAnswer::kGiven;
}

std::optional<std::string> ConsoleUserInterface::ChooseFile(const app::FileQuestion& question) {
    Print(out_, question.title + " [" + question.filter_text + "] : ");
    std::optional<std::string> name = ReadLine(false);
    if (!name) return std::nullopt;
    util::TrimRight(*name);
    if (name->empty()) return std::nullopt;
    const std::size_t slash = name->rfind('/');
    const std::size_t dot = name->rfind('.');
    const bool has_extension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    if (!has_extension && !question.default_extension.empty()) {
        *name += "." + question.default_extension;
    }
    if (!question.save && access(name->c_str(), R_OK) != 0) return std::nullopt;
    return name;
}

void ConsoleUserInterface::StatusText(std::string_view text) {
    if (!text.empty()) Print(out_, std::string(text) + "\n");
}

// A console has no window title; the start-up and shutdown steps print their own messages.
void ConsoleUserInterface::SetTitle(std::string_view) {}

void ConsoleUserInterface::Beep(app::Sound) {
    if (isatty(fileno(err_)) == 1) Print(err_, "\a");
}

// A stopped server is what the crawling commands start with: not worth a line.
void ConsoleUserInterface::ShowServerMode(std::uint32_t mode) {
    if (mode == 0) return;
    Print(out_, "Orvane: " + std::string(app::ServerModeTip(mode)) + "\n");
}

// Enter keeps the start folder.
std::optional<std::string> ConsoleUserInterface::ChooseFolder(std::string_view title,
                                                              std::string_view start_folder) {
    Print(out_, std::string(title) + " [" + std::string(start_folder) + "] : ");
    std::optional<std::string> name = ReadLine(false);
    if (!name) return std::nullopt;
    util::TrimRight(*name);
    if (name->empty()) return std::string(start_folder);
    return name;
}

// A console reaches no clipboard: what would be copied is printed for the user to copy.
std::string ConsoleUserInterface::ClipboardText() {
    return {};
}

void ConsoleUserInterface::SetClipboardText(std::string_view text) {
    Print(out_, std::string(text) + "\n");
}

int ConsoleUserInterface::OpenWithDesktop(std::string_view url_or_path) {
    return RunAndWait({"xdg-open", std::string(url_or_path)});
}

// Waits for the program: a console runs one thing after the other.
bool ConsoleUserInterface::StartProcess(const std::vector<std::string>& argv) {
    return RunAndWait(argv) != -1;
}

}  // namespace kelvra::console
