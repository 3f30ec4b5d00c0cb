#pragma once
// The main window's commands: identifiers, menu labels with their "&" accelerators, shortcuts,
// the menus they sit in, and the rule that enables them. The busy state of the main window
// decides which commands may start.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kelvra::app {

// What the main window is doing; commands that need a quiet program are refused unless idle.
enum class BusyState { kIdle = 0, kModal = 1, kCrawling = 2, kClosing = 3, kStarting = 4 };

// Sets a busy state for its lifetime and restores the one before.
class BusyGuard final {
  public:
    BusyGuard(BusyState& state, BusyState during);
    ~BusyGuard();
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

  private:
    BusyState& state_;
    BusyState previous_;
};

// Command identifiers; the values are those the internal command message and the stored
// menus use.
enum class CommandId : std::uint16_t {
    kSeparator = 0,  // a separator line in a menu list, no command
    kHelp = 36865,
    kFetchMultiUrl = 36866,
    kRedrawTree = 36867,
    kUrlInfo = 36868,
    kCopyFileNames = 36869,
    kCopyUrls = 36870,
    kOpenAsFile = 36871,
    kOpenAsUrl = 36872,
    kFetchSelected = 36873,
    kAbout = 36874,
    kSettings = 36875,
    kFetchWebPage = 36877,
    kShowBookmarks = 36878,
    kAddBookmark = 36879,
    kStopServer = 36880,
    kLocalMode = 36881,
    kProxyMode = 36882,
    kProxyMode2 = 36883,
    kServerStatusWindow = 36884,
    kOpenWithProgram = 36885,
    kTidyExit = 36886,
    kFastExit = 36887,
    kFetchClipboard = 36888,
    kConditionSettings = 36889,
    kRefetchRetryList = 36890,
    kSimpleList = 36891,
    kHideWhenMinimised = 36892,
    kLinkedCopy = 36894,
    kLinkedMove = 36895,
    kLinkedRemove = 36896,
    kFetchedCopy = 36897,
    kFetchedMove = 36898,
    kFetchedRemove = 36899,
    kHierarchyCopy = 36900,
    kHierarchyMove = 36901,
    kHierarchyRemove = 36902,
    kSelectAfterFetch = 36903,
    kUnrecordedMove = 36905,
    kUnrecordedRemove = 36906,
    kEnter = 36907,  // the Enter key; in no menu
    kExportList = 36908,
    kProxySettings = 37136,
};

// The menus of the menu bar, left to right.
enum class MenuId { kFetch, kData, kSettings, kOther, kServer };

struct MenuInfo {
    MenuId id;
    std::string_view label;  // the server menu's label follows the server mode once started
};
std::span<const MenuInfo> MenuBar();

struct CommandInfo {
    CommandId id;
    std::string_view label;     // with its "&" accelerator
    std::string_view shortcut;  // "Ctrl+W"; empty for none
    MenuId menu;
    std::string_view submenu;  // the submenu of menu it sits in; empty for none
    int check_flag;            // for a check item its "Flags" bit (kFlag*), else 0
};

// Every command: those of the menu bar in menu order (the items of a submenu together, in
// their submenu's place), then "ServerStatusWindow" (tray only) and the Enter key (no menu).
std::span<const CommandInfo> CommandTable();
// The menu-bar commands of menu in order, with kSeparator where a line divides them; the
// consecutive items with the same CommandInfo::submenu form that submenu.
std::span<const CommandId> MenuCommands(MenuId menu);
// nullptr for an identifier that is no command.
const CommandInfo* FindCommand(CommandId id);
// nullptr for a number that is no command.
const CommandInfo* FindCommand(int id);

// The context menu of the panes and the tray menu, in order, with kSeparator lines. The tray
// menu's "ServerStatusWindow" item is added at start-up and is not in this list.
std::span<const CommandId> ContextMenuCommands();
std::span<const CommandId> TrayMenuCommands();

// The server command that shows a mode (low four bits): kStopServer for 0, kLocalMode for 1,
// kProxyMode for 2, kProxyMode2 for 3; kSeparator for a mode no item shows.
CommandId ServerModeCommand(std::uint32_t mode);

// What the menu-state rule looks at when a menu opens.
struct MenuContext {
    BusyState busy = BusyState::kIdle;
    std::size_t selected = 0;  // items selected in the last-used pane
    bool clipboard_has_text = false;
};

// Whether a command's menu item is enabled now.
bool CommandEnabled(CommandId id, const MenuContext& context);
// Whether a check item is checked for a "Flags" value; false for other commands.
bool CommandChecked(CommandId id, int flags);

}  // namespace kelvra::app
