#include "gui/bookmarkwin.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/settings.h"
#include "gui/guiui.h"
#include "gui/kelvrawindow.h"

namespace kelvra::gui {

namespace {

using B = BookmarkCommand;

constexpr int kEditFieldWidth = 420;
constexpr int kShowHidden = 0;
constexpr int kShowNormal = 1;
constexpr int kShowMinimised = 2;
constexpr int kShowMaximised = 3;
constexpr std::uint32_t kModeBits = 0xF;
constexpr unsigned kAltFlag = 1U << kMessageAltShift;

constexpr char kEditMenu[] = "編集(&E)";
constexpr char kLinkedMenu[] = "選択URLの全ﾘﾝｸﾃﾞｰﾀ操作(&L)";

QString ServerSubmenuTitle(std::uint32_t mode) {
    switch (mode & kModeBits) {
        case 1:
            return "Local Mode(&S)";
        case 2:
            return "Proxy Mode(&S)";
        case 3:
            return "Proxy Mode 2(&S)";
        case 4:
            return "Proxy Mode 3(&S)";
        default:
            return "Server Stopped(&S)";
    }
}

QFont FontOf(const app::ListFont& stored) {
    QFont font(ToQt(stored.face));
    if (stored.height < 0) font.setPixelSize(-stored.height);
    if (stored.height > 0) font.setPixelSize(stored.height);
    if (stored.weight >= QFont::Thin && stored.weight <= QFont::Black) {
        font.setWeight(static_cast<QFont::Weight>(stored.weight));
    }
    font.setItalic(stored.italic);
    font.setUnderline(stored.underline);
    font.setStrikeOut(stored.strike_out);
    return font;
}

app::ListFont StoredFont(const QFont& font) {
    app::ListFont stored;
    stored.face = FromQt(font.family());
    const int pixels = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    stored.height = -pixels;
    stored.weight = font.weight();
    stored.italic = font.italic();
    stored.underline = font.underline();
    stored.strike_out = font.strikeOut();
    return stored;
}

}  // namespace

EditBMDialog::EditBMDialog(const QString& caption, const app::Bookmark& bookmark, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(caption);
    auto* layout = new QVBoxLayout(this);
    auto* fields = new QFormLayout;
    title_ = new QLineEdit(ToQt(bookmark.title), this);
    title_->setObjectName("Title");
    title_->setMinimumWidth(kEditFieldWidth);
    url_ = new QLineEdit(ToQt(bookmark.url), this);
    url_->setObjectName("URL");
    fields->addRow(ToQt("ﾀｲﾄﾙ"), title_);
    fields->addRow("URL", url_);
    layout->addLayout(fields);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton("OK", QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

app::Bookmark EditBMDialog::Result() const {
    return {FromQt(url_->text()), FromQt(title_->text())};
}

ChangePageDiag::ChangePageDiag(const QString& caption, const std::vector<std::string>& pages,
                               QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(caption);
    auto* layout = new QVBoxLayout(this);
    pages_ = new QComboBox(this);
    pages_->setObjectName("Pages");
    pages_->setEditable(true);
    pages_->setInsertPolicy(QComboBox::NoInsert);
    pages_->setMinimumWidth(kEditFieldWidth / 2);
    for (const std::string& page : pages) pages_->addItem(ToQt(page));
    layout->addWidget(pages_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton("OK", QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(ToQt("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

std::string ChangePageDiag::Page() const {
    return FromQt(pages_->currentText());
}

BookMarkWin::BookMarkWin(KelvraWindow& main)
    : QWidget(nullptr, Qt::Window),
      main_(main),
      model_(main.Core().DataDirectoryPath(), main.Core().Ui(), *this) {
    setWindowTitle(ToQt(kBookmarkWindowTitle));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    pages_ = new QComboBox(this);
    pages_->setObjectName("BMCombo");
    layout->addWidget(pages_);
    list_ = new QListWidget(this);
    list_->setObjectName("BMList");
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setContextMenuPolicy(Qt::NoContextMenu);  // the window's menu
    layout->addWidget(list_, 1);
    status_ = new QLabel(this);
    status_->setObjectName("Status");
    status_->setFrameShape(QFrame::Panel);
    status_->setFrameShadow(QFrame::Sunken);
    layout->addWidget(status_);
    BuildMenu();

    const std::string& ini = main_.Core().Environment().ini_path;
    if (const std::optional<std::vector<unsigned char>> record =
            app::LoadFont(app::kBookmarkWindowKey, ini)) {
        list_->setFont(FontOf(app::FontFromRecord(*record)));
    }
    app::WindowRect rect;
    rect.width = width();
    rect.height = height();
    const int show_state = app::RestoreWindowMetrics(app::kBookmarkWindowKey, false, rect, ini);
    setGeometry(rect.x, rect.y, rect.width, rect.height);

    model_.Open();
    FillPages();
    FillList();
    connect(pages_, &QComboBox::activated, this, [this](int index) {
        model_.SelectPage(static_cast<std::size_t>(index));
        FillList();
    });
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] { ShowStatus(); });
    connect(list_, &QListWidget::itemDoubleClicked, this, [this] { RunCommand(B::kEnter); });
    if (show_state == kShowMinimised) {
        showMinimized();
    } else if (show_state == kShowMaximised) {
        showMaximized();
    } else if (show_state != kShowHidden) {
        show();
    }
}

BookMarkWin::~BookMarkWin() {
    SaveGeometry();
    model_.Close();
}

void BookMarkWin::SaveGeometry() const {
    const int state = !isVisible()    ? kShowHidden
                      : isMinimized() ? kShowMinimised
                      : isMaximized() ? kShowMaximised
                                      : kShowNormal;
    const QRect frame = normalGeometry();
    app::SaveWindowMetrics(app::kBookmarkWindowKey, false, state,
                           {frame.x(), frame.y(), frame.width(), frame.height()},
                           main_.Core().Environment().ini_path);
}

QAction* BookMarkWin::AddItem(QMenu* menu, BookmarkCommand command, const char* label,
                              const char* keys) {
    QAction* action = menu->addAction(ToQt(label));
    action->setData(static_cast<int>(command));
    if (keys) {
        action->setShortcut(QKeySequence(keys));
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);  // the accelerators work with the menu closed
    }
    connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
    actions_[command] = action;
    return action;
}

void BookMarkWin::BuildMenu() {
    menu_ = new QMenu(this);
    AddItem(menu_, B::kFetch, "WebPage取得(&G)", "Ctrl+G");
    AddItem(menu_, B::kCondition, "取得条件の確認(&J)");
    menu_->addSeparator();
    AddItem(menu_, B::kOpenAsUrl, "URLとして開く", "Ctrl+U");
    AddItem(menu_, B::kOpenAsFile, "ﾌｧｲﾙとして開く(&F)", "Ctrl+F");
    AddItem(menu_, B::kOpenWithProgram, "指定ﾌﾟﾛｸﾞﾗﾑで開く(&P)", "Ctrl+P");
    menu_->addSeparator();
    AddItem(menu_, B::kCopyUrls, "URLをｺﾋﾟｰ(&C)", "Ctrl+C");
    AddItem(menu_, B::kCopyFileNames, "ﾌｧｲﾙ名をｺﾋﾟｰ(&K)", "Ctrl+K");
    menu_->addSeparator();
    AddItem(menu_, B::kOpenTree, "URLﾂﾘｰを開く(&T)");
    AddItem(menu_, B::kUrlInfo, "URL情報(&I)", "Ctrl+I");
    menu_->addSeparator();
    AddItem(menu_, B::kAllPages, "ﾌﾞｯｸﾏｰｸの全表示(&A)")->setCheckable(true);
    AddItem(menu_, B::kFont, "ﾌｫﾝﾄの変更(&F)");
    edit_menu_ = menu_->addMenu(ToQt(kEditMenu));
    AddItem(edit_menu_, B::kAdd, "追加(&A)", "Alt+Ins");
    AddItem(edit_menu_, B::kChange, "変更(&E)", "Alt+E");
    edit_menu_->addSeparator();
    AddItem(edit_menu_, B::kCopyToPage, "ﾍﾟｰｼﾞ間ｺﾋﾟｰ(&C)", "Alt+C");
    AddItem(edit_menu_, B::kMoveToPage, "ﾍﾟｰｼﾞ間移動(&M)", "Alt+M");
    edit_menu_->addSeparator();
    AddItem(edit_menu_, B::kTop, "最上位へ(&T)", "Alt+PgUp");
    AddItem(edit_menu_, B::kUp, "上へ(&U)", "Alt+Up");
    AddItem(edit_menu_, B::kDown, "下へ(&D)", "Alt+Down");
    AddItem(edit_menu_, B::kBottom, "最下位へ(&B)", "Alt+PgDown");
    edit_menu_->addSeparator();
    AddItem(edit_menu_, B::kDelete, "削除(&X)", "Alt+Del");
    AddItem(edit_menu_, B::kDeletePage, "表示ﾍﾟｰｼﾞ削除(&P)");
    QMenu* linked = menu_->addMenu(ToQt(kLinkedMenu));
    AddItem(linked, B::kLinkedCopy, "ｺﾋﾟｰ");
    AddItem(linked, B::kLinkedMove, "移動");
    AddItem(linked, B::kLinkedRemove, "消去");
    menu_->addSeparator();
    server_menu_ = menu_->addMenu(ServerSubmenuTitle(0));
    AddItem(server_menu_, B::kStopServer, "Stop Server(&Z)");
    AddItem(server_menu_, B::kLocalMode, "&Local Mode");
    AddItem(server_menu_, B::kProxyMode, "&Proxy Mode");
    AddItem(server_menu_, B::kProxyMode2, "Proxy Mode &2");
    // Enter is no menu item.
    auto* enter = new QAction(this);
    enter->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    enter->setShortcutContext(Qt::WidgetShortcut);
    list_->addAction(enter);
    connect(enter, &QAction::triggered, this, [this] { RunCommand(B::kEnter); });
}

QAction* BookMarkWin::Action(BookmarkCommand command) const {
    const auto found = actions_.find(command);
    return found == actions_.end() ? nullptr : found->second;
}

void BookMarkWin::UpdateMenu() {
    server_menu_->setTitle(ServerSubmenuTitle(
        static_cast<std::uint32_t>(main_.CommandMessage(kMessageServerMode, CommandArgument{}))));
    const app::BookmarkMenuState state = app::BookmarkMenu(model_.PageMode(), Selected().size());
    Action(B::kAllPages)->setChecked(!model_.PageMode());
    edit_menu_->setEnabled(state.edit);
    for (const B one : {B::kCondition, B::kUrlInfo, B::kOpenAsFile, B::kOpenAsUrl,
                        B::kOpenWithProgram, B::kTop, B::kUp, B::kDown, B::kBottom, B::kChange}) {
        Action(one)->setEnabled(state.one_entry);
    }
    for (const B any :
         {B::kFetch, B::kCopyUrls, B::kCopyFileNames, B::kOpenTree, B::kCopyToPage, B::kMoveToPage,
          B::kDelete, B::kLinkedCopy, B::kLinkedMove, B::kLinkedRemove}) {
        Action(any)->setEnabled(state.any_entry);
    }
}

QMenu* BookMarkWin::PreparedMenu() {
    UpdateMenu();
    return menu_;
}

void BookMarkWin::contextMenuEvent(QContextMenuEvent* event) {
    if (busy_ || menu_->isVisible()) return;
    PreparedMenu()->exec(event->globalPos());
}

void BookMarkWin::FillPages() {
    pages_->clear();
    for (const std::string& page : model_.PageNames()) pages_->addItem(ToQt(page));
    pages_->setCurrentIndex(static_cast<int>(model_.CurrentPage()));
    pages_->setVisible(model_.PageMode());
}

void BookMarkWin::FillList(const std::vector<std::size_t>& selected) {
    list_->clear();
    for (const std::string& entry : model_.Entries()) list_->addItem(ToQt(entry));
    for (const std::size_t index : selected) {
        if (QListWidgetItem* item = list_->item(static_cast<int>(index))) {
            item->setSelected(true);
            list_->setCurrentItem(item, QItemSelectionModel::Select);
        }
    }
    ShowStatus();
}

std::vector<std::size_t> BookMarkWin::Selected() const {
    std::vector<std::size_t> selected;
    for (int row = 0; row < list_->count(); ++row) {
        if (list_->item(row)->isSelected()) selected.push_back(static_cast<std::size_t>(row));
    }
    return selected;
}

void BookMarkWin::ShowStatus() {
    status_->setText(ToQt(app::BookmarkStatus(model_.Entries(), Selected())));
}

long BookMarkWin::Send(unsigned code, const std::vector<std::string>& urls, bool alt) {
    CommandArgument argument;
    argument.urls = urls;
    if (!urls.empty()) argument.url = urls.front();
    return main_.CommandMessage(code | (alt ? kAltFlag : 0), argument);
}

bool BookMarkWin::RunCommand(BookmarkCommand command) {
    UpdateMenu();
    QAction* action = Action(command);
    if (action &&
        (!action->isEnabled() || (action->parent() == edit_menu_ && !edit_menu_->isEnabled()))) {
        return false;
    }
    if (busy_) return false;
    const std::vector<std::size_t> selected = Selected();
    const std::vector<std::string> urls = model_.Urls(selected);
    const bool alt = QApplication::keyboardModifiers() & Qt::AltModifier;
    busy_ = true;
    std::optional<std::vector<std::size_t>> select;  // set: the list shows a changed page
    switch (command) {
        case B::kFetch:
            model_.Fetch(selected);
            break;
        case B::kCondition:
            Send(kMessageCondition, urls);
            break;
        case B::kOpenAsUrl:
            Send(kMessageOpenAsUrl, urls, /*alt=*/true);
            break;
        case B::kOpenAsFile:
            Send(kMessageOpenAsFile, urls);
            break;
        case B::kOpenWithProgram:
            Send(kMessageOpenWithProgram, urls);
            break;
        case B::kCopyUrls:
            Send(kMessageCopyUrls, urls);
            break;
        case B::kCopyFileNames:
            Send(kMessageCopyFileNames, urls);
            break;
        case B::kOpenTree:
            main_.showNormal();
            main_.activateWindow();
            Send(kMessageSelectUrl, urls);
            break;
        case B::kUrlInfo:
            Send(kMessageUrlInfo, urls);
            break;
        case B::kEnter:
            if (!urls.empty()) Send(kMessageDoubleClick, urls, alt);
            break;
        case B::kAllPages:
            model_.SetPageMode(!model_.PageMode());
            FillPages();
            select = std::vector<std::size_t>{};
            break;
        case B::kFont:
            ChooseFont();
            break;
        case B::kAdd:
            select = model_.Add();
            break;
        case B::kChange:
            select = model_.Change(selected.front());
            break;
        case B::kCopyToPage:
        case B::kMoveToPage:
            model_.CopyToOtherPage(selected, command == B::kMoveToPage);
            FillPages();
            select = std::vector<std::size_t>{};
            break;
        case B::kTop:
            select = model_.Move(selected.front(), app::EntryMove::kTop);
            break;
        case B::kUp:
            select = model_.Move(selected.front(), app::EntryMove::kUp);
            break;
        case B::kDown:
            select = model_.Move(selected.front(), app::EntryMove::kDown);
            break;
        case B::kBottom:
            select = model_.Move(selected.front(), app::EntryMove::kBottom);
            break;
        case B::kDelete:
            model_.Delete(selected);
            select = std::vector<std::size_t>{};
            break;
        case B::kDeletePage:
            model_.DeletePage();
            FillPages();
            select = std::vector<std::size_t>{};
            break;
        case B::kLinkedCopy:
            RunLinked(app::LinkedOperation::kCopy);
            select = std::vector<std::size_t>{};
            break;
        case B::kLinkedMove:
            RunLinked(app::LinkedOperation::kMove);
            select = std::vector<std::size_t>{};
            break;
        case B::kLinkedRemove:
            RunLinked(app::LinkedOperation::kRemove);
            select = std::vector<std::size_t>{};
            break;
        case B::kStopServer:
        case B::kLocalMode:
        case B::kProxyMode:
        case B::kProxyMode2: {
            CommandArgument argument;
            argument.mode = static_cast<std::uint32_t>(static_cast<int>(command) -
                                                       static_cast<int>(B::kStopServer));
            main_.CommandMessage(kMessageSetServerMode, argument);
            break;
        }
    }
    busy_ = false;
    if (select) FillList(*select);
    return true;
}

void BookMarkWin::RunLinked(app::LinkedOperation operation) {
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    model_.LinkedData(operation, Selected());
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    raise();
    activateWindow();
}

void BookMarkWin::ChooseFont() {
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, list_->font(), this);
    if (!ok) return;
    list_->setFont(font);
    app::StoreFont(app::kBookmarkWindowKey, app::FontRecord(StoredFont(font)),
                   main_.Core().Environment().ini_path);
}

void BookMarkWin::AddFromMainWindow(const std::vector<std::string>& urls, bool by_user) {
    if (busy_) return;
    busy_ = true;
    model_.AddFromMainWindow(urls, by_user);
    busy_ = false;
    FillList();
}

void BookMarkWin::closeEvent(QCloseEvent* event) {
    // The close box only hides the window; it lives until shutdown.
    event->ignore();
    hide();
}

void BookMarkWin::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) SaveGeometry();
}

void BookMarkWin::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void BookMarkWin::dropEvent(QDropEvent* event) {
    QApplication::sendEvent(&main_, event);
}

std::optional<std::string> BookMarkWin::PageTitle(const std::string& url) {
    std::string title;
    CommandArgument argument;
    argument.url = url;
    argument.title = &title;
    if (main_.CommandMessage(kMessagePageTitle, argument) <= 0 || title.empty()) {
        return std::nullopt;
    }
    return title;
}

bool BookMarkWin::RemoveData(const std::string& url) {
    return Send(kMessageRemoveData, {url}) > 0;
}

std::optional<std::string> BookMarkWin::LinkedData(app::LinkedOperation operation,
                                                   const std::vector<std::string>& urls) {
    std::string destination;
    CommandArgument argument;
    argument.urls = urls;
    argument.destination = &destination;
    const unsigned code = kMessageLinkedCopy + static_cast<unsigned>(operation);
    if (main_.CommandMessage(code, argument) <= 0) return std::nullopt;
    return destination;
}

void BookMarkWin::Fetch(const std::vector<std::string>& urls) {
    Send(kMessageRegisterUrls, urls);
}

bool BookMarkWin::EditBookmark(std::string_view caption, app::Bookmark& bookmark) {
    if (editor_) return editor_(caption, bookmark);
    EditBMDialog dialog(ToQt(caption), bookmark, this);
    if (dialog.exec() != QDialog::Accepted) return false;
    bookmark = dialog.Result();
    return true;
}

std::optional<std::string> BookMarkWin::ChoosePage(std::string_view caption,
                                                   const std::vector<std::string>& pages) {
    if (chooser_) return chooser_(caption, pages);
    ChangePageDiag dialog(ToQt(caption), pages, this);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Page();
}

}  // namespace kelvra::gui
