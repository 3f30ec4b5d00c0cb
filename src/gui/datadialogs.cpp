#include "gui/datadialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/guiui.h"

namespace kelvra::gui {

namespace {

QListWidget* NewList(QWidget* parent, const char* name) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return list;
}

QPushButton* NewButton(const char* text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(ToQt(text), parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TwinListDlg::TwinListDlg(const std::vector<std::string>& candidates, QWidget* parent)
    : QDialog(parent), candidates_(candidates) {
    setObjectName("TwinListDlg");
    setWindowTitle(ToQt("操作するﾌｧｲﾙを選択してください"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(ToQt("対象ﾌｧｲﾙ"), this));
    upper_ = NewList(this, "Candidates");
    layout->addWidget(upper_, 1);
    auto* row = new QHBoxLayout;
    QPushButton* down = NewButton("↓", "Down", this);
    pattern_ = new QLineEdit(this);
    pattern_->setObjectName("Pattern");
    QPushButton* up = NewButton("↑", "Up", this);
    row->addWidget(down);
    row->addWidget(pattern_, 1);
    row->addWidget(up);
    layout->addLayout(row);
    layout->addWidget(new QLabel(ToQt("操作ﾌｧｲﾙ"), this));
    lower_ = NewList(this, "Chosen");
    layout->addWidget(lower_, 1);
    auto* buttons = new QHBoxLayout;
    execute_ = NewButton("&Execute", "Execute", this);
    QPushButton* cancel = NewButton("Cancel", "Cancel", this);
    buttons->addStretch();
    buttons->addWidget(execute_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(down, &QPushButton::clicked, this, [this] { MoveDown(); });
    connect(up, &QPushButton::clicked, this, [this] { MoveUp(); });
    connect(execute_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(520, 480);
    Show();
}

void TwinListDlg::MoveDown() {
    Move(upper_, candidates_, chosen_);
}

void TwinListDlg::MoveUp() {
    Move(lower_, chosen_, candidates_);
}

void TwinListDlg::Move(QListWidget* from_list, std::vector<std::string>& from,
                       std::vector<std::string>& to) {
    if (from_list->selectedItems().isEmpty()) {
        app::MoveMatching(from, to, FromQt(pattern_->text()));
    } else {
        std::vector<std::string> kept;
        for (int row = 0; row < from_list->count(); ++row) {
            std::string& entry = from[static_cast<std::size_t>(row)];
            (from_list->item(row)->isSelected() ? to : kept).push_back(std::move(entry));
        }
        from = std::move(kept);
    }
    Show();
}

void TwinListDlg::Show() {
    for (auto [list, entries] : {std::pair{upper_, &candidates_}, std::pair{lower_, &chosen_}}) {
        list->clear();
        for (const std::string& entry : *entries) list->addItem(ToQt(entry));
    }
    execute_->setEnabled(!chosen_.empty());
}

DataDialogs::~DataDialogs() = default;

app::ProgressView& DataDialogs::OpenProgress(std::string_view caption) {
    progress_ = std::make_unique<QDialog>(window_, Qt::Dialog);
    progress_->setObjectName("DataProgress");
    progress_->setWindowTitle(ToQt(caption));
    auto* layout = new QVBoxLayout(progress_.get());
    text_ = new QLabel(progress_.get());
    text_->setObjectName("Text");
    text_->setMinimumWidth(420);
    layout->addWidget(text_);
    auto* row = new QHBoxLayout;
    button_ = NewButton("Cancel", "Button", progress_.get());
    quiet_ = new QCheckBox(QStringLiteral("No Message"), progress_.get());
    quiet_->setObjectName("NoMessage");
    row->addWidget(button_);
    row->addStretch();
    row->addWidget(quiet_);
    layout->addLayout(row);
    cancelled_ = false;
    finished_ = false;
    QObject::connect(button_, &QPushButton::clicked, progress_.get(), [this] {
        if (finished_) {
            waiting_.quit();
        } else {
            cancelled_ = true;
        }
    });
    if (window_) window_->setEnabled(false);
    progress_->setEnabled(true);
    progress_->show();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return *this;
}

void DataDialogs::SetProgressTitle(std::string_view title) {
    if (progress_) progress_->setWindowTitle(ToQt(title));
}

void DataDialogs::CloseProgress() {
    QApplication::restoreOverrideCursor();
    finished_ = true;
    button_->setText(QStringLiteral("OK"));
    QApplication::beep();
    waiting_.exec();
    progress_.reset();
    if (window_) {
        window_->setEnabled(true);
        window_->raise();
        window_->activateWindow();
    }
}

std::optional<std::vector<std::string>> DataDialogs::ChooseFiles(
    const std::vector<std::string>& candidates) {
    TwinListDlg dialog(candidates, progress_ ? progress_.get() : window_);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Chosen();
}

void DataDialogs::ShowText(std::string_view text) {
    if (text_) text_->setText(ToQt(text));
}

void DataDialogs::RunPendingEvents() {
    QApplication::processEvents();
}

bool DataDialogs::Quiet() const {
    return quiet_ && quiet_->isChecked();
}

}  // namespace kelvra::gui

namespace kelvra::gui {

bool RunDataCommand(QWidget* window, app::AppCore& core, app::BusyState& busy, app::CommandId id,
                    const std::vector<std::string>& urls, app::RecordOutcome* outcome) {
    using C = app::CommandId;
    DataDialogs dialogs(window);
    if (id == C::kUnrecordedMove || id == C::kUnrecordedRemove) {
        app::RunUnlinkedCommand(core, busy, dialogs, id == C::kUnrecordedMove, urls);
        return false;  // records are untouched
    }
    // Each selection's commands are copy, move and remove in a row.
    const auto [selection, first] = [id] {
        if (id >= C::kFetchedCopy && id <= C::kFetchedRemove) {
            return std::pair(app::DataSelection::kFetchedSinceStart, C::kFetchedCopy);
        }
        if (id >= C::kLinkedCopy && id <= C::kLinkedRemove) {
            return std::pair(app::DataSelection::kAllLinks, C::kLinkedCopy);
        }
        return std::pair(app::DataSelection::kBelowSelected, C::kHierarchyCopy);
    }();
    const auto operation =
        static_cast<app::DataOperation>(static_cast<int>(id) - static_cast<int>(first));
    app::RecordOutcome done;
    app::RunRecordCommand(core, busy, dialogs, selection, operation, urls, done);
    const bool changed = done.handled > 0 && operation != app::DataOperation::kCopy;
    if (outcome) *outcome = std::move(done);
    return changed;
}

}  // namespace kelvra::gui
