#include "gui/crawldialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "app/settings.h"
#include "crawl/finishreport.h"
#include "gui/guiui.h"

namespace kelvra::gui {

namespace {

constexpr int kMaxCredentialLength = 32;
constexpr int kUrlLineWidth = 420;
constexpr int kStatusWidth = 110;
constexpr int kRefreshIntervalMs = 100;
constexpr std::int64_t kPercent = 100;
constexpr char kIdle[] = "idle";
constexpr char kIdleInvestigation[] = "idle.";

app::MessageIcon BoxIcon(crawl::MessageIcon icon) {
    switch (icon) {
        case crawl::MessageIcon::kError:
            return app::MessageIcon::kStop;
        case crawl::MessageIcon::kExclamation:
            return app::MessageIcon::kExclamation;
        case crawl::MessageIcon::kInformation:
        case crawl::MessageIcon::kQuestion:
            break;
    }
    return app::MessageIcon::kInformation;
}

QLineEdit* ReadOnlyLine(QWidget* parent, int width) {
    auto* line = new QLineEdit(parent);
    line->setReadOnly(true);
    line->setFixedWidth(width);
    return line;
}

}  // namespace

CredentialDialog::CredentialDialog(std::string_view prompt, std::string_view user, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(ToQt(kCredentialTitle));
    auto* form = new QFormLayout(this);
    form->addRow(new QLabel(ToQt(prompt), this));
    user_ = new QLineEdit(ToQt(user), this);
    user_->setObjectName("UserID");
    user_->setMaxLength(kMaxCredentialLength);
    password_ = new QLineEdit(this);
    password_->setObjectName("Password");
    password_->setMaxLength(kMaxCredentialLength);
    password_->setEchoMode(QLineEdit::Password);
    form->addRow("User ID", user_);
    form->addRow("Password", password_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    form->addRow(buttons);
}

std::string CredentialDialog::User() const {
    return FromQt(user_->text());
}

std::string CredentialDialog::Password() const {
    return FromQt(password_->text());
}

UrlListDialog::UrlListDialog(const std::vector<std::string>& urls, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(ToQt(kRetryChoiceTitle));
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setMinimumWidth(kUrlLineWidth);
    for (const std::string& url : urls) list_->addItem(ToQt(url));
    list_->selectAll();
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::vector<std::size_t> UrlListDialog::Chosen() const {
    std::vector<std::size_t> chosen;
    for (int i = 0; i < list_->count(); ++i) {
        if (list_->item(i)->isSelected()) chosen.push_back(static_cast<std::size_t>(i));
    }
    return chosen;
}

KelvraDialog::KelvraDialog(app::UserInterface& ui, std::string ini_path, QWidget* parent)
    : QDialog(parent), ui_(ui), ini_path_(std::move(ini_path)) {
    // No size or maximise commands: the dialog is as large as its rows.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                   Qt::WindowTitleHint);
    setWindowTitle(ToQt(crawl::FinishText::kDialogCaption));
    auto* grid = new QGridLayout(this);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    for (int row = 0; row < kMaxRows; ++row) {
        RowWidgets& widgets = row_widgets_[static_cast<std::size_t>(row)];
        widgets.url = ReadOnlyLine(this, kUrlLineWidth);
        widgets.status = new QPushButton(kIdle, this);
        widgets.status->setFlat(true);
        widgets.status->setAutoDefault(false);
        // Fixed sizes: a new text must not lay the dialog out again.
        widgets.status->setFixedWidth(kStatusWidth);
        connect(widgets.status, &QPushButton::clicked, this, [this, row] { AskKillWorker(row); });
        grid->addWidget(widgets.url, row, 0);
        grid->addWidget(widgets.status, row, 1);
    }
    grid->addWidget(new QLabel(ToQt("LINK 調査中の URL(ﾌｧｲﾙ)"), this), kMaxRows, 0, 1, 2);
    investigation_ = ReadOnlyLine(this, kUrlLineWidth);
    investigation_->setText(kIdleInvestigation);
    grid->addWidget(investigation_, kMaxRows + 1, 0, 1, 2);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(ToQt("URL 残量"), this));
    remaining_ = ReadOnlyLine(this, kStatusWidth);
    bottom->addWidget(remaining_);
    bottom->addStretch(1);
    auto_hang_up_box_ = new QCheckBox(ToQt(kAutoHangUp), this);
    connect(auto_hang_up_box_, &QCheckBox::toggled, this, [this](bool on) { auto_hang_up_ = on; });
    bottom->addWidget(auto_hang_up_box_);
    grid->addLayout(bottom, kMaxRows + 2, 0, 1, 2);
    shown_.investigation = kIdleInvestigation;
    for (RowState& row : shown_.rows) row.status = kIdle;
    refresh_timer_ = new QTimer(this);
    refresh_timer_->setSingleShot(true);
    refresh_timer_->setInterval(kRefreshIntervalMs);
    connect(refresh_timer_, &QTimer::timeout, this, [this] { Refresh(); });
}

KelvraDialog::~KelvraDialog() = default;

void KelvraDialog::Begin(app::CrawlRun& run, int rows) {
    run_ = &run;
    rows_ = std::clamp(rows, 1, kMaxRows);
    for (int row = 0; row < kMaxRows; ++row) {
        const RowWidgets& widgets = row_widgets_[static_cast<std::size_t>(row)];
        widgets.url->setVisible(row < rows_);
        widgets.status->setVisible(row < rows_);
    }
    app::WindowRect rect;
    app::RestoreWindowMetrics(kStatusWindow, true, rect, ini_path_);
    move(rect.x, rect.y);
    show();
    raise();
}

void KelvraDialog::End() {
    run_ = nullptr;
    refresh_timer_->stop();
    Refresh();
    SaveGeometry();
    hide();
}

void KelvraDialog::SaveGeometry() {
    app::SaveWindowMetrics(kStatusWindow, true, 1, {x(), y(), width(), height()}, ini_path_);
}

template <class F>
void KelvraDialog::Update(F&& change) {
    {
        std::lock_guard lock(mutex_);
        change(shown_);
    }
    // At most one repaint per interval: a busy crawl changes the rows thousands of times a
    // second, and painting each change would cost the scheduler, which shares this thread.
    if (!refresh_posted_.exchange(true)) {
        QMetaObject::invokeMethod(refresh_timer_, qOverload<>(&QTimer::start),
                                  Qt::QueuedConnection);
    }
}

void KelvraDialog::Refresh() {
    refresh_posted_ = false;
    Shown shown;
    {
        std::lock_guard lock(mutex_);
        shown = shown_;
    }
    for (int row = 0; row < kMaxRows; ++row) {
        const RowState& state = shown.rows[static_cast<std::size_t>(row)];
        const RowWidgets& widgets = row_widgets_[static_cast<std::size_t>(row)];
        const QString url = ToQt(state.url_line);
        if (widgets.url->text() != url) {
            widgets.url->setText(url);
            widgets.url->setCursorPosition(0);
        }
        const QString status = StatusText(state);
        if (widgets.status->text() != status) widgets.status->setText(status);
    }
    const QString investigation = ToQt(shown.investigation);
    if (investigation_->text() != investigation) investigation_->setText(investigation);
    remaining_->setText(QString::number(shown.remaining));
    if (!shown.caption.empty()) setWindowTitle(ToQt(shown.caption));
}

// While a transfer of known size runs, how much of it has arrived: the status word then still
// tells how the row's previous job ended. Otherwise the status.
QString KelvraDialog::StatusText(const RowState& row) {
    if (row.total > 0 && row.received < row.total) {
        return QString("%1%").arg(row.received * kPercent / row.total);
    }
    return ToQt(row.status);
}

QString KelvraDialog::UrlLine(int row) const {
    if (row < 0 || row >= kMaxRows) return {};
    return row_widgets_[static_cast<std::size_t>(row)].url->text();
}

QPushButton* KelvraDialog::StatusButton(int row) const {
    if (row < 0 || row >= kMaxRows) return nullptr;
    return row_widgets_[static_cast<std::size_t>(row)].status;
}

QString KelvraDialog::Investigation() const {
    return investigation_->text();
}

void KelvraDialog::AskKillWorker(int row) {
    if (!crawl_ || row < 0 || row >= rows_ || crawl_->State(row) != crawl::WorkerState::kWorking) {
        return;
    }
    std::string question = kKillWorkerQuestion;
    question.replace(question.find("%d"), 2, std::to_string(row));
    if (ui_.MessageBox(question, kKillWorkerCaption, app::MessageIcon::kExclamation,
                       app::MessageButtons::kOkCancel) != app::DialogResult::kOk) {
        return;
    }
    // The crawl may have ended while the question was open.
    if (crawl_) crawl_->KillWorker(row);
}

void KelvraDialog::AskStop() {
    if (!run_) return;
    if (ui_.MessageBox(kStopQuestion, kStopCaption, app::MessageIcon::kExclamation,
                       app::MessageButtons::kOkCancel) != app::DialogResult::kOk) {
        return;
    }
    if (!run_) return;
    std::string waiting = app::kWaitingForThreads;
    while (!waiting.empty() && waiting.back() == '\n') waiting.pop_back();
    Log(waiting);
    run_->Stop();
}

void KelvraDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (run_) {
        AskStop();
    } else {
        SaveGeometry();
        hide();
    }
}

void KelvraDialog::reject() {
    close();
}

void KelvraDialog::SlotLine(int slot, std::string_view text) {
    if (slot < 0 || slot >= kMaxRows) return;
    Update([&](Shown& shown) { shown.rows[static_cast<std::size_t>(slot)].url_line = text; });
}

void KelvraDialog::SlotLineQueued(int slot, std::string_view text, long queued) {
    if (slot < 0 || slot >= kMaxRows) return;
    Update([&](Shown& shown) {
        shown.rows[static_cast<std::size_t>(slot)].url_line = text;
        shown.remaining = queued;
    });
}

void KelvraDialog::SlotStatus(int slot, std::string_view text) {
    if (slot < 0 || slot >= kMaxRows) return;
    Update([&](Shown& shown) {
        RowState& row = shown.rows[static_cast<std::size_t>(slot)];
        row.status = text;
        row.received = 0;
        row.total = -1;
    });
}

void KelvraDialog::Progress(int slot, std::int64_t received, std::int64_t total) {
    if (slot < 0 || slot >= kMaxRows) return;
    Update([&](Shown& shown) {
        RowState& row = shown.rows[static_cast<std::size_t>(slot)];
        row.received = received;
        row.total = total;
    });
}

void KelvraDialog::Log(std::string_view message) {
    Update([&](Shown& shown) { shown.investigation = message; });
}

void KelvraDialog::Clear() {
    Update([](Shown& shown) {
        for (RowState& row : shown.rows) row = RowState{{}, kIdle};
        shown.investigation = kIdleInvestigation;
    });
}

void KelvraDialog::SetCaption(std::string_view caption) {
    Update([&](Shown& shown) { shown.caption = caption; });
}

void KelvraDialog::ShowMessage(std::string_view text, std::string_view caption,
                               crawl::MessageIcon icon) {
    if (unattended_) {
        std::printf("[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                    static_cast<int>(text.size()), text.data());
        std::fflush(stdout);
        return;
    }
    Refresh();
    raise();
    ui_.MessageBox(text, caption, BoxIcon(icon), app::MessageButtons::kOk);
}

bool KelvraDialog::ChooseUrls(const std::vector<std::string>& urls,
                              std::vector<std::size_t>& chosen) {
    if (unattended_) return false;
    return OnGuiThread([&] {
        Refresh();
        UrlListDialog dialog(urls, this);
        if (dialog.exec() != QDialog::Accepted) return false;
        chosen = dialog.Chosen();
        return true;
    });
}

bool KelvraDialog::ChooseSaveFile(const crawl::SaveFileRequest& request, std::string& path) {
    if (unattended_) return false;
    app::FileQuestion question;
    question.title = request.title;
    question.filter_text = request.filter_name;
    question.pattern = request.pattern;
    question.default_extension = request.default_extension;
    question.save = true;
    std::optional<std::string> chosen = ui_.ChooseFile(question);
    if (!chosen) return false;
    path = std::move(*chosen);
    return true;
}

bool KelvraDialog::AskCredentials(std::string_view prompt, std::string& user,
                                  std::string& password) {
    if (unattended_) return false;
    return OnGuiThread([&] {
        CredentialDialog dialog(prompt, user, this);
        if (dialog.exec() != QDialog::Accepted) return false;
        user = dialog.User();
        password = dialog.Password();
        return true;
    });
}

}  // namespace kelvra::gui
