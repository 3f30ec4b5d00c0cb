#include "gui/kelvrawindow.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

#include "app/csvexport.h"
#include "app/registration.h"
#include "app/servermode.h"
#include "app/urlsources.h"
#include "crawl/auth.h"
#include "crawl/finishreport.h"
#include "gui/bookmarkwin.h"
#include "gui/conditiondialogs.h"
#include "gui/datadialogs.h"
#include "gui/multiurldialog.h"
#include "gui/urldialog.h"
#include "server/pac.h"
#include "store/pluginhost.h"

namespace kelvra::gui {

namespace {

constexpr char kMainWindow[] = "Main";
constexpr int kSplitterWidth = 2;
constexpr int kTrayIconSize = 32;
constexpr int kExitFailed = 1;
constexpr char kRetryListTitle[] = "ﾘﾄﾗｲﾘｽﾄﾌｧｲﾙを選択してください";

// Show states as kept in kelvraw.ini.
constexpr int kShowHidden = 0;
constexpr int kShowNormal = 1;
constexpr int kShowMinimised = 2;
constexpr int kShowMaximised = 3;

// The tray picture of a server mode: a disc in the mode's colour with its letter.
QIcon ModeIcon(std::uint32_t mode) {
    struct Look {
        QColor colour;
        const char* letter;
    };
    static const Look kLooks[] = {
        {QColor(128, 128, 128), "S"},  // stopped
        {QColor(0, 140, 60), "L"},     // Local Mode
        {QColor(30, 90, 200), "P"},    // Proxy Mode
        {QColor(120, 60, 190), "2"},   // Proxy Mode 2
        {QColor(200, 110, 0), "3"},    // Proxy Mode 3
    };
    const std::uint32_t index = mode & app::kServerModeBits;
    const Look& look = kLooks[index < std::size(kLooks) ? index : 0];
    QPixmap pixmap(kTrayIconSize, kTrayIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look.colour);
    painter.drawEllipse(2, 2, kTrayIconSize - 4, kTrayIconSize - 4);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(kTrayIconSize / 2);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, look.letter);
    return QIcon(pixmap);
}

// Asks the local server on port for url as a browser would and reads the answer to its end;
// the server answers from its own threads.
void AskLocalServer(int port, const std::string& url) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = "GET " + url + " HTTP/1.0\r\n\r\n";
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
        char buffer[4096];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }
    ::close(fd);
}

bool ServerCommand(app::CommandId id) {
    return id == app::CommandId::kStopServer || id == app::CommandId::kLocalMode ||
           id == app::CommandId::kProxyMode || id == app::CommandId::kProxyMode2;
}

}  // namespace

std::string AboutText() {
    std::string text =
        "NTLM authentication library libntlm is used. (ver " + crawl::NtlmVersion() + ")";
    // Loaded for the question only.
    const store::PluginHost plugin;
    if (const char* version = plugin.Version()) {
        text += "\n\nShockwaveFlash対応DLL : Ver.";
        text += version;
    }
    return text;
}

KelvraWindow::KelvraWindow(app::UserInterface& ui, app::ProgramEnvironment environment)
    : ui_(ui), core_(ui, std::move(environment)) {
    setWindowTitle(ToQt(app::kMainTitle));
    core_.LoadSettings();
    app::LoadUseApplications(applications_, IniPath());
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setHandleWidth(kSplitterWidth);
    splitter_->setChildrenCollapsible(false);
    CreatePanes();
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);
    BuildMenus();
    statusBar();
    app::WindowRect rect;
    stored_show_state_ = app::RestoreWindowMetrics(kMainWindow, false, rect, IniPath());
    move(rect.x, rect.y);
    resize(rect.width, rect.height);
    const int separator = core_.Settings().separator;
    splitter_->setSizes({separator, std::max(rect.width - separator, 1)});
    CreateTray();
    setAcceptDrops(true);
    registration_ = std::make_unique<GuiRegistrationDialogs>(core_, ui_, this);
    registration_->SetWindowEnabler([this](bool enable) { SetInputEnabled(enable); });
    registration_->SetUrlChooser(
        [this](const std::vector<std::string>& urls, const std::string& file) {
            return ChooseUrlsDialog(this, core_, urls, file);
        });
    registration_->SetConditionEditor(
        [this](const std::string& url, store::AcquisitionCondition& condition) {
            return EditConditionDialog(this, core_, url, condition);
        });
    registration_->SetOnCrawlEnded(
        [this](const app::CrawlOutcome& outcome) { CrawlEnded(outcome); });
    registrar_ = std::make_unique<app::Registrar>(core_, busy_, *registration_);
}

KelvraWindow::~KelvraWindow() {
    if (core_.Started()) ShutDown(true);
    app::SaveUseApplications(applications_, IniPath());
}

const std::string& KelvraWindow::IniPath() const {
    return core_.Environment().ini_path;
}

void KelvraWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!first_show_) return;
    first_show_ = false;
    QTimer::singleShot(0, this, [this] { StartUp(); });
}

void KelvraWindow::SetInputEnabled(bool enabled) {
    centralWidget()->setEnabled(enabled);
    menuBar()->setEnabled(enabled);
}

void KelvraWindow::SetBusy(app::BusyState busy) {
    busy_ = busy;
    UpdateMenuState();
    CloseIfPending();
}

void KelvraWindow::RequestClose() {
    close_pending_ = !close();
}

void KelvraWindow::CloseIfPending() {
    if (close_pending_ && busy_ == app::BusyState::kIdle && !filling_tree_ && !filling_list_) {
        QTimer::singleShot(0, this, [this] { RequestClose(); });
    }
}

void KelvraWindow::StartUp() {
    SetBusy(app::BusyState::kStarting);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetInputEnabled(false);
    const int rows = std::min<int>(core_.Settings().threads, kMaxMonitorRows);
    SrvStatusDiag::Handlers handlers;
    handlers.mode_changed = [this](std::uint32_t mode) { ShowServerMode(mode); };
    // Posted by the monitor: it runs on the GUI thread.
    handlers.acquire_url = [this](const std::string& url) { FetchUrls({url}); };
    handlers.open_proxy_setting = [this] {
        ProxySettings();
        CloseIfPending();
    };
    monitor_ = std::make_unique<SrvStatusDiag>(rows, IniPath(), std::move(handlers), this);
    core_.SetServerMonitor(*monitor_);
    tray_menu_->addAction(Action(app::CommandId::kServerStatusWindow));
    core_.StartUp(static_cast<std::uint32_t>(core_.Settings().run_at_start));
    ShowServerMode(core_.ServerMode());
    ApplyViewFlags();
    FillTree();
    SetInputEnabled(true);
    if (stored_show_state_ == kShowMinimised) showMinimized();
    if (stored_show_state_ == kShowMaximised) showMaximized();
    QApplication::restoreOverrideCursor();
    bookmarks_ = std::make_unique<BookMarkWin>(*this);
    started_ = true;
    SetBusy(app::BusyState::kIdle);
    if (!screenshot_directory_.isEmpty()) {
        QTimer::singleShot(0, this, [this] { SaveScreenshots(); });
    }
    // With screenshots the start URLs are fetched for the status dialog's picture.
    if (!start_urls_.empty() && screenshot_directory_.isEmpty()) {
        QTimer::singleShot(0, this, [this] { FetchStartUrls(); });
    }
}

void KelvraWindow::ShutDown(bool fast) {
    started_ = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetInputEnabled(false);
    bookmarks_.reset();
    // The tree pane's width as it is now, also while the window is minimised.
    const QList<int> sizes = splitter_->sizes();
    if (!sizes.isEmpty() && sizes.front() > 0) core_.Settings().separator = sizes.front();
    ClearPanes();
    core_.ShutDown(fast);
    // After the server, whose workers report to the monitor until they end.
    tray_menu_->removeAction(Action(app::CommandId::kServerStatusWindow));
    monitor_.reset();
    QApplication::restoreOverrideCursor();
}

std::uint32_t KelvraWindow::SetServerMode(std::uint32_t mode, bool replace_flags) {
    const std::uint32_t previous = core_.SetServerMode(mode, replace_flags);
    // Also when the user interface does not pass the core's notice on.
    ShowServerMode(core_.ServerMode());
    return previous;
}

void KelvraWindow::ShowServerMode(std::uint32_t mode) {
    mode_menu_->setTitle(ToQt(app::ServerModeMenuText(mode)));
    if (tray_) {
        tray_->setIcon(ModeIcon(mode));
        tray_->setToolTip(ToQt(app::ServerModeTip(mode)));
    }
}

QString KelvraWindow::ServerMenuTitle() const {
    return mode_menu_->title();
}

QAction* KelvraWindow::CommandAction(const app::CommandInfo& info) {
    auto* action = new QAction(ToQt(info.label), this);
    if (!info.shortcut.empty()) action->setShortcut(QKeySequence(ToQt(info.shortcut)));
    action->setCheckable(info.check_flag != 0 || ServerCommand(info.id));
    const app::CommandId id = info.id;
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    actions_[id] = action;
    return action;
}

QAction* KelvraWindow::Action(app::CommandId id) const {
    const auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void KelvraWindow::AddCommands(QMenu* menu, std::span<const app::CommandId> commands) {
    QMenu* submenu = nullptr;
    std::string_view submenu_name;
    for (const app::CommandId id : commands) {
        const app::CommandInfo* info = app::FindCommand(id);
        if (!info) {
            menu->addSeparator();
            submenu = nullptr;
            continue;
        }
        if (info->submenu.empty()) {
            submenu = nullptr;
        } else if (!submenu || info->submenu != submenu_name) {
            submenu = menu->addMenu(ToQt(info->submenu));
            submenu_name = info->submenu;
            menus_.push_back(submenu);
        }
        (submenu ? submenu : menu)->addAction(Action(id));
    }
}

void KelvraWindow::BuildMenus() {
    for (const app::CommandInfo& info : app::CommandTable()) CommandAction(info);
    // The Enter key works on the panes; it is in no menu.
    QAction* enter = Action(app::CommandId::kEnter);
    enter->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    enter->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    centralWidget()->addAction(enter);
    for (const app::MenuInfo& info : app::MenuBar()) {
        QMenu* menu = nullptr;
        if (info.id == app::MenuId::kServer) {
            // Right-aligned, as far from the other menus as the bar allows.
            mode_bar_ = new QMenuBar(menuBar());
            menu = mode_bar_->addMenu(ToQt(info.label));
            menuBar()->setCornerWidget(mode_bar_, Qt::TopRightCorner);
            mode_menu_ = menu;
        } else {
            menu = menuBar()->addMenu(ToQt(info.label));
        }
        menus_.push_back(menu);
        AddCommands(menu, app::MenuCommands(info.id));
    }
    context_menu_ = new QMenu(this);
    AddCommands(context_menu_, app::ContextMenuCommands());
    tray_menu_ = new QMenu(this);
    AddCommands(tray_menu_, app::TrayMenuCommands());
    menus_.push_back(context_menu_);
    menus_.push_back(tray_menu_);
    for (QMenu* menu : menus_) {
        connect(menu, &QMenu::aboutToShow, this, [this] {
            // Asked only here: reading the clipboard may wait for the program that owns it.
            clipboard_has_text_ = !ui_.ClipboardText().empty();
            UpdateMenuState();
        });
    }
}

void KelvraWindow::UpdateMenuState() {
    app::MenuContext context;
    context.busy = busy_;
    context.selected = SelectedUrls().size();
    context.clipboard_has_text = clipboard_has_text_;
    const app::CommandId shown = app::ServerModeCommand(core_.ServerMode());
    for (const auto& [id, action] : actions_) {
        action->setEnabled(app::CommandEnabled(id, context));
        if (ServerCommand(id)) {
            action->setChecked(id == shown);
        } else if (action->isCheckable()) {
            action->setChecked(app::CommandChecked(id, core_.Settings().flags));
        }
    }
}

bool KelvraWindow::RunCommand(app::CommandId id) {
    app::MenuContext context;
    context.busy = busy_;
    context.selected = SelectedUrls().size();
    context.clipboard_has_text = true;  // the command itself looks at the clipboard
    if (!app::FindCommand(id) || !app::CommandEnabled(id, context)) return false;
    const std::vector<app::SelectedUrl> selected = SelectedUrls();
    std::vector<std::string> urls;
    for (const app::SelectedUrl& url : selected) urls.push_back(url.url);
    const bool alt = QApplication::keyboardModifiers() & Qt::AltModifier;
    switch (id) {
        case app::CommandId::kTidyExit:
            fast_exit_ = false;
            // A refused close leaves the next close a fast one again.
            if (!close()) fast_exit_ = true;
            break;
        case app::CommandId::kFastExit:
            close();
            break;
        case app::CommandId::kStopServer:
        case app::CommandId::kLocalMode:
        case app::CommandId::kProxyMode:
        case app::CommandId::kProxyMode2:
            SetServerMode(static_cast<std::uint32_t>(id) -
                              static_cast<std::uint32_t>(app::CommandId::kStopServer),
                          false);
            break;
        case app::CommandId::kSettings:
            Settings();
            break;
        case app::CommandId::kProxySettings:
            ProxySettings();
            break;
        case app::CommandId::kConditionSettings:
            ConditionSettings({});
            break;
        case app::CommandId::kAbout:
            About();
            break;
        case app::CommandId::kServerStatusWindow:
            ShowMonitor();
            break;
        case app::CommandId::kSimpleList:
            ToggleFlag(app::kFlagSimpleList);
            break;
        case app::CommandId::kHideWhenMinimised:
            ToggleFlag(app::kFlagHideWhenMinimised);
            break;
        case app::CommandId::kSelectAfterFetch:
            ToggleFlag(app::kFlagSelectFetchedUrl);
            break;
        case app::CommandId::kRedrawTree:
            RefreshTree();
            break;
        case app::CommandId::kOpenAsUrl:
            app::OpenAsUrl(core_, urls.front(), alt);
            break;
        case app::CommandId::kOpenAsFile:
            app::OpenAsFile(core_, urls.front());
            break;
        case app::CommandId::kOpenWithProgram:
            OpenWithProgram(selected);
            break;
        case app::CommandId::kCopyUrls:
            app::CopyUrls(ui_, urls);
            break;
        case app::CommandId::kCopyFileNames:
            app::CopyFileNames(core_, selected);
            break;
        case app::CommandId::kUrlInfo:
            app::ShowUrlInfo(core_, urls.front());
            break;
        case app::CommandId::kExportList:
            app::ExportList(core_, busy_, urls);
            break;
        case app::CommandId::kFetchedCopy:
        case app::CommandId::kFetchedMove:
        case app::CommandId::kFetchedRemove:
        case app::CommandId::kHierarchyCopy:
        case app::CommandId::kHierarchyMove:
        case app::CommandId::kHierarchyRemove:
        case app::CommandId::kLinkedCopy:
        case app::CommandId::kLinkedMove:
        case app::CommandId::kLinkedRemove:
        case app::CommandId::kUnrecordedMove:
        case app::CommandId::kUnrecordedRemove:
            if (RunDataCommand(this, core_, busy_, id, urls)) RefreshTree();
            break;
        case app::CommandId::kHelp:
            app::OpenHelp(core_);
            break;
        case app::CommandId::kEnter:
            EnterKey();
            break;
        case app::CommandId::kFetchWebPage:
            registrar_->RegisterUrls({});
            break;
        case app::CommandId::kFetchSelected:
            registrar_->RegisterUrls(urls);
            break;
        case app::CommandId::kFetchMultiUrl:
            registrar_->RegisterUrls(urls, {}, /*multi=*/true);
            break;
        case app::CommandId::kFetchClipboard:
            if (const std::vector<std::string> clipped = app::ClipboardUrls(ui_.ClipboardText());
                !clipped.empty()) {
                registrar_->RegisterUrls(clipped);
            }
            break;
        case app::CommandId::kRefetchRetryList:
            RefetchRetryList();
            break;
        case app::CommandId::kShowBookmarks:
            ShowBookmarks();
            break;
        case app::CommandId::kAddBookmark:
            if (bookmarks_) bookmarks_->AddFromMainWindow(urls, /*by_user=*/true);
            break;
        default:
            return false;
    }
    // A modal command has ended: its busy state is gone.
    UpdateMenuState();
    CloseIfPending();
    return true;
}

void KelvraWindow::ApplyViewFlags() {
    SetListView(core_.Settings().flags & app::kFlagSimpleList);
    UpdateMenuState();
}

void KelvraWindow::ToggleFlag(int flag) {
    core_.Settings().flags ^= flag;
    if (flag == app::kFlagSimpleList) SetListView(core_.Settings().flags & flag);
    UpdateMenuState();
}

void KelvraWindow::DoubleClickAction(const std::string& url, bool alt) {
    switch (core_.Settings().tree_double_clicked) {
        case 0:
            app::OpenAsUrl(core_, url, alt);
            break;
        case 1:
            app::OpenAsFile(core_, url);
            break;
        case 2:
            OpenWithProgram({{url, last_pane_}});
            break;
        case 3:
            FetchUrls({url});
            break;
        default:  // nothing
            break;
    }
}

long KelvraWindow::CommandMessage(unsigned code, const CommandArgument& argument) {
    if (!core_.Started()) return -1;
    const bool alt = (code >> kMessageAltShift) != 0;
    std::vector<app::SelectedUrl> records;
    for (const std::string& url : argument.urls) records.push_back({url, app::Pane::kList});
    switch (code & kMessageCodeMask) {
        case kMessageRegisterUrls:
            return FetchUrls(argument.urls);
        case kMessageOpenAsUrl:
            return app::OpenAsUrl(core_, argument.url, alt);
        case kMessageOpenAsFile:
            return app::OpenAsFile(core_, argument.url);
        case kMessageCopyUrls:
            app::CopyUrls(ui_, argument.urls);
            return 1;
        case kMessageCopyFileNames:
            app::CopyFileNames(core_, records);
            return 1;
        case kMessageUrlInfo:
            app::ShowUrlInfo(core_, argument.url);
            return 1;
        case kMessageOpenWithProgram:
            OpenWithProgram(records);
            return 1;
        case kMessageCondition:
            return ConditionSettings(argument.url);
        case kMessageProxySettings:
            ProxySettings();
            return 1;
        case kMessageDoubleClick:
            DoubleClickAction(argument.url, alt);
            return 1;
        case kMessageServerMode:
            return core_.ServerMode();
        case kMessageSetServerMode:
            return SetServerMode(argument.mode, false);
        case kMessageRemoveData:
            return RemoveData(argument.url);
        case kMessageSelectUrl:
            return SelectUrl(argument.url);
        case kMessageStatusText:
            ui_.StatusText(argument.url);
            return 1;
        case kMessagePageTitle:
            return argument.title && PageTitleOf(argument.url, *argument.title);
        case kMessageLinkedCopy:
        case kMessageLinkedMove:
        case kMessageLinkedRemove:
            return LinkedDataCommand(code & kMessageCodeMask, argument);
        default:
            return -1;
    }
}

long KelvraWindow::LinkedDataCommand(unsigned code, const CommandArgument& argument) {
    const auto id = static_cast<app::CommandId>(static_cast<int>(app::CommandId::kLinkedCopy) +
                                                static_cast<int>(code - kMessageLinkedCopy));
    app::RecordOutcome outcome;
    if (RunDataCommand(this, core_, busy_, id, argument.urls, &outcome)) RefreshTree();
    if (argument.destination) *argument.destination = outcome.destination.value_or("");
    UpdateMenuState();
    CloseIfPending();
    return outcome.handled;
}

bool KelvraWindow::PageTitleOf(const std::string& url, std::string& title) {
    store::headerlistmanager& store = core_.Store();
    const util::MutexLock lock(store.Mutex());
    const store::treelistnode* node = store.FindRecord(url);
    if (!node || !store.LocalFileExists(node)) return false;
    std::string type;
    title.clear();
    if (!store.GetNodeContentType(node, type) || type.find("html") == std::string::npos) {
        return true;
    }
    std::optional<std::string> found = app::NodeTitle(store, *node, "html");
    if (!found) return false;
    title = std::move(*found);
    return true;
}

void KelvraWindow::ShowContextMenu(QWidget* pane, const QPoint& position) {
    if (in_popup_) return;
    in_popup_ = true;
    last_pane_ = pane == tree_ ? app::Pane::kTree : app::Pane::kList;
    context_menu_->exec(pane->mapToGlobal(position));
    in_popup_ = false;
}

void KelvraWindow::OpenWithProgram(const std::vector<app::SelectedUrl>& urls) {
    if (urls.empty()) return;
    RunAppliDlg dialog(applications_, ui_, this);
    if (dialog.exec() != QDialog::Accepted || dialog.CommandLine().empty()) return;
    app::OpenWithProgram(core_, applications_, dialog.CommandLine(), urls);
}

void KelvraWindow::CreateTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_ = new QSystemTrayIcon(ModeIcon(0), this);
    tray_->setContextMenu(tray_menu_);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (busy_ == app::BusyState::kClosing || busy_ == app::BusyState::kStarting) {
                    return;
                }
                if (reason == QSystemTrayIcon::DoubleClick) showNormal();
                raise();
                activateWindow();
            });
    tray_->show();
}

void KelvraWindow::closeEvent(QCloseEvent* event) {
    if (registrar_->CrawlRunning()) {
        event->ignore();
        if (ui_.MessageBox(kCrawlRunningQuestion, kCrawlRunningCaption,
                           app::MessageIcon::kExclamation,
                           app::MessageButtons::kYesNo) == app::DialogResult::kYes) {
            registration_->StatusDialog().close();
        }
        return;
    }
    if (busy_ != app::BusyState::kIdle || filling_tree_ || filling_list_) {
        event->ignore();
        return;
    }
    SetBusy(app::BusyState::kClosing);
    SaveMainGeometry();
    app::ListColumnWidths widths{};
    for (std::size_t column = 0; column < app::kListColumns; ++column) {
        widths[column] = list_->columnWidth(static_cast<int>(column));
    }
    app::SaveListColumnWidths(widths, IniPath());
    if (tray_) tray_->hide();
    ShutDown(fast_exit_);
    event->accept();
    if (on_closed_) on_closed_();
}

void KelvraWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
    SaveMainGeometry();
    // Hidden only where the tray icon can bring it back.
    if ((core_.Settings().flags & app::kFlagHideWhenMinimised) && tray_) {
        QTimer::singleShot(0, this, [this] { hide(); });
    }
}

void KelvraWindow::SaveMainGeometry() {
    const int state = !isVisible()    ? kShowHidden
                      : isMinimized() ? kShowMinimised
                      : isMaximized() ? kShowMaximised
                                      : kShowNormal;
    app::SaveWindowMetrics(kMainWindow, false, state, {x(), y(), width(), height()}, IniPath());
}

void KelvraWindow::Settings() {
    const app::BusyGuard busy(busy_, app::BusyState::kModal);
    ConfigDialog dialog(
        app::ConfigDialogFieldsFrom(core_.Settings()), ui_,
        [this](const std::string& start) { return ui_.ChooseFolder(kFolderTitle, start); }, this);
    if (dialog.exec() != QDialog::Accepted) return;
    app::ApplyConfigDialogFields(dialog.Fields(), core_.Settings());
    if (ui_.MessageBox(kReinitialiseQuestion, kReinitialiseCaption, app::MessageIcon::kNone,
                       app::MessageButtons::kYesNo) == app::DialogResult::kYes) {
        SetServerMode(0, false);
        ShutDown(true);
        StartUp();
    } else {
        SetServerMode(static_cast<std::uint32_t>(core_.Settings().run_at_start), true);
    }
}

void KelvraWindow::ProxySettings() {
    if (busy_ != app::BusyState::kIdle) return;
    const app::BusyGuard busy(busy_, app::BusyState::kModal);
    const std::uint32_t previous = SetServerMode(0, false);
    AutoProxCfgDlg dialog(core_.Settings().proxy, IniPath(), ui_, this);
    if (dialog.exec() == QDialog::Accepted) {
        core_.Settings().proxy = dialog.Environment();
        app::ShowMessage(ui_, server::ProxyAutoConfigHint(core_.Environment().pac_path),
                         server::kPacHintCaption, app::MessageIcon::kInformation);
    }
    SetServerMode(previous, true);
}

bool KelvraWindow::ConditionSettings(const std::string& url) {
    // Also during a crawl, which reads the condition file only when URLs are registered.
    store::AcquisitionCondition condition;
    return EditConditionDialog(this, core_, url, condition);
}

void KelvraWindow::About() {
    app::ShowMessage(ui_, AboutText(), kAboutCaption, app::MessageIcon::kInformation);
}

void KelvraWindow::ShowMonitor() {
    if (!monitor_ || monitor_->isVisible()) return;
    monitor_->show();
    monitor_->raise();
}

void KelvraWindow::SaveScreenshots() {
    const QDir directory(screenshot_directory_);
    const auto save = [&directory](QWidget& widget, const char* name) {
        QApplication::processEvents();
        widget.grab().save(directory.filePath(name));
    };
    // A directory with entries in the list: the first host.
    if (tree_->topLevelItemCount() > 0) {
        tree_->setCurrentItem(tree_->topLevelItem(0));
        tree_->topLevelItem(0)->setExpanded(true);
        const std::string url = TreeUrl(tree_->topLevelItem(0));
        FillList(url);
        ui_.StatusText(url);
    }
    save(*this, "main-report.png");
    RunCommand(app::CommandId::kSimpleList);
    save(*this, "main-list.png");
    RunCommand(app::CommandId::kSimpleList);
    ConfigDialog config(app::ConfigDialogFieldsFrom(core_.Settings()), ui_, nullptr, this);
    config.show();
    save(config, "settings.png");
    config.hide();
    AutoProxCfgDlg proxy(core_.Settings().proxy, IniPath(), ui_, this);
    proxy.show();
    save(proxy, "proxy.png");
    proxy.hide();
    // A request of its own, so that the monitor shows a worker's row at work.
    if (core_.ServerPort() > 0 && tree_->topLevelItemCount() > 0) {
        AskLocalServer(core_.ServerPort(), TreeUrl(tree_->topLevelItem(0)));
    }
    ShowMonitor();
    if (monitor_) save(*monitor_, "monitor.png");
    store::AcquisitionCondition condition;
    SubConfigDialog condition_dialog(ui_, core_.DataDirectoryPath() + app::kConditionFileName, {},
                                     condition, {}, this);
    condition_dialog.show();
    save(condition_dialog, "condition.png");
    condition_dialog.hide();
    MultiUrlDlg multi_url(ui_, core_.History(), this);
    std::vector<std::string> urls;
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        urls.push_back(TreeUrl(tree_->topLevelItem(i)));
    }
    for (std::size_t i = 0; i < core_.History().Count(); ++i) {
        urls.push_back(*core_.History().Get(i));
    }
    multi_url.AddUrls(urls);
    multi_url.show();
    save(multi_url, "multi-url.png");
    multi_url.hide();
    UrlDialog url(core_.History(), start_urls_.empty() ? "" : start_urls_.front(), this);
    url.show();
    save(url, "url-dialog.png");
    url.hide();
    SaveBookmarkScreenshots(save);
    if (!start_urls_.empty()) {
        // The status dialog as soon as a worker shows a URL, while the crawl runs.
        KelvraDialog& status = registration_->StatusDialog();
        QTimer grab;
        connect(&grab, &QTimer::timeout, this, [&] {
            status.Refresh();
            if (status.isVisible() && !status.UrlLine(0).isEmpty()) {
                grab.stop();
                save(status, "status.png");
            }
        });
        grab.start(1);
        registration_->SetUnattended(true);
        FetchUrls(std::exchange(start_urls_, {}));
    }
    close();
}

void KelvraWindow::SaveBookmarkScreenshots(const std::function<void(QWidget&, const char*)>& save) {
    if (!bookmarks_) return;
    ShowBookmarks();
    if (bookmarks_->List()->count() > 0) bookmarks_->List()->item(0)->setSelected(true);
    save(*bookmarks_, "bookmarks.png");
    QMenu* menu = bookmarks_->PreparedMenu();
    menu->adjustSize();
    save(*menu, "bookmarks-menu.png");
    const std::vector<std::string> urls = bookmarks_->Model().Urls({0});
    EditBMDialog edit(ToQt("ﾌﾞｯｸﾏｰｸの変更"),
                      {urls.empty() ? "" : urls.front(), "KelvraW example site"}, bookmarks_.get());
    edit.show();
    save(edit, "bookmark-edit.png");
    edit.hide();
    ChangePageDiag page(ToQt("ｺﾋﾟｰ先のﾍﾟｰｼﾞを選択してください"), bookmarks_->Model().PageNames(),
                        bookmarks_.get());
    page.show();
    save(page, "bookmark-page.png");
    page.hide();
}

int KelvraWindow::FetchUrls(const std::vector<std::string>& urls, const std::string& multi_file,
                            bool multi) {
    const int accepted = registrar_->RegisterUrls(urls, multi_file, multi);
    UpdateMenuState();
    CloseIfPending();
    return accepted;
}

void KelvraWindow::RefetchRetryList() {
    app::FileQuestion question;
    question.title = kRetryListTitle;
    question.filter_text = crawl::FinishText::kFilterName;
    question.pattern = crawl::FinishText::kFilterPattern;
    question.default_extension = crawl::FinishText::kDefaultExtension;
    if (const std::optional<std::string> path = ui_.ChooseFile(question)) {
        registrar_->RefetchRetryList(*path);
    }
}

void KelvraWindow::DropFiles(const std::vector<std::string>& files) {
    const app::DroppedFiles dropped = app::ClassifyDrop(files);
    switch (dropped.action) {
        case app::DroppedFiles::Action::kMultiUrlFile:
            FetchUrls({}, dropped.file, true);
            break;
        case app::DroppedFiles::Action::kRetryList:
            registrar_->RefetchRetryList(dropped.file);
            UpdateMenuState();
            CloseIfPending();
            break;
        case app::DroppedFiles::Action::kEnterUrl:
        case app::DroppedFiles::Action::kRegisterUrls:
            FetchUrls(dropped.urls);
            break;
        case app::DroppedFiles::Action::kNone:
            break;
    }
}

void KelvraWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void KelvraWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> files;
    std::vector<std::string> urls;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            files.push_back(FromQt(url.toLocalFile()));
        } else {
            urls.push_back(FromQt(url.toString()));
        }
    }
    event->acceptProposedAction();
    // After the drop has ended: the registration may run a whole crawl.
    QTimer::singleShot(0, this, [this, files = std::move(files), urls = std::move(urls)] {
        if (!files.empty()) {
            DropFiles(files);
        } else if (!urls.empty()) {
            FetchUrls(urls);
        }
    });
}

void KelvraWindow::FetchWhenStarted(std::vector<std::string> urls, bool unattended) {
    start_urls_ = std::move(urls);
    unattended_ = unattended;
    registration_->SetUnattended(unattended);
}

void KelvraWindow::FetchStartUrls() {
    const std::vector<std::string> urls = std::move(start_urls_);
    start_urls_.clear();
    const int accepted = FetchUrls(urls);
    if (!unattended_) return;
    if (accepted == 0) exit_code_ = kExitFailed;
    RequestClose();
}

void KelvraWindow::CrawlEnded(const app::CrawlOutcome& outcome) {
    if (unattended_) exit_code_ = outcome.failed || outcome.processed <= 0 ? kExitFailed : 0;
    if (outcome.processed <= 0) return;
    RefreshTree();
    if ((core_.Settings().flags & app::kFlagSelectFetchedUrl) && !outcome.registered.empty()) {
        SelectUrl(outcome.registered.front());
    }
    if (bookmarks_ && bookmarks_->isVisible() && !unattended_) {
        bookmarks_->AddFromMainWindow(outcome.registered, /*by_user=*/false);
    }
}

void KelvraWindow::ShowBookmarks() {
    if (!bookmarks_) return;
    bookmarks_->showNormal();
    bookmarks_->raise();
    bookmarks_->activateWindow();
}

bool KelvraWindow::RemoveData(const std::string& url) {
    if (busy_ != app::BusyState::kIdle) return false;
    if (RunDataCommand(this, core_, busy_, app::CommandId::kHierarchyRemove, {url})) RefreshTree();
    UpdateMenuState();
    return true;
}

}  // namespace kelvra::gui
