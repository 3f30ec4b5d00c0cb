#pragma once
// "複数URL取得ﾀﾞｲｱﾛｸﾞ": several URLs collected for one registration, typed, given, or loaded
// from and saved to multi-URL files.

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "app/lifo.h"

class QComboBox;
class QListWidget;
class QPushButton;

namespace kelvra::gui {

class MultiUrlDlg final : public QDialog {
  public:
    // The drop-down offers the history, most recent first.
    MultiUrlDlg(app::UserInterface& ui, const app::LIFOClass& history, QWidget* parent);

    // Adds urls by the add rule.
    void AddUrls(const std::vector<std::string>& urls);
    // Loads path as "追加読込" does once the file is chosen, with the progress window and the
    // message that tells the result. Returns the number of URLs added.
    int LoadFile(const std::string& path);
    // The menu's "新規読込", "追加読込" and "一覧保存".
    void NewLoad();
    void AddLoad();
    void SaveList();
    // "追加" with the drop-down's text.
    void Add();
    // A double-click on row.
    void RemoveAt(int row);
    const std::vector<std::string>& Urls() const { return urls_; }

  private:
    void ShowUrls();
    void UpdateAddButton();

    app::UserInterface& ui_;
    std::vector<std::string> urls_;  // sorted, each once
    QComboBox* url_ = nullptr;
    QPushButton* add_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* ok_ = nullptr;
};

// The multi-URL dialog with urls and, when not empty, multi_file loaded; the chosen URLs, or
// none when cancelled.
std::optional<std::vector<std::string>> ChooseUrlsDialog(QWidget* parent, app::AppCore& core,
                                                         const std::vector<std::string>& urls,
                                                         const std::string& multi_file);

}  // namespace kelvra::gui
