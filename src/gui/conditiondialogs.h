#pragma once
// The acquisition condition dialogs: the condition dialog, the accept URL dialog it opens, and
// the text edit dialog for the filter text and the extra header.

#include <QDialog>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "app/conditionform.h"
#include "store/condition.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace kelvra::gui {

class NumberEdit;

// "ﾃﾞﾌｫﾙﾄの取得条件設定" or a start URL's condition, over the condition file. Every control
// carries the name of the key it edits as its object name.
class SubConfigDialog final : public QDialog {
  public:
    // An empty url edits the default condition. known_urls fill the accept URL dialog's
    // drop-down.
    SubConfigDialog(app::UserInterface& ui, const std::string& file_name, const std::string& url,
                    store::AcquisitionCondition& record, std::vector<std::string> known_urls,
                    QWidget* parent);

    app::ConditionControls Controls() const;
    void accept() override;
    // "記憶(&S)", "初期化(&Z)", "ﾌｨﾙﾀ編集", "追加&Header編集" and "許容&URL設定...".
    void Store();
    void Reset();
    void EditFilters();
    void EditHeader();
    void EditAcceptList();

  private:
    QWidget* TraceRow();
    QWidget* LevelRow();
    QWidget* ButtonColumn();
    void Fill(const app::ConditionControls& controls);
    // Both number boxes in range; else the user is told.
    bool NumbersInRange();

    app::UserInterface& ui_;
    store::AcquisitionCondition& record_;
    app::ConditionForm form_;
    std::vector<std::string> known_urls_;
    std::vector<std::pair<QCheckBox*, bool app::ConditionControls::*>> boxes_;
    std::vector<std::pair<QCheckBox*, app::CheckState app::ConditionControls::*>> tri_boxes_;
    QCheckBox* complete_trace_ = nullptr;
    NumberEdit* trace_count_ = nullptr;
    NumberEdit* classes_ = nullptr;
    QButtonGroup* reget_level_ = nullptr;
    QPushButton* reset_ = nullptr;
};

// "許容URLの設定": the allowed and denied URL prefixes of a condition.
class HomeConfigDialog final : public QDialog {
  public:
    HomeConfigDialog(app::UserInterface& ui, const store::listmanager& accept,
                     const std::vector<std::string>& known_urls, QWidget* parent);

    const std::vector<std::string>& Entries() const { return entries_; }
    // "追加" with the drop-down's text.
    void Add();
    // A double-click on row.
    void RemoveAt(int row);

  private:
    void ShowEntries();

    app::UserInterface& ui_;
    std::vector<std::string> entries_;
    QComboBox* edit_ = nullptr;
    QListWidget* list_ = nullptr;
};

// A multi-line text in a fixed-pitch font; OK keeps what a buffer of buffer_size bytes holds.
class MultiEditDialog final : public QDialog {
  public:
    MultiEditDialog(const std::string& title, const std::string& text, std::size_t buffer_size,
                    QWidget* parent);
    std::string Text() const;

  private:
    std::size_t buffer_size_;
    QPlainTextEdit* edit_ = nullptr;
};

// The condition dialog for url (empty: the default condition, which OK stores) on the data
// directory's condition file; condition receives what the user chose. False when cancelled.
bool EditConditionDialog(QWidget* parent, app::AppCore& core, const std::string& url,
                         store::AcquisitionCondition& condition);

}  // namespace kelvra::gui
