#pragma once
// "取得するURLを入力します": the URL entry dialog of a registration. Its two buttons run the
// registration, "条件設定後実行" with the condition dialog first; both are enabled only while
// the text looks like a URL.

#include <QDialog>
#include <optional>
#include <string>
#include <string_view>

#include "app/lifo.h"
#include "app/registrar.h"

class QComboBox;
class QPushButton;

namespace kelvra::gui {

inline constexpr char kUrlDialogTitle[] = "取得するURLを入力します";
inline constexpr char kRunButton[] = "実行";
inline constexpr char kRunWithConditionButton[] = "条件設定後実行";

class UrlDialog final : public QDialog {
  public:
    // The drop-down lists history, most recent first; the edit starts with initial.
    UrlDialog(const app::LIFOClass& history, std::string_view initial, QWidget* parent);

    // The text and the button that closed the dialog; none when it was cancelled.
    std::optional<app::UrlEntry> Entry() const { return entry_; }
    QPushButton* RunButton() const { return run_; }
    QPushButton* RunWithConditionButton() const { return run_with_condition_; }

  private:
    void UpdateButtons();
    void Finish(app::EntryButton button);

    QComboBox* url_ = nullptr;
    QPushButton* run_ = nullptr;
    QPushButton* run_with_condition_ = nullptr;
    std::optional<app::UrlEntry> entry_;
};

}  // namespace kelvra::gui
