#pragma once
// KelvraWindow: the desktop program's main window. It owns the application core and wires the
// URL tree, the list, the menus, the tray icon and the dialogs to the core's operations; the
// logic itself lives in src/app.

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "app/commands.h"
#include "app/lifo.h"
#include "app/opendata.h"
#include "app/registrar.h"
#include "app/startup.h"
#include "app/storeview.h"
#include "gui/dialogs.h"
#include "gui/guiregistration.h"
#include "gui/guiui.h"

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QMenu;
class QMenuBar;
class QSplitter;
class QSystemTrayIcon;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace kelvra::gui {

class BookMarkWin;

inline constexpr char kReinitialiseQuestion[] =
    "全ての設定を直ちに反映するためには\nﾌﾟﾛｸﾞﾗﾑの再初期化が必要です.\n"
    "(一部の項目(*)は既に反映されました)";
inline constexpr char kReinitialiseCaption[] = "全ての設定を直ちに反映しますか?";
inline constexpr char kAboutCaption[] = "KelvraW ver.8.3.0(+Orvanemon)";
inline constexpr char kFolderTitle[] = "ﾃﾞｰﾀﾃﾞｨﾚｸﾄﾘを選択してください";

// The argument of the internal command message; which member counts depends on the command.
struct CommandArgument {
    std::string url;  // a URL, or the text of 0x60
    std::vector<std::string> urls;
    std::uint32_t mode = 0;
    std::string* title = nullptr;        // where 0x80 puts the page title
    std::string* destination = nullptr;  // where 0x40 to 0x42 put the directory chosen
};

// Codes of the internal command message (low 12 bits; bits 12 to 15 carry the Alt flag).
enum CommandCode : unsigned {
    kMessageRegisterUrls = 1,
    kMessageOpenAsUrl = 2,
    kMessageOpenAsFile = 3,
    kMessageCopyUrls = 4,
    kMessageCopyFileNames = 5,
    kMessageUrlInfo = 6,
    kMessageOpenWithProgram = 10,
    kMessageCondition = 11,
    kMessageProxySettings = 13,
    kMessageDoubleClick = 0x20,
    kMessageServerMode = 0x30,
    kMessageSetServerMode = 0x31,
    kMessageLinkedCopy = 0x40,
    kMessageLinkedMove = 0x41,
    kMessageLinkedRemove = 0x42,
    kMessageRemoveData = 0x50,
    kMessageSelectUrl = 0x51,
    kMessageStatusText = 0x60,
    kMessagePageTitle = 0x80,
};
inline constexpr unsigned kMessageCodeMask = 0xFFF;
inline constexpr unsigned kMessageAltShift = 12;

inline constexpr char kCrawlRunningQuestion[] =
    "取得作業を終了した後に、\n再度ﾌﾟﾛｸﾞﾗﾑを終了させてください.\n\n取得作業を終了させますか？";
inline constexpr char kCrawlRunningCaption[] = "取得作業中に付きﾌﾟﾛｸﾞﾗﾑを終了できません";

// The About box's text: the NTLM library in use and the Flash plug-in's version when it loads.
std::string AboutText();

class KelvraWindow final : public QMainWindow {
  public:
    // ui must outlive the window; the program passes its GuiUserInterface, which it points at
    // the window and at ShowServerMode.
    KelvraWindow(app::UserInterface& ui, app::ProgramEnvironment environment);
    ~KelvraWindow() override;

    app::AppCore& Core() { return core_; }
    app::BusyState Busy() const { return busy_; }
    // Valid between StartUp and ShutDown.
    SrvStatusDiag* Monitor() const { return monitor_.get(); }
    QTreeWidget* Tree() const { return tree_; }
    QTreeWidget* List() const { return list_; }
    // The bookmark window; valid between StartUp and ShutDown.
    BookMarkWin* Bookmarks() const { return bookmarks_.get(); }
    // True from the end of StartUp to the start of ShutDown.
    bool Started() const { return started_; }

    void StartUp();
    void ShutDown(bool fast);
    // SetServerMode of the core; the shown mode follows through the user interface.
    std::uint32_t SetServerMode(std::uint32_t mode, bool replace_flags);
    // Runs a command by its identifier; false when it is unknown or not enabled now.
    bool RunCommand(app::CommandId id);
    // The action of a command (menus, tray, shortcuts); nullptr for none.
    QAction* Action(app::CommandId id) const;
    // Applies the menu-state rule to every action, as opening a menu does (with the clipboard
    // as it was when a menu last opened).
    void UpdateMenuState();
    // Selects the tree item of url, expanding the way down; false when nothing was selected.
    bool SelectUrl(std::string_view url);
    // The internal command message through which the bookmark window and the list drive the
    // window. Returns the command's result (for 0x40 to 0x42 the number of objects handled);
    // -1 for a code it does not know.
    long CommandMessage(unsigned code, const CommandArgument& argument);
    // The URLs selected in the pane used last.
    std::vector<app::SelectedUrl> SelectedUrls() const;

    // A close from outside (SIGTERM): refused while busy, it is made as soon as the window is
    // idle again.
    void RequestClose();
    // Called once the window has closed for good (the program then ends).
    void SetOnClosed(std::function<void()> on_closed) { on_closed_ = std::move(on_closed); }
    // The tray icon, its tip and the server menu's title follow mode.
    void ShowServerMode(std::uint32_t mode);
    // The text of the right-aligned server menu.
    QString ServerMenuTitle() const;
    // Once started, saves PNGs of the main window (report and list view), the settings
    // dialog, the proxy dialog, the monitor, the condition dialog, the multi-URL dialog, the URL
    // dialog, the bookmark window with its two dialogs and, when start URLs were given, the status
    // dialog while it fetches them into directory, then closes the window.
    void ScreenshotsWhenStarted(const QString& directory) { screenshot_directory_ = directory; }

    // The registration's dialogs (the multi-URL and condition dialogs are set there).
    GuiRegistrationDialogs& Registration() { return *registration_; }
    // Registers urls (with multi_file or multi: through the multi-URL dialog) as the fetch
    // commands do. Returns the number of URLs accepted.
    int FetchUrls(const std::vector<std::string>& urls, const std::string& multi_file = {},
                  bool multi = false);
    // What dropping these local files on the window does.
    void DropFiles(const std::vector<std::string>& files);
    // Once started, registers urls. Unattended, nobody is asked anything and the window
    // closes when the crawl has ended; ExitCode then tells how it went.
    void FetchWhenStarted(std::vector<std::string> urls, bool unattended);
    // 0 when the unattended crawl fetched something and nothing failed, else 1.
    int ExitCode() const { return exit_code_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Focus on a pane makes it the pane used last.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    const std::string& IniPath() const;
    void CreatePanes();
    void BuildMenus();
    QAction* CommandAction(const app::CommandInfo& info);
    // Adds commands to menu, grouping consecutive items of one submenu.
    void AddCommands(QMenu* menu, std::span<const app::CommandId> commands);
    void SetBusy(app::BusyState busy);
    // Makes a requested close once nothing holds the window any more.
    void CloseIfPending();
    // Input to the panes and the menu bar (start-up and shutdown run with it off).
    void SetInputEnabled(bool enabled);
    void ApplyViewFlags();
    void ToggleFlag(int flag);
    void SetListView(bool simple);

    void FillTree();
    // Fills the children of item (nullptr: the top level) two levels deep from the store.
    void FillBelow(QTreeWidgetItem* item);
    void RefreshTree();
    std::vector<std::string> TreeNames(const QTreeWidgetItem* item) const;
    std::string TreeUrl(const QTreeWidgetItem* item) const;
    void FillList(const std::string& directory_url);
    void ClearPanes();
    void OnListActivated(QTreeWidgetItem* item);
    void EnterKey();
    void DoubleClickAction(const std::string& url, bool alt);
    // 0x80: false without a stored file; an HTML object's title (false without one); else
    // an empty title.
    bool PageTitleOf(const std::string& url, std::string& title);
    // Internal commands 0x40 to 0x42: the all-links data command over argument.urls.
    long LinkedDataCommand(unsigned code, const CommandArgument& argument);
    void ShowSelectedUrl();
    void ShowContextMenu(QWidget* pane, const QPoint& position);

    void CreateTray();
    void SaveMainGeometry();
    void Settings();
    void ProxySettings();
    // The condition dialog for url; empty: the default condition.
    bool ConditionSettings(const std::string& url);
    void About();
    void ShowMonitor();
    void OpenWithProgram(const std::vector<app::SelectedUrl>& urls);
    void SaveScreenshots();
    void SaveBookmarkScreenshots(const std::function<void(QWidget&, const char*)>& save);
    void RefetchRetryList();
    void FetchStartUrls();
    // The end of a crawl: the tree shows what it fetched, the bookmark window offers its start
    // URLs when it is visible.
    void CrawlEnded(const app::CrawlOutcome& outcome);
    void ShowBookmarks();
    // 0x50: the data of url and below; false when busy.
    bool RemoveData(const std::string& url);

    app::UserInterface& ui_;
    app::AppCore core_;
    app::BusyState busy_ = app::BusyState::kStarting;
    app::LIFOClass applications_{app::kUseApplicationsCapacity};
    std::function<void()> on_closed_;
    bool started_ = false;
    bool first_show_ = true;
    bool fast_exit_ = true;
    bool filling_tree_ = false;
    bool filling_list_ = false;
    int fill_generation_ = 0;  // a newer fill request ends the running one
    bool in_popup_ = false;
    bool clipboard_has_text_ = false;
    bool close_pending_ = false;  // as last seen when a menu opened
    app::Pane last_pane_ = app::Pane::kTree;
    int stored_show_state_ = 1;
    std::string list_url_;  // the directory the list shows
    app::ListSortState sort_state_;
    QString screenshot_directory_;
    std::unique_ptr<SrvStatusDiag> monitor_;
    std::unique_ptr<BookMarkWin> bookmarks_;
    std::map<app::CommandId, QAction*> actions_;
    std::vector<QMenu*> menus_;
    QSplitter* splitter_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QTreeWidget* list_ = nullptr;
    static constexpr int kImageCount = 8;
    std::array<QIcon, kImageCount> images_;  // indexed by app::ListImage and the tree images
    QTimer* selection_timer_ = nullptr;
    QMenuBar* mode_bar_ = nullptr;
    QMenu* mode_menu_ = nullptr;
    QMenu* context_menu_ = nullptr;
    QMenu* tray_menu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::vector<std::string> start_urls_;
    bool unattended_ = false;
    int exit_code_ = 0;
    // The registrar uses the dialogs: it goes first.
    std::unique_ptr<GuiRegistrationDialogs> registration_;
    std::unique_ptr<app::Registrar> registrar_;
};

}  // namespace kelvra::gui
