#pragma once
// The user interface of kelvrac: messages and status texts are printed, questions are read
// from standard input. When there is no one to answer (input is not a terminal, or closed), a
// message box takes its default button (the first unless named), as pressing Enter would.
// Opening with the desktop and starting programs wait for the started process.

#include <cstdio>

#include "app/userinterface.h"

namespace kelvra::console {

class ConsoleUserInterface final : public app::UserInterface {
  public:
    // Messages with a stop or exclamation icon go to err, everything else to out.
    ConsoleUserInterface(std::FILE* in, std::FILE* out, std::FILE* err);

    app::DialogResult MessageBox(std::string_view text, std::string_view caption,
                                 app::MessageIcon icon, app::MessageButtons buttons) override;
    std::optional<std::string> AskText(std::string_view prompt) override;
    app::CredentialAnswer AskCredentials(std::string_view prompt, std::string& user,
                                         std::string& password) override;
    std::optional<std::string> ChooseFile(const app::FileQuestion& question) override;
    void StatusText(std::string_view text) override;
    void SetTitle(std::string_view title) override;
    void Beep(app::Sound sound) override;
    void ShowServerMode(std::uint32_t mode) override;
    app::DialogResult AskWithDefault(std::string_view text, std::string_view caption,
                                     app::MessageIcon icon, app::MessageButtons buttons,
                                     app::DialogResult default_button) override;
    std::optional<std::string> ChooseFolder(std::string_view title,
                                            std::string_view start_folder) override;
    std::string ClipboardText() override;
    void SetClipboardText(std::string_view text) override;
    // Runs xdg-open and gives its exit status.
    int OpenWithDesktop(std::string_view url_or_path) override;
    bool StartProcess(const std::vector<std::string>& argv) override;

  private:
    // One line without its line end; none at end of input.
    std::optional<std::string> ReadLine(bool hide_echo);
    bool Interactive() const;

    std::FILE* in_;
    std::FILE* out_;
    std::FILE* err_;
};

}  // namespace kelvra::console
