#include "gui/urldialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/registration.h"
#include "gui/guiui.h"

namespace kelvra::gui {

namespace {

// As many characters as an entered URL keeps bytes; the registration cuts the rest.
constexpr int kMaxUrlLength = 2048;
constexpr int kUrlFieldWidth = 420;

}  // namespace

UrlDialog::UrlDialog(const app::LIFOClass& history, std::string_view initial, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(ToQt(kUrlDialogTitle));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("URL", this));
    url_ = new QComboBox(this);
    url_->setObjectName("URL");
    url_->setEditable(true);
    url_->setInsertPolicy(QComboBox::NoInsert);
    url_->setMinimumWidth(kUrlFieldWidth);
    url_->lineEdit()->setMaxLength(kMaxUrlLength);
    for (std::size_t i = 0; i < history.Count(); ++i) url_->addItem(ToQt(*history.Get(i)));
    url_->setEditText(ToQt(initial));
    layout->addWidget(url_);
    auto* buttons = new QDialogButtonBox(this);
    run_ = buttons->addButton(ToQt(kRunButton), QDialogButtonBox::AcceptRole);
    run_with_condition_ =
        buttons->addButton(ToQt(kRunWithConditionButton), QDialogButtonBox::ActionRole);
    run_->setDefault(true);
    layout->addWidget(buttons);
    connect(run_, &QPushButton::clicked, this, [this] { Finish(app::EntryButton::kRun); });
    connect(run_with_condition_, &QPushButton::clicked, this,
            [this] { Finish(app::EntryButton::kRunWithCondition); });
    connect(url_, &QComboBox::editTextChanged, this, [this] { UpdateButtons(); });
    connect(url_, &QComboBox::currentIndexChanged, this, [this] { UpdateButtons(); });
    UpdateButtons();
}

void UrlDialog::UpdateButtons() {
    const bool url = app::LooksLikeUrl(FromQt(url_->currentText()));
    run_->setEnabled(url);
    run_with_condition_->setEnabled(url);
}

void UrlDialog::Finish(app::EntryButton button) {
    entry_ = app::UrlEntry{FromQt(url_->currentText()), button};
    accept();
}

}  // namespace kelvra::gui
