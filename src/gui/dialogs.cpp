#include "gui/dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "gui/guiui.h"

namespace kelvra::gui {

namespace {

// Only the first 31 characters of a number field are read.
constexpr int kNumberTextLimit = 31;
constexpr int kPortDigits = 6;
constexpr int kOctetDigits = 4;
constexpr std::uint16_t kMaxPortNumber = 65535;
constexpr int kMaxOctet = 255;

std::string Cut(const QString& text) {
    std::string bytes = FromQt(text);
    if (bytes.size() > app::kMaxSettingText) bytes.resize(app::kMaxSettingText);
    return bytes;
}

QSlider* TrackBar(int min, int max, const char* name, QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setRange(min, max);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(1);
    return slider;
}

// A track bar between its two end labels.
QWidget* WithEndLabels(QSlider* slider, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(QString::number(slider->minimum()), box));
    row->addWidget(slider, 1);
    row->addWidget(new QLabel(QString::number(slider->maximum()), box));
    return box;
}

// Radio buttons with ids 0, 1, ... named "name.id", in a group box.
QButtonGroup* RadioGroup(const QString& title, const std::vector<const char*>& labels,
                         const QString& name, QWidget* parent, QGroupBox** box_out) {
    auto* box = new QGroupBox(title, parent);
    auto* column = new QVBoxLayout(box);
    auto* group = new QButtonGroup(box);
    for (int id = 0; id < static_cast<int>(labels.size()); ++id) {
        auto* button = new QRadioButton(ToQt(labels[static_cast<std::size_t>(id)]), box);
        button->setObjectName(name + "." + QString::number(id));
        group->addButton(button, id);
        column->addWidget(button);
    }
    *box_out = box;
    return group;
}

void Check(QButtonGroup* group, int id) {
    if (QAbstractButton* button = group->button(id)) button->setChecked(true);
}

NumberEdit* Number(app::UserInterface& ui, const char* key, QWidget* parent) {
    const app::NumberRange range = app::DialogRange(key);
    auto* edit = new NumberEdit(ui, range.min, range.max, parent);
    edit->setObjectName(key);
    return edit;
}

// A field and its unit text on one line.
QWidget* WithUnit(QWidget* field, const char* unit, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(field);
    row->addWidget(new QLabel(ToQt(unit), box));
    row->addStretch();
    return box;
}

}  // namespace

NumberEdit::NumberEdit(app::UserInterface& ui, long min, long max, QWidget* parent)
    : QLineEdit(parent), ui_(ui), min_(min), max_(max) {}

long NumberEdit::Value() const {
    const std::string head = FromQt(text().left(kNumberTextLimit));
    return std::strtol(head.c_str(), nullptr, 10);
}

bool NumberEdit::SetValue(long value) {
    if (value < min_ || value > max_) return false;
    setText(QString::number(value));
    accepted_ = text();
    return true;
}

bool NumberEdit::InRange() const {
    const long value = Value();
    return value >= min_ && value <= max_;
}

bool NumberEdit::CheckRange() {
    if (InRange()) {
        accepted_ = text();
        return true;
    }
    char message[128];
    std::snprintf(message, sizeof message, "値は \"%ld\" ～ \"%ld\" の範囲です.", min_, max_);
    app::ShowMessage(ui_, message, kNumberErrorCaption, app::MessageIcon::kStop);
    setText(accepted_);
    setFocus();
    return false;
}

void NumberEdit::focusInEvent(QFocusEvent* event) {
    if (InRange()) accepted_ = text();
    QLineEdit::focusInEvent(event);
}

void NumberEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Not inside the focus change itself: the message box takes the focus again.
    if (!InRange()) QTimer::singleShot(0, this, [this] { CheckRange(); });
}

ConfigDialog::ConfigDialog(const app::ConfigDialogFields& fields, app::UserInterface& ui,
                           FolderChooser choose_folder, QWidget* parent)
    : QDialog(parent), choose_folder_(std::move(choose_folder)) {
    setWindowTitle(ToQt("環境設定ﾀﾞｲｱﾛｸﾞ"));
    auto* layout = new QVBoxLayout(this);
    auto* pages = new QHBoxLayout;
    pages->addWidget(GeneralPage(ui), 1);
    pages->addWidget(ServerPage(ui), 1);
    layout->addLayout(pages);
    auto* folder_row = new QHBoxLayout;
    folder_row->addWidget(new QLabel(ToQt("ﾃﾞｰﾀﾃﾞｨﾚｸﾄﾘ"), this));
    base_directory_ = new QLineEdit(this);
    base_directory_->setObjectName("BaseDirectory");
    folder_row->addWidget(base_directory_, 1);
    auto* browse = new QPushButton(ToQt("参照"), this);
    browse->setObjectName("BaseDirectory.Browse");
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] { BrowseFolder(); });
    folder_row->addWidget(browse);
    layout->addLayout(folder_row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    Fill(fields);
}

QWidget* ConfigDialog::GeneralPage(app::UserInterface& ui) {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    root_file_name_ = new QLineEdit(page);
    root_file_name_->setObjectName("RootFileName");
    size_limit_ = Number(ui, "SizeLimit", page);
    get_timeout_ = Number(ui, "GetTimeout", page);
    retry_count_ = Number(ui, "RetryCount", page);
    save_cookie_ = new QCheckBox(ToQt("Cookie 情報を保存する"), page);
    save_cookie_->setObjectName("SaveCookie");
    get_thread_ = TrackBar(app::kMinGetThread, app::kMaxGetThread, "GetThread", page);
    int row = 0;
    const auto add = [&](const char* label, QWidget* field) {
        grid->addWidget(new QLabel(ToQt(label), page), row, 0);
        grid->addWidget(field, row++, 1);
    };
    add("/ のﾌｧｲﾙ名", root_file_name_);
    add("取得ﾃﾞｰﾀ長の上限(*)", WithUnit(size_limit_, "KB", page));
    add("取得ﾀｲﾑｱｳﾄ(*)", WithUnit(get_timeout_, "秒(0=無限)", page));
    add("取得ﾘﾄﾗｲ回数(*)", WithUnit(retry_count_, "回", page));
    grid->addWidget(save_cookie_, row++, 0, 1, 2);
    add("取得時ｽﾚｯﾄﾞ数(*)", WithEndLabels(get_thread_, page));
    QGroupBox* box = nullptr;
    double_click_ = RadioGroup(
        ToQt("URLTreeﾀﾞﾌﾞﾙｸﾘｯｸ時の動作(*)"),
        {"URLとして開く", "ﾌｧｲﾙとして開く", "指定ﾌﾟﾛｸﾞﾗﾑで開く", "選択URLのﾃﾞｰﾀ取得", "何もしない"},
        "TreeDoubleClicked", page, &box);
    grid->addWidget(box, row++, 0, 1, 2);
    ftp_password_ = new QLineEdit(page);
    ftp_password_->setObjectName("FTPpassword");
    add("FTPﾊﾟｽﾜｰﾄﾞ(*)", ftp_password_);
    grid->setRowStretch(row, 1);
    return page;
}

QWidget* ConfigDialog::ServerPage(app::UserInterface& ui) {
    auto* page = new QGroupBox("Orvane Config", this);
    auto* grid = new QGridLayout(page);
    threads_ = TrackBar(app::kMinServerThreads, app::kMaxServerThreads, "Threads", page);
    port_ = Number(ui, "Port", page);
    reload_page_ = new QCheckBox(ToQt("ﾌﾞﾗｳｻﾞReloadﾎﾞﾀﾝで選択ﾍﾟｰｼﾞ"), page);
    reload_page_->setObjectName("ReloadPage");
    save_post_ = new QCheckBox(ToQt("POSTmethodも保存する"), page);
    save_post_->setObjectName("SavePOST");
    int row = 0;
    grid->addWidget(new QLabel(ToQt("Orvaneｽﾚｯﾄﾞ数"), page), row, 0);
    grid->addWidget(WithEndLabels(threads_, page), row++, 1);
    grid->addWidget(new QLabel("Server Port", page), row, 0);
    grid->addWidget(port_, row++, 1);
    grid->addWidget(reload_page_, row++, 0, 1, 2);
    grid->addWidget(save_post_, row++, 0, 1, 2);
    QGroupBox* box = nullptr;
    start_mode_ =
        RadioGroup(ToQt("起動時のﾓｰﾄﾞ"), {"停止状態", "Local Mode", "Proxy Mode", "Proxy Mode 2"},
                   "RunAtStart", page, &box);
    grid->addWidget(box, row++, 0, 1, 2);
    data_use_ = RadioGroup(ToQt("ProxyModeでの取得ﾃﾞｰﾀ使用(*)"),
                           {"使用しない", "必ず使用", "更新ﾁｪｯｸ有"}, "DataUse", page, &box);
    grid->addWidget(box, row++, 0, 1, 2);
    grid->setRowStretch(row, 1);
    return page;
}

void ConfigDialog::Fill(const app::ConfigDialogFields& fields) {
    root_file_name_->setText(ToQt(fields.root_file_name));
    size_limit_->SetValue(fields.size_limit);
    get_timeout_->SetValue(fields.get_timeout);
    retry_count_->SetValue(fields.retry_count);
    save_cookie_->setChecked(fields.save_cookie);
    get_thread_->setValue(fields.get_thread);
    Check(double_click_, fields.double_click);
    threads_->setValue(fields.threads);
    port_->SetValue(fields.port);
    reload_page_->setChecked(fields.reload_page);
    save_post_->setChecked(fields.save_post);
    Check(start_mode_, fields.start_mode);
    Check(data_use_, fields.data_use);
    ftp_password_->setText(ToQt(fields.ftp_password));
    base_directory_->setText(ToQt(fields.base_directory));
}

app::ConfigDialogFields ConfigDialog::Fields() const {
    app::ConfigDialogFields fields;
    fields.root_file_name = Cut(root_file_name_->text());
    fields.size_limit = size_limit_->Value();
    fields.get_timeout = get_timeout_->Value();
    fields.retry_count = retry_count_->Value();
    fields.save_cookie = save_cookie_->isChecked();
    fields.get_thread = get_thread_->value();
    fields.double_click = double_click_->checkedId();
    fields.threads = threads_->value();
    fields.port = port_->Value();
    fields.reload_page = reload_page_->isChecked();
    fields.save_post = save_post_->isChecked();
    fields.start_mode = start_mode_->checkedId();
    fields.data_use = data_use_->checkedId();
    fields.ftp_password = Cut(ftp_password_->text());
    fields.base_directory = Cut(base_directory_->text());
    return fields;
}

void ConfigDialog::accept() {
    for (NumberEdit* edit : {size_limit_, get_timeout_, retry_count_, port_}) {
        if (!edit->CheckRange()) return;
    }
    QDialog::accept();
}

void ConfigDialog::BrowseFolder() {
    if (!choose_folder_) return;
    if (std::optional<std::string> folder = choose_folder_(FromQt(base_directory_->text()))) {
        base_directory_->setText(ToQt(*folder));
    }
}

AutoProxCfgDlg::AutoProxCfgDlg(const server::ProxyEnvironment& environment, std::string ini_path,
                               app::UserInterface& ui, QWidget* parent)
    : QDialog(parent), ini_path_(std::move(ini_path)), ui_(ui) {
    setWindowTitle(ToQt("ﾌﾟﾛｷｼ設定(http:// ftp:// は取得に使用)"));
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QMenuBar(this);
    QMenu* settings = bar->addMenu(ToQt("設定(&C)"));
    load_menu_ = settings->addMenu(ToQt("読込(&R)"));
    settings->addAction(ToQt("保存(&S)"), this, [this] { SaveProfile(); });
    layout->setMenuBar(bar);
    static constexpr std::array<const char*, server::kProxyProtocolCount> kGroups = {
        "http://ﾌﾟﾛﾄｺﾙ用ﾌﾟﾛｷｼ設定  ｱﾄﾞﾚｽ/ﾎﾟｰﾄ番号", "https://ﾌﾟﾛﾄｺﾙ用ﾌﾟﾛｷｼ設定  ｱﾄﾞﾚｽ/ﾎﾟｰﾄ番号",
        "ftp://ﾌﾟﾛﾄｺﾙ用ﾌﾟﾛｷｼ設定  ｱﾄﾞﾚｽ/ﾎﾟｰﾄ番号", "wais://ﾌﾟﾛﾄｺﾙ用ﾌﾟﾛｷｼ設定  ｱﾄﾞﾚｽ/ﾎﾟｰﾄ番号",
        "gopher://ﾌﾟﾛﾄｺﾙ用ﾌﾟﾛｷｼ設定  ｱﾄﾞﾚｽ/ﾎﾟｰﾄ番号"};
    for (std::size_t i = 0; i < server::kProxyProtocolCount; ++i) {
        auto* box = new QGroupBox(ToQt(kGroups[i]), this);
        auto* row = new QHBoxLayout(box);
        const QString word = ToQt(server::ProxyKeyWord(server::kProxyProtocols[i]));
        hosts_[i] = new QLineEdit(box);
        hosts_[i]->setObjectName(word + "adrs");
        hosts_[i]->setMaxLength(static_cast<int>(server::kMaxProxyTextLength));
        ports_[i] = new NumberEdit(ui, 0, kMaxPortNumber, box);
        ports_[i]->setObjectName(word + "port");
        ports_[i]->setMaxLength(kPortDigits);
        row->addWidget(hosts_[i], 1);
        row->addWidget(ports_[i]);
        layout->addWidget(box);
    }
    auto* mask = new QGroupBox(ToQt("ﾌﾟﾛｷｼ無使用 IP ﾏｽｸ (ｲﾝﾄﾗﾈｯﾄ用)"), this);
    auto* mask_row = new QHBoxLayout(mask);
    for (std::size_t i = 0; i < octets_.size(); ++i) {
        octets_[i] = new NumberEdit(ui, 0, kMaxOctet, mask);
        octets_[i]->setObjectName("IPMASK" + QString::number(i + 1));
        octets_[i]->setMaxLength(kOctetDigits);
        mask_row->addWidget(octets_[i]);
        mask_row->addWidget(new QLabel(".", mask));
    }
    mask_row->addWidget(new QLabel("0", mask));
    mask_row->addStretch();
    layout->addWidget(mask);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    Fill(environment);
    BuildLoadMenu();
}

void AutoProxCfgDlg::Fill(const server::ProxyEnvironment& environment) {
    for (std::size_t i = 0; i < server::kProxyProtocolCount; ++i) {
        const server::ProxyServer& proxy = environment.Server(server::kProxyProtocols[i]);
        hosts_[i]->setText(ToQt(proxy.host));
        ports_[i]->SetValue(proxy.port);
    }
    for (std::size_t i = 0; i < octets_.size(); ++i) {
        octets_[i]->SetValue(environment.MaskOctet(static_cast<int>(i)));
    }
}

server::ProxyEnvironment AutoProxCfgDlg::Environment() const {
    server::ProxyEnvironment environment;
    for (std::size_t i = 0; i < server::kProxyProtocolCount; ++i) {
        server::ProxyServer& proxy = environment.Server(server::kProxyProtocols[i]);
        proxy.host = FromQt(hosts_[i]->text());
        if (proxy.host.size() > server::kMaxProxyTextLength) {
            proxy.host.resize(server::kMaxProxyTextLength);
        }
        proxy.port = static_cast<std::uint16_t>(ports_[i]->Value());
    }
    environment.ipmask = server::CombineIpMask(static_cast<std::uint8_t>(octets_[0]->Value()),
                                               static_cast<std::uint8_t>(octets_[1]->Value()),
                                               static_cast<std::uint8_t>(octets_[2]->Value()));
    return environment;
}

void AutoProxCfgDlg::accept() {
    for (NumberEdit* edit : ports_) {
        if (!edit->CheckRange()) return;
    }
    for (NumberEdit* edit : octets_) {
        if (!edit->CheckRange()) return;
    }
    QDialog::accept();
}

void AutoProxCfgDlg::BuildLoadMenu() {
    load_menu_->clear();
    const std::vector<std::string> names = server::ProxyProfileNames(ini_path_);
    for (int number = 0; number < static_cast<int>(names.size()); ++number) {
        load_menu_->addAction(ToQt(names[static_cast<std::size_t>(number)]), this,
                              [this, number] { LoadProfile(number); });
    }
    load_menu_->setEnabled(!names.empty());
}

void AutoProxCfgDlg::LoadProfile(int number) {
    Fill(server::LoadProxyProfile(number, ini_path_));
}

void AutoProxCfgDlg::SaveProfile() {
    const std::optional<std::string> name = ui_.AskText(kProfileNamePrompt);
    if (!name || name->find_first_not_of(" \t\r\n") == std::string::npos) return;
    if (server::SaveProxyProfile(*name, Environment(), ini_path_) < 0) {
        // Every profile number taken or kelvraw.ini not writable: say so rather than lose it.
        app::ShowMessage(ui_, "Proxy profile \"" + *name + "\" could not be saved.", "Proxy",
                         app::MessageIcon::kExclamation);
        return;
    }
    BuildLoadMenu();
}

RunAppliDlg::RunAppliDlg(const app::LIFOClass& applications, app::UserInterface& ui,
                         QWidget* parent)
    : QDialog(parent), ui_(ui) {
    setWindowTitle(ToQt("起動するﾌﾟﾛｸﾞﾗﾑの指定"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("ProgramPath ? {Option} {$FILE$ | $URL$}", this));
    auto* row = new QHBoxLayout;
    command_line_ = new QComboBox(this);
    command_line_->setEditable(true);
    command_line_->setObjectName("CommandLine");
    command_line_->setMinimumWidth(360);
    for (std::size_t i = 0; i < applications.Count(); ++i) {
        command_line_->addItem(ToQt(*applications.Get(i)));
    }
    row->addWidget(command_line_, 1);
    auto* browse = new QPushButton(ToQt("参照"), this);
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
    row->addWidget(browse);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* run = buttons->addButton(ToQt("起動"), QDialogButtonBox::AcceptRole);
    run->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::string RunAppliDlg::CommandLine() const {
    return FromQt(command_line_->currentText());
}

void RunAppliDlg::Browse() {
    app::FileQuestion question;
    question.title = "起動するﾌﾟﾛｸﾞﾗﾑの指定";
    // Programs carry no extension here.
    question.filter_text = "ﾌﾟﾛｸﾞﾗﾑ (*)";
    question.pattern = "*";
    if (std::optional<std::string> program = ui_.ChooseFile(question)) {
        command_line_->setEditText(ToQt(*program));
    }
}

SrvStatusDiag::SrvStatusDiag(int rows, std::string ini_path, Handlers handlers, QWidget* parent)
    : QDialog(parent), ini_path_(std::move(ini_path)), handlers_(std::move(handlers)) {
    setWindowTitle("Orvane Status Monitor");
    // No size or maximise commands: the window is as large as its rows.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                   Qt::WindowTitleHint);
    rows = std::clamp(rows, 1, kMaxMonitorRows);
    auto* grid = new QGridLayout(this);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    for (int row = 0; row < rows; ++row) {
        auto* request = new QLineEdit(this);
        request->setReadOnly(true);
        request->setMinimumWidth(320);
        auto* state = new QLabel("idle", this);
        state->setMinimumWidth(160);
        grid->addWidget(request, row, 0);
        grid->addWidget(state, row, 1);
        requests_.push_back(request);
        states_.push_back(state);
    }
    app::WindowRect rect;
    app::RestoreWindowMetrics(kServerStatusWindow, true, rect, ini_path_);
    move(rect.x, rect.y);
}

QString SrvStatusDiag::Text(int row, int column) const {
    if (row < 0 || row >= Rows()) return {};
    const auto index = static_cast<std::size_t>(row);
    return column == server::kColumnRequest ? requests_[index]->text() : states_[index]->text();
}

void SrvStatusDiag::Post(std::function<void()> f) {
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void SrvStatusDiag::SetText(int row, int column, const QString& text) {
    if (row < 0 || row >= Rows()) return;
    const auto index = static_cast<std::size_t>(row);
    if (column == server::kColumnRequest) {
        requests_[index]->setText(text);
        requests_[index]->setCursorPosition(0);
    } else {
        states_[index]->setText(text);
    }
}

void SrvStatusDiag::StatusText(int row, int column, std::string_view text) {
    if (row < 0 || row >= kMaxMonitorRows) return;
    Post([this, row, column, text = ToQt(text)] { SetText(row, column, text); });
}

void SrvStatusDiag::ModeChanged(std::uint32_t mode) {
    Post([this, mode] {
        if (handlers_.mode_changed) handlers_.mode_changed(mode);
    });
}

void SrvStatusDiag::AcquireUrl(std::string_view url) {
    Post([this, url = std::string(url)] {
        if (handlers_.acquire_url) handlers_.acquire_url(url);
    });
}

void SrvStatusDiag::OpenProxySetting() {
    Post([this] {
        if (handlers_.open_proxy_setting) handlers_.open_proxy_setting();
    });
}

void SrvStatusDiag::StoreFailed(int, std::string_view url) {
    Post([this, url = std::string(url)] {
        if (handlers_.store_failed) handlers_.store_failed(url);
    });
}

void SrvStatusDiag::closeEvent(QCloseEvent* event) {
    app::SaveWindowMetrics(kServerStatusWindow, true, 1, {x(), y(), width(), height()}, ini_path_);
    hide();
    event->ignore();
}

}  // namespace kelvra::gui
