#include "gui/multiurldialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/conditionform.h"
#include "app/multiurlform.h"
#include "app/registration.h"
#include "app/urlsources.h"
#include "gui/guiui.h"
#include "net/url.h"

namespace kelvra::gui {

namespace {

// Pending events run after every this many URLs loaded.
constexpr int kEventsEvery = 8;

// The small window that shows each URL a load accepts, captioned with the file's name.
class LoadProgress final {
  public:
    LoadProgress(const std::string& path, QWidget* parent) : window_(parent, Qt::Tool) {
        window_.setObjectName("LoadProgress");
        window_.setWindowTitle(ToQt(path));
        auto* layout = new QVBoxLayout(&window_);
        url_ = new QLabel(&window_);
        url_->setMinimumWidth(360);
        layout->addWidget(url_);
        window_.show();
    }

    void Accepted(const std::string& url) {
        url_->setText(ToQt(url));
        if (++count_ % kEventsEvery == 0) QApplication::processEvents();
    }

  private:
    QDialog window_;
    QLabel* url_ = nullptr;
    int count_ = 0;
};

}  // namespace

MultiUrlDlg::MultiUrlDlg(app::UserInterface& ui, const app::LIFOClass& history, QWidget* parent)
    : QDialog(parent), ui_(ui) {
    setWindowTitle(ToQt(app::kMultiUrlTitle));
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QMenuBar(this);
    QMenu* file = bar->addMenu(ToQt("ﾌｧｲﾙ(&F)"));
    file->addAction(ToQt("新規読込(&O)"), this, [this] { NewLoad(); });
    file->addAction(ToQt("追加読込(&A)"), this, [this] { AddLoad(); });
    file->addAction(ToQt("一覧保存(&S)"), this, [this] { SaveList(); });
    layout->setMenuBar(bar);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("URL", this));
    url_ = new QComboBox(this);
    url_->setObjectName("Url");
    url_->setEditable(true);
    url_->setInsertPolicy(QComboBox::NoInsert);  // Enter does not grow the drop-down
    url_->setMinimumWidth(420);
    for (std::size_t i = 0; i < history.Count(); ++i) url_->addItem(ToQt(*history.Get(i)));
    url_->setEditText({});
    row->addWidget(url_, 1);
    add_ = new QPushButton(ToQt("追加"), this);
    add_->setObjectName("Add");
    add_->setAutoDefault(false);
    connect(add_, &QPushButton::clicked, this, [this] { Add(); });
    row->addWidget(add_);
    layout->addLayout(row);
    connect(url_, &QComboBox::editTextChanged, this, [this] { UpdateAddButton(); });
    connect(url_, &QComboBox::currentIndexChanged, this, [this] { UpdateAddButton(); });
    layout->addWidget(new QLabel(ToQt(app::kMultiUrlListCaption), this));
    list_ = new QListWidget(this);
    list_->setObjectName("Urls");
    connect(list_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { RemoveAt(list_->row(item)); });
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(ToQt("取得(&G)"), QDialogButtonBox::AcceptRole);
    ok_->setObjectName("Get");
    buttons->addButton(ToQt("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    ShowUrls();
    UpdateAddButton();
}

void MultiUrlDlg::ShowUrls() {
    list_->clear();
    for (const std::string& url : urls_) list_->addItem(ToQt(url));
    ok_->setEnabled(!urls_.empty());
}

void MultiUrlDlg::UpdateAddButton() {
    add_->setEnabled(app::LooksLikeUrl(FromQt(url_->currentText())));
}

void MultiUrlDlg::AddUrls(const std::vector<std::string>& urls) {
    for (const std::string& url : urls) app::AddMultiUrl(urls_, url);
    ShowUrls();
}

int MultiUrlDlg::LoadFile(const std::string& path) {
    int added = 0;
    setEnabled(false);
    {
        LoadProgress progress(path, this);
        added = app::LoadMultiUrlFile(
            path, urls_, [&progress](const std::string& url) { progress.Accepted(url); });
    }
    setEnabled(true);
    raise();
    ShowUrls();
    app::TellMultiUrlLoad(ui_, path, added);
    return added;
}

void MultiUrlDlg::NewLoad() {
    urls_.clear();
    ShowUrls();
    AddLoad();
}

void MultiUrlDlg::AddLoad() {
    if (std::optional<std::string> path = ui_.ChooseFile(app::MultiUrlFileQuestion(false))) {
        LoadFile(*path);
    }
}

void MultiUrlDlg::SaveList() {
    if (std::optional<std::string> path = ui_.ChooseFile(app::MultiUrlFileQuestion(true))) {
        app::WriteMultiUrlList(ui_, *path, urls_);
    }
}

void MultiUrlDlg::Add() {
    std::string text = FromQt(url_->currentText());
    if (text.size() > net::kUrlBuffer) text.resize(net::kUrlBuffer);
    if (!app::AddMultiUrl(urls_, text)) return;
    ShowUrls();
    url_->setEditText({});
}

void MultiUrlDlg::RemoveAt(int row) {
    if (row < 0) return;
    std::optional<std::string> url =
        app::RemoveListEntry(ui_, urls_, static_cast<std::size_t>(row), false);
    if (!url) return;
    ShowUrls();
    url_->setEditText(ToQt(*url));
}

std::optional<std::vector<std::string>> ChooseUrlsDialog(QWidget* parent, app::AppCore& core,
                                                         const std::vector<std::string>& urls,
                                                         const std::string& multi_file) {
    MultiUrlDlg dialog(core.Ui(), core.History(), parent);
    dialog.AddUrls(urls);
    if (!multi_file.empty()) dialog.LoadFile(multi_file);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Urls();
}

}  // namespace kelvra::gui
