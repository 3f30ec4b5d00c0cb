#include "gui/guiui.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QProcess>
#include <QStatusBar>
#include <QUrl>

#include "app/startup.h"
#include "gui/crawldialogs.h"

namespace kelvra::gui {

namespace {

QMessageBox::Icon BoxIcon(app::MessageIcon icon) {
    switch (icon) {
        case app::MessageIcon::kInformation:
            return QMessageBox::Information;
        case app::MessageIcon::kExclamation:
            return QMessageBox::Warning;
        case app::MessageIcon::kStop:
            return QMessageBox::Critical;
        case app::MessageIcon::kQuestion:
            return QMessageBox::Question;
        case app::MessageIcon::kNone:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons BoxButtons(app::MessageButtons buttons) {
    switch (buttons) {
        case app::MessageButtons::kOkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case app::MessageButtons::kYesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case app::MessageButtons::kYesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case app::MessageButtons::kOk:
            break;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButton BoxButton(app::DialogResult result) {
    switch (result) {
        case app::DialogResult::kOk:
            return QMessageBox::Ok;
        case app::DialogResult::kYes:
            return QMessageBox::Yes;
        case app::DialogResult::kNo:
            return QMessageBox::No;
        default:
            return QMessageBox::Cancel;
    }
}

app::DialogResult ResultOf(int button) {
    switch (button) {
        case QMessageBox::Ok:
            return app::DialogResult::kOk;
        case QMessageBox::Yes:
            return app::DialogResult::kYes;
        case QMessageBox::No:
            return app::DialogResult::kNo;
        default:
            return app::DialogResult::kCancel;
    }
}

}  // namespace

QString ToQt(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQt(const QString& text) {
    return text.toStdString();
}

QWidget* GuiUserInterface::Owner() const {
    return window_.data();
}

app::DialogResult GuiUserInterface::MessageBox(std::string_view text, std::string_view caption,
                                               app::MessageIcon icon, app::MessageButtons buttons) {
    return OnGuiThread([&] {
        QMessageBox box(BoxIcon(icon), ToQt(caption), ToQt(text), BoxButtons(buttons), Owner());
        return ResultOf(box.exec());
    });
}

std::optional<std::string> GuiUserInterface::AskText(std::string_view prompt) {
    return OnGuiThread([&]() -> std::optional<std::string> {
        bool ok = false;
        const QString text = QInputDialog::getText(Owner(), ToQt(app::kMainTitle), ToQt(prompt),
                                                   QLineEdit::Normal, QString(), &ok);
        if (!ok) return std::nullopt;
        return FromQt(text);
    });
}

app::CredentialAnswer GuiUserInterface::AskCredentials(std::string_view prompt, std::string& user,
                                                       std::string& password) {
    return OnGuiThread([&] {
        CredentialDialog dialog(prompt, user, Owner());
        if (dialog.exec() != QDialog::Accepted) return app::CredentialAnswer::kCancelled;
        user = dialog.User();
        password = dialog.Password();
        return app::CredentialAnswer::kGiven;
    });
}

std::optional<std::string> GuiUserInterface::ChooseFile(const app::FileQuestion& question) {
    return OnGuiThread([&]() -> std::optional<std::string> {
        QFileDialog dialog(Owner(), ToQt(question.title));
        dialog.setNameFilter(
            ToQt(question.filter_text.empty() ? question.pattern : question.filter_text));
        dialog.setDefaultSuffix(ToQt(question.default_extension));
        dialog.setAcceptMode(question.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(question.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return FromQt(dialog.selectedFiles().front());
    });
}

void GuiUserInterface::StatusText(std::string_view text) {
    OnGuiThread([&] {
        if (window_) window_->statusBar()->showMessage(ToQt(text));
    });
}

void GuiUserInterface::SetTitle(std::string_view title) {
    OnGuiThread([&] {
        if (window_) window_->setWindowTitle(ToQt(title));
    });
}

void GuiUserInterface::Beep(app::Sound) {
    OnGuiThread([] { QApplication::beep(); });
}

void GuiUserInterface::ShowServerMode(std::uint32_t mode) {
    OnGuiThread([&] {
        if (mode_shower_) mode_shower_(mode);
    });
}

app::DialogResult GuiUserInterface::AskWithDefault(std::string_view text, std::string_view caption,
                                                   app::MessageIcon icon,
                                                   app::MessageButtons buttons,
                                                   app::DialogResult default_button) {
    return OnGuiThread([&] {
        QMessageBox box(BoxIcon(icon), ToQt(caption), ToQt(text), BoxButtons(buttons), Owner());
        box.setDefaultButton(BoxButton(default_button));
        return ResultOf(box.exec());
    });
}

std::optional<std::string> GuiUserInterface::ChooseFolder(std::string_view title,
                                                          std::string_view start_folder) {
    return OnGuiThread([&]() -> std::optional<std::string> {
        const QString folder =
            QFileDialog::getExistingDirectory(Owner(), ToQt(title), ToQt(start_folder));
        if (folder.isEmpty()) return std::nullopt;
        return FromQt(folder);
    });
}

std::string GuiUserInterface::ClipboardText() {
    return OnGuiThread([] { return FromQt(QGuiApplication::clipboard()->text()); });
}

void GuiUserInterface::SetClipboardText(std::string_view text) {
    OnGuiThread([&] { QGuiApplication::clipboard()->setText(ToQt(text)); });
}

int GuiUserInterface::OpenWithDesktop(std::string_view url_or_path) {
    return OnGuiThread([&] {
        const QString target = ToQt(url_or_path);
        const QUrl url = target.startsWith('/') ? QUrl::fromLocalFile(target) : QUrl(target);
        return QDesktopServices::openUrl(url) ? 0 : -1;
    });
}

bool GuiUserInterface::StartProcess(const std::vector<std::string>& argv) {
    if (argv.empty()) return false;
    QStringList arguments;
    for (std::size_t i = 1; i < argv.size(); ++i) arguments << ToQt(argv[i]);
    return QProcess::startDetached(ToQt(argv.front()), arguments);
}

}  // namespace kelvra::gui
