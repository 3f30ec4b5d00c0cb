#pragma once
// The dialogs of the data commands: the progress dialog with "Cancel" and "No Message", and
// the file selection (two lists, "↓"/"↑" with a pattern field between them).

#include <QDialog>
#include <QEventLoop>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/datacommands.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace kelvra::gui {

class TwinListDlg final : public QDialog {
  public:
    TwinListDlg(const std::vector<std::string>& candidates, QWidget* parent);

    // "↓" and "↑": the selected entries of one list move to the other; with none selected,
    // the entries the pattern field matches ("!" in front: those it does not match).
    void MoveDown();
    void MoveUp();
    QLineEdit* Pattern() const { return pattern_; }
    const std::vector<std::string>& Chosen() const { return chosen_; }
    const std::vector<std::string>& Candidates() const { return candidates_; }

  private:
    void Move(QListWidget* from_list, std::vector<std::string>& from, std::vector<std::string>& to);
    void Show();

    std::vector<std::string> candidates_;
    std::vector<std::string> chosen_;
    QListWidget* upper_ = nullptr;
    QListWidget* lower_ = nullptr;
    QLineEdit* pattern_ = nullptr;
    QPushButton* execute_ = nullptr;
};

class DataDialogs final : public app::DataDialogs, public app::ProgressView {
  public:
    explicit DataDialogs(QWidget* window) : window_(window) {}
    ~DataDialogs() override;

    app::ProgressView& OpenProgress(std::string_view caption) override;
    void SetProgressTitle(std::string_view title) override;
    void CloseProgress() override;
    std::optional<std::vector<std::string>> ChooseFiles(
        const std::vector<std::string>& candidates) override;

    void ShowText(std::string_view text) override;
    void RunPendingEvents() override;
    bool Quiet() const override;
    bool CancelRequested() const override { return cancelled_; }

  private:
    QWidget* window_;
    std::unique_ptr<QDialog> progress_;
    QLabel* text_ = nullptr;
    QPushButton* button_ = nullptr;
    QCheckBox* quiet_ = nullptr;
    QEventLoop waiting_;
    bool cancelled_ = false;
    bool finished_ = false;
};

}  // namespace kelvra::gui

namespace kelvra::gui {

// The main window's data commands with these dialogs. True when the store's objects changed,
// so the URL tree needs refreshing. outcome, when given, gets what a record command did.
bool RunDataCommand(QWidget* window, app::AppCore& core, app::BusyState& busy, app::CommandId id,
                    const std::vector<std::string>& urls, app::RecordOutcome* outcome = nullptr);

}  // namespace kelvra::gui
