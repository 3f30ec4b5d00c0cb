#pragma once
// The desktop program's UserInterface: message boxes, questions and file choices as Qt dialogs
// over the main window, the status bar and title of that window. Callable from any thread: a
// call from another thread runs on the GUI thread and waits for its answer there.

#include <QApplication>
#include <QMainWindow>
#include <QPointer>
#include <QThread>
#include <functional>
#include <type_traits>

#include "app/userinterface.h"

namespace kelvra::gui {

// Text of the core (UTF-8) for Qt, and back.
QString ToQt(std::string_view text);
std::string FromQt(const QString& text);

// Runs f on the GUI thread: at once there, else queued and waited for (crawl and server
// workers report through the same interfaces).
template <class F>
auto OnGuiThread(F&& f) -> decltype(f()) {
    using Result = decltype(f());
    if (QThread::currentThread() == qApp->thread()) return f();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            qApp, [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

class GuiUserInterface final : public app::UserInterface {
  public:
    GuiUserInterface() = default;

    // The window that owns the dialogs and shows status and title; none before it exists.
    void SetWindow(QMainWindow* window) { window_ = window; }
    // Called with each mode the server shows (tray icon and menu bar).
    void SetModeShower(std::function<void(std::uint32_t)> shower) {
        mode_shower_ = std::move(shower);
    }

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
    // QDesktopServices tells only whether the desktop took it: 0, else -1.
    int OpenWithDesktop(std::string_view url_or_path) override;
    bool StartProcess(const std::vector<std::string>& argv) override;

  private:
    QWidget* Owner() const;

    QPointer<QMainWindow> window_;
    std::function<void(std::uint32_t)> mode_shower_;
};

}  // namespace kelvra::gui
