#include "gui/conditiondialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/registration.h"
#include "gui/dialogs.h"
#include "gui/guiui.h"
#include "net/url.h"

namespace kelvra::gui {

namespace {

using ControlValues = app::ConditionControls;

// The number boxes take at most three digits.
constexpr int kNumberDigits = 3;

struct BoxRow {
    const char* key;
    const char* label;
    bool ControlValues::*field;
};

// The two-state boxes, in the order of their accelerators.
constexpr BoxRow kBoxes[] = {
    {"EnableFilter", "&0:拡張子/文字列ﾌｨﾙﾀを使う", &ControlValues::enable_filter},
    {"RelativeLink", "&2:取得指定URLのｻｰﾊﾞ内許容", &ControlValues::relative_link},
    {"FTPAll", "&6:ftp:// は全て取得", &ControlValues::ftp_all},
    {"FormTag", "&7:ﾎﾞﾀﾝの追跡取得を行なう", &ControlValues::form_tag},
    {"ModifyCheck", "&8:更新ﾁｪｯｸを行う", &ControlValues::modify_check},
    {"StrictModifyCheck", "&9:更新ﾁｪｯｸを厳密に行う", &ControlValues::strict_modify_check},
    {"NoCache", "&A:CacheDataを使わない", &ControlValues::no_cache},
    {"SaveErrorPage", "&B:ErrorPageを保存", &ControlValues::save_error_page},
    {"Authentication", "&C:認証機構を有効にする", &ControlValues::authentication},
    {"SendCookie", "&D:Cookie:を送る", &ControlValues::send_cookie},
    {"PreserveOldData", "&E:旧ﾃﾞｰﾀを保存", &ControlValues::preserve_old_data},
};

struct TriBoxRow {
    const char* key;
    const char* label;
    app::CheckState ControlValues::*field;
};

constexpr TriBoxRow kTriBoxes[] = {
    {"SRCobject", "&3:ﾍﾟｰｼﾞ上ｵﾌﾞｼﾞｪｸﾄ全取得", &ControlValues::src_object},
    {"GetAll", "&4:全てのLinkを追跡取得", &ControlValues::get_all},
    {"TraceMoved", "&5:移動Pageの完全追跡", &ControlValues::trace_moved},
};

Qt::CheckState BoxState(app::CheckState state) {
    switch (state) {
        case app::CheckState::kChecked:
            return Qt::Checked;
        case app::CheckState::kUndetermined:
            return Qt::PartiallyChecked;
        case app::CheckState::kUnchecked:
            break;
    }
    return Qt::Unchecked;
}

app::CheckState StateOf(Qt::CheckState state) {
    switch (state) {
        case Qt::Checked:
            return app::CheckState::kChecked;
        case Qt::PartiallyChecked:
            return app::CheckState::kUndetermined;
        case Qt::Unchecked:
            break;
    }
    return app::CheckState::kUnchecked;
}

QCheckBox* CheckBox(const char* key, const char* label, QWidget* parent) {
    auto* box = new QCheckBox(ToQt(label), parent);
    box->setObjectName(key);
    return box;
}

NumberEdit* NumberBox(app::UserInterface& ui, const char* key, long max, QWidget* parent) {
    auto* edit = new NumberEdit(ui, 0, max, parent);
    edit->setObjectName(key);
    edit->setMaxLength(kNumberDigits);
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QString(kNumberDigits + 2, '0')));
    return edit;
}

QPushButton* Button(const char* label, const char* name, QWidget* parent) {
    auto* button = new QPushButton(ToQt(label), parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

// The history's URLs without their scheme, for the accept URL dialog's drop-down.
std::vector<std::string> KnownUrls(app::AppCore& core, const std::string& url) {
    std::vector<std::string> known;
    if (!url.empty()) known.push_back(url.substr(net::SkipScheme(url)));
    for (std::size_t i = 0; i < core.History().Count(); ++i) {
        const std::string& entry = *core.History().Get(i);
        known.push_back(entry.substr(net::SkipScheme(entry)));
    }
    return known;
}

}  // namespace

SubConfigDialog::SubConfigDialog(app::UserInterface& ui, const std::string& file_name,
                                 const std::string& url, store::AcquisitionCondition& record,
                                 std::vector<std::string> known_urls, QWidget* parent)
    : QDialog(parent),
      ui_(ui),
      record_(record),
      form_(ui, file_name, url, record),
      known_urls_(std::move(known_urls)) {
    setWindowTitle(ToQt(form_.Title()));
    auto* layout = new QHBoxLayout(this);
    auto* frame = new QGroupBox(ToQt(app::kConditionFrameTitle), this);
    auto* column = new QVBoxLayout(frame);
    for (const BoxRow& row : kBoxes) {
        QCheckBox* box = CheckBox(row.key, row.label, frame);
        boxes_.emplace_back(box, row.field);
    }
    for (const TriBoxRow& row : kTriBoxes) {
        QCheckBox* box = CheckBox(row.key, row.label, frame);
        box->setTristate(true);
        tri_boxes_.emplace_back(box, row.field);
    }
    // In the order of the accelerators: 0, 1 (the follow-up row), 2, 3 to 5, 6 to E.
    column->addWidget(boxes_[0].first);
    column->addWidget(TraceRow());
    column->addWidget(boxes_[1].first);
    for (const auto& [box, field] : tri_boxes_) column->addWidget(box);
    for (std::size_t i = 2; i < boxes_.size(); ++i) column->addWidget(boxes_[i].first);
    column->addWidget(LevelRow());
    auto* reget = new QGroupBox(ToQt("取得済ﾃﾞｰﾀの取得条件"), frame);
    auto* reget_column = new QVBoxLayout(reget);
    reget_level_ = new QButtonGroup(reget);
    const char* const kRegetLabels[] = {"全取得", "Textのみ取得", "開始URLのみ取得", "取得しない"};
    for (int id = 0; id < static_cast<int>(std::size(kRegetLabels)); ++id) {
        auto* radio = new QRadioButton(ToQt(kRegetLabels[id]), reget);
        radio->setObjectName("RegetLevel." + QString::number(id));
        reget_level_->addButton(radio, id);
        reget_column->addWidget(radio);
    }
    column->addWidget(reget);
    layout->addWidget(frame, 1);
    layout->addWidget(ButtonColumn());
    Fill(form_.Controls());
}

QWidget* SubConfigDialog::TraceRow() {
    auto* row = new QWidget(this);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    complete_trace_ = CheckBox("CompleteTrace", "&1:未更新時は", row);
    trace_count_ = NumberBox(ui_, "CompleteTrace.Count", app::kMaxFollowUp, row);
    connect(complete_trace_, &QCheckBox::toggled, trace_count_, &QWidget::setEnabled);
    line->addWidget(complete_trace_);
    line->addWidget(trace_count_);
    line->addWidget(new QLabel(ToQt("階層追跡"), row));
    line->addStretch();
    return row;
}

QWidget* SubConfigDialog::LevelRow() {
    auto* row = new QWidget(this);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    classes_ = NumberBox(ui_, "Classes", app::kMaxLevels, row);
    line->addWidget(classes_);
    line->addWidget(new QLabel(ToQt("階層まで取得 (0=無限)"), row));
    line->addStretch();
    return row;
}

QWidget* SubConfigDialog::ButtonColumn() {
    auto* buttons = new QWidget(this);
    auto* column = new QVBoxLayout(buttons);
    auto* ok = new QPushButton("OK", buttons);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = Button("ｷｬﾝｾﾙ", "Cancel", buttons);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    QPushButton* store = Button("記憶(&S)", "Store", buttons);
    connect(store, &QPushButton::clicked, this, [this] { Store(); });
    reset_ = Button(app::kResetCaption, "Reset", buttons);
    connect(reset_, &QPushButton::clicked, this, [this] { Reset(); });
    QPushButton* filters = Button("ﾌｨﾙﾀ編集", "Filters", buttons);
    connect(filters, &QPushButton::clicked, this, [this] { EditFilters(); });
    QPushButton* header = Button("追加&Header編集", "ExtraHeader", buttons);
    connect(header, &QPushButton::clicked, this, [this] { EditHeader(); });
    QPushButton* accept_list = Button("許容&URL設定...", "Accept", buttons);
    connect(accept_list, &QPushButton::clicked, this, [this] { EditAcceptList(); });
    for (QPushButton* button : {ok, cancel, store, reset_, filters, header, accept_list}) {
        column->addWidget(button);
    }
    column->addStretch();
    return buttons;
}

void SubConfigDialog::Fill(const app::ConditionControls& controls) {
    for (const auto& [box, field] : boxes_) box->setChecked(controls.*field);
    for (const auto& [box, field] : tri_boxes_) box->setCheckState(BoxState(controls.*field));
    complete_trace_->setChecked(controls.complete_trace);
    trace_count_->SetValue(controls.complete_trace_count);
    trace_count_->setEnabled(controls.complete_trace);
    classes_->SetValue(controls.classes);
    reget_level_->button(controls.reget_level)->setChecked(true);
    reset_->setText(ToQt(form_.ResetCaption()));
}

app::ConditionControls SubConfigDialog::Controls() const {
    app::ConditionControls controls;
    for (const auto& [box, field] : boxes_) controls.*field = box->isChecked();
    for (const auto& [box, field] : tri_boxes_) controls.*field = StateOf(box->checkState());
    controls.complete_trace = complete_trace_->isChecked();
    controls.complete_trace_count = trace_count_->Value();
    controls.classes = classes_->Value();
    controls.reget_level = reget_level_->checkedId();
    return controls;
}

bool SubConfigDialog::NumbersInRange() {
    return classes_->CheckRange() && (!complete_trace_->isChecked() || trace_count_->CheckRange());
}

void SubConfigDialog::accept() {
    if (NumbersInRange() && form_.Ok(Controls())) QDialog::accept();
}

void SubConfigDialog::Store() {
    if (!NumbersInRange()) return;
    if (form_.Store(Controls())) {
        QDialog::accept();
        return;
    }
    reset_->setText(ToQt(form_.ResetCaption()));
}

void SubConfigDialog::Reset() {
    if (form_.Reset()) Fill(form_.Controls());
}

void SubConfigDialog::EditFilters() {
    MultiEditDialog dialog(app::kFilterEditTitle, record_.filters,
                           store::AcquisitionCondition::kFilterBuffer, this);
    if (dialog.exec() == QDialog::Accepted) record_.filters = dialog.Text();
}

void SubConfigDialog::EditHeader() {
    if (!form_.ConfirmHeaderEdit()) return;
    MultiEditDialog dialog(app::kHeaderEditTitle, record_.extra_header,
                           store::AcquisitionCondition::kExtraHeaderBuffer, this);
    if (dialog.exec() == QDialog::Accepted) record_.extra_header = dialog.Text();
}

void SubConfigDialog::EditAcceptList() {
    HomeConfigDialog dialog(ui_, record_.accept, known_urls_, this);
    if (dialog.exec() == QDialog::Accepted) app::SetAcceptEntries(record_.accept, dialog.Entries());
}

HomeConfigDialog::HomeConfigDialog(app::UserInterface& ui, const store::listmanager& accept,
                                   const std::vector<std::string>& known_urls, QWidget* parent)
    : QDialog(parent), ui_(ui), entries_(app::AcceptEntries(accept)) {
    setWindowTitle(ToQt(app::kAcceptDialogTitle));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    edit_ = new QComboBox(this);
    edit_->setObjectName("Url");
    edit_->setEditable(true);
    edit_->setInsertPolicy(QComboBox::NoInsert);  // Enter does not grow the drop-down
    edit_->setMinimumWidth(360);
    for (const std::string& url : known_urls) edit_->addItem(ToQt(url));
    edit_->setEditText({});
    row->addWidget(edit_, 1);
    QPushButton* add = new QPushButton(ToQt("追加"), this);
    add->setObjectName("Add");
    add->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, [this] { Add(); });
    row->addWidget(add);
    layout->addLayout(row);
    layout->addWidget(
        new QLabel(ToQt("許容URL(拒否URLは、頭に\"!\"), 削除はﾘｽﾄをﾀﾞﾌﾞﾙｸﾘｯｸ"), this));
    list_ = new QListWidget(this);
    list_->setObjectName("Entries");
    connect(list_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { RemoveAt(list_->row(item)); });
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    ShowEntries();
}

void HomeConfigDialog::ShowEntries() {
    list_->clear();
    for (const std::string& entry : entries_) list_->addItem(ToQt(entry));
}

void HomeConfigDialog::Add() {
    if (!app::AddAcceptEntry(ui_, entries_, FromQt(edit_->currentText()))) return;
    ShowEntries();
    edit_->setEditText({});
}

void HomeConfigDialog::RemoveAt(int row) {
    if (row < 0) return;
    std::optional<std::string> entry =
        app::RemoveListEntry(ui_, entries_, static_cast<std::size_t>(row), true);
    if (!entry) return;
    ShowEntries();
    edit_->setEditText(ToQt(*entry));
}

MultiEditDialog::MultiEditDialog(const std::string& title, const std::string& text,
                                 std::size_t buffer_size, QWidget* parent)
    : QDialog(parent), buffer_size_(buffer_size) {
    setWindowTitle(ToQt(title));
    auto* layout = new QVBoxLayout(this);
    edit_ = new QPlainTextEdit(ToQt(text), this);
    edit_->setObjectName("Text");
    edit_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(edit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(480, 320);
}

std::string MultiEditDialog::Text() const {
    return app::FitTextBuffer(FromQt(edit_->toPlainText()), buffer_size_);
}

bool EditConditionDialog(QWidget* parent, app::AppCore& core, const std::string& url,
                         store::AcquisitionCondition& condition) {
    SubConfigDialog dialog(core.Ui(), core.DataDirectoryPath() + app::kConditionFileName, url,
                           condition, KnownUrls(core, url), parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace kelvra::gui
