#pragma once
// Everything the application core shows to the user or asks of the user goes through this
// interface, so that the same logic runs under the desktop program, the console program and
// the tests. No toolkit type appears here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::app {

enum class MessageIcon { kNone, kInformation, kExclamation, kStop, kQuestion };

// The button sets of the message boxes the program shows.
enum class MessageButtons { kOk, kOkCancel, kYesNo, kYesNoCancel };

// The button that closed a message box. The values are the classic dialog result codes, which
// some callers pass on unchanged.
enum class DialogResult { kOk = 1, kCancel = 2, kYes = 6, kNo = 7 };

enum class Sound { kStop, kExclamation };

// An open-file or save-file question.
struct FileQuestion {
    std::string title;
    std::string filter_text;  // "ﾘﾄﾗｲﾘｽﾄﾌｧｲﾙ (*.rlf)"
    std::string pattern;      // "*.rlf"
    std::string default_extension;
    bool save = false;  // true: ask before overwriting, the folder must exist
};

// Result of a credential prompt.
enum class CredentialAnswer { kGiven, kCancelled, kFailed };

class UserInterface {
  public:
    virtual ~UserInterface() = default;

    // A modal message; returns the button pressed.
    virtual DialogResult MessageBox(std::string_view text, std::string_view caption,
                                    MessageIcon icon, MessageButtons buttons) = 0;
    // A line of text; none when the user cancels.
    virtual std::optional<std::string> AskText(std::string_view prompt) = 0;
    // User ID and password for an authentication prompt text.
    virtual CredentialAnswer AskCredentials(std::string_view prompt, std::string& user,
                                            std::string& password) = 0;
    // A file name; none when the user cancels.
    virtual std::optional<std::string> ChooseFile(const FileQuestion& question) = 0;
    // The one-line status text (status bar).
    virtual void StatusText(std::string_view text) = 0;
    // The main window title, which tells that the program is starting up or shutting down.
    virtual void SetTitle(std::string_view title) = 0;
    virtual void Beep(Sound sound) = 0;
    // The local server's mode changed (low four bits: 0 stopped, 1 Local Mode, 2 Proxy Mode,
    // 3 Proxy Mode 2, 4 Proxy Mode 3): the tray icon and menu bar follow it.
    virtual void ShowServerMode(std::uint32_t mode) = 0;

    // A question whose default_button (one of buttons) is the one Enter presses, and the answer
    // when no one can answer.
    virtual DialogResult AskWithDefault(std::string_view text, std::string_view caption,
                                        MessageIcon icon, MessageButtons buttons,
                                        DialogResult default_button) = 0;
    // A folder, starting at start_folder; none when the user cancels.
    virtual std::optional<std::string> ChooseFolder(std::string_view title,
                                                    std::string_view start_folder) = 0;
    // The clipboard's text; empty when it holds no text. What the program puts there are URLs
    // and local paths, passed as they are (UTF-8 for the desktop).
    virtual std::string ClipboardText() = 0;
    virtual void SetClipboardText(std::string_view text) = 0;
    // Opens a URL or a local file with the desktop's default program. Returns 0 when it was
    // handed over, else a non-zero code the caller shows: the exit status of the opener
    // (xdg-open), or -1 when no opener could be started or the desktop refused.
    virtual int OpenWithDesktop(std::string_view url_or_path) = 0;
    // Starts argv[0] (looked up in PATH) with the arguments argv[1...]; true when it started.
    virtual bool StartProcess(const std::vector<std::string>& argv) = 0;
};

// Shorthand for a box with only an OK button.
void ShowMessage(UserInterface& ui, std::string_view text, std::string_view caption,
                 MessageIcon icon);

}  // namespace kelvra::app
