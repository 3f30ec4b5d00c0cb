#include "app/commands.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>

#include "app/settings.h"

namespace kelvra::app {

namespace {

using C = CommandId;
using M = MenuId;

constexpr std::string_view kFetchedData = "起動後に取得したﾃﾞｰﾀ操作(&1)";
constexpr std::string_view kUnrecordedData = "履歴情報の無いﾃﾞｰﾀ操作(&2)";
constexpr std::string_view kHierarchyData = "選択階層のﾃﾞｰﾀ操作(&3)";
constexpr std::string_view kLinkedData = "選択URLの全ﾘﾝｸﾃﾞｰﾀ操作(&L)";

constexpr MenuInfo kMenuBar[] = {
    {M::kFetch, "取得(&G)"},   {M::kData, "ﾃﾞｰﾀ(&D)"}, {M::kSettings, "設定(&C)"},
    {M::kOther, "その他(&O)"}, {M::kServer, "起動中"},
};

constexpr CommandInfo kCommands[] = {
    {C::kFetchWebPage, "&WebPage取得", "Ctrl+W", M::kFetch, {}, 0},
    {C::kFetchMultiUrl, "複数URL指定取得(&M)", {}, M::kFetch, {}, 0},
    {C::kFetchSelected, "選択URLを取得(&G)", "Ctrl+G", M::kFetch, {}, 0},
    {C::kFetchClipboard, "ｸﾘｯﾌﾟﾎﾞｰﾄﾞのURL取得(&B)", {}, M::kFetch, {}, 0},
    {C::kRefetchRetryList, "ﾘﾄﾗｲﾘｽﾄからの再取得(&R)", {}, M::kFetch, {}, 0},
    {C::kTidyExit, "履歴整理後終了(&Z)", {}, M::kFetch, {}, 0},
    {C::kFastExit, "高速終了(&X)", {}, M::kFetch, {}, 0},
    {C::kOpenAsUrl, "&URLとして開く", "Ctrl+U", M::kData, {}, 0},
    {C::kOpenAsFile, "&Fileとして開く", "Ctrl+F", M::kData, {}, 0},
    {C::kOpenWithProgram, "指定ﾌﾟﾛｸﾞﾗﾑで開く(&P)", "Ctrl+P", M::kData, {}, 0},
    {C::kCopyUrls, "URLをｺﾋﾟｰ(&C)", "Ctrl+C", M::kData, {}, 0},
    {C::kCopyFileNames, "File名をｺﾋﾟｰ(&K)", "Ctrl+K", M::kData, {}, 0},
    {C::kExportList, "階層以下一覧出力(&E)", {}, M::kData, {}, 0},
    {C::kFetchedCopy, "ｺﾋﾟｰ(&C)", {}, M::kData, kFetchedData, 0},
    {C::kFetchedMove, "移動(&M)", {}, M::kData, kFetchedData, 0},
    {C::kFetchedRemove, "消去(&R)", {}, M::kData, kFetchedData, 0},
    {C::kUnrecordedMove, "移動(&M)", {}, M::kData, kUnrecordedData, 0},
    {C::kUnrecordedRemove, "消去(&R)", {}, M::kData, kUnrecordedData, 0},
    {C::kHierarchyCopy, "ｺﾋﾟｰ(&C)", {}, M::kData, kHierarchyData, 0},
    {C::kHierarchyMove, "移動(&M)", {}, M::kData, kHierarchyData, 0},
    {C::kHierarchyRemove, "消去(&R)", {}, M::kData, kHierarchyData, 0},
    {C::kLinkedCopy, "ｺﾋﾟｰ(&C)", {}, M::kData, kLinkedData, 0},
    {C::kLinkedMove, "移動(&M)", {}, M::kData, kLinkedData, 0},
    {C::kLinkedRemove, "消去(&R)", {}, M::kData, kLinkedData, 0},
    {C::kSettings, "環境設定(&C)", {}, M::kSettings, {}, 0},
    {C::kProxySettings, "ISP-&Proxy設定", {}, M::kSettings, {}, 0},
    {C::kConditionSettings, "取得条件設定(&G)", {}, M::kSettings, {}, 0},
    {C::kSimpleList, "簡易ﾘｽﾄ表示(&L)", {}, M::kSettings, {}, kFlagSimpleList},
    {C::kSelectAfterFetch, "取得後自動 &Tree 選択", {}, M::kSettings, {}, kFlagSelectFetchedUrl},
    {C::kHideWhenMinimised,
     "最小化時ﾀｽｸﾊﾞｰから消す(&H)",
     {},
     M::kSettings,
     {},
     kFlagHideWhenMinimised},
    {C::kShowBookmarks, "ﾌﾞｯｸﾏｰｸの表示(&B)", {}, M::kOther, {}, 0},
    {C::kAddBookmark, "ﾌﾞｯｸﾏｰｸへ登録(&A)", "Ctrl+A", M::kOther, {}, 0},
    {C::kRedrawTree, "URL Tree再描画(&R)", {}, M::kOther, {}, 0},
    {C::kUrlInfo, "URL情報(&I)", "Ctrl+I", M::kOther, {}, 0},
    {C::kHelp, "&Help", {}, M::kOther, {}, 0},
    {C::kAbout, "&About...", {}, M::kOther, {}, 0},
    {C::kStopServer, "Stop Server(&Z)", {}, M::kServer, {}, 0},
    {C::kLocalMode, "&Local Mode", {}, M::kServer, {}, 0},
    {C::kProxyMode, "&Proxy Mode", {}, M::kServer, {}, 0},
    {C::kProxyMode2, "Proxy Mode &2", {}, M::kServer, {}, 0},
    // Not in the menu bar: the tray's monitor item and the Enter key.
    {C::kServerStatusWindow, "ServerStatusWindow", {}, M::kServer, {}, 0},
    {C::kEnter, "", "Return", M::kOther, {}, 0},
};

constexpr CommandId kFetchMenu[] = {
    C::kFetchWebPage,     C::kFetchMultiUrl, C::kFetchSelected, C::kFetchClipboard,
    C::kRefetchRetryList, C::kSeparator,     C::kTidyExit,      C::kFastExit,
};
constexpr CommandId kDataMenu[] = {
    C::kOpenAsUrl,       C::kOpenAsFile,       C::kOpenWithProgram, C::kSeparator,
    C::kCopyUrls,        C::kCopyFileNames,    C::kSeparator,       C::kExportList,
    C::kSeparator,       C::kFetchedCopy,      C::kFetchedMove,     C::kFetchedRemove,
    C::kUnrecordedMove,  C::kUnrecordedRemove, C::kHierarchyCopy,   C::kHierarchyMove,
    C::kHierarchyRemove, C::kLinkedCopy,       C::kLinkedMove,      C::kLinkedRemove,
};
constexpr CommandId kSettingsMenu[] = {
    C::kSettings,   C::kProxySettings,    C::kConditionSettings, C::kSeparator,
    C::kSimpleList, C::kSelectAfterFetch, C::kHideWhenMinimised,
};
constexpr CommandId kOtherMenu[] = {
    C::kShowBookmarks, C::kAddBookmark, C::kSeparator, C::kRedrawTree,
    C::kUrlInfo,       C::kSeparator,   C::kHelp,      C::kAbout,
};
constexpr CommandId kServerMenu[] = {
    C::kStopServer,
    C::kLocalMode,
    C::kProxyMode,
    C::kProxyMode2,
};
constexpr CommandId kContextMenu[] = {
    C::kFetchWebPage,  C::kFetchSelected,   C::kFetchMultiUrl,    C::kFetchClipboard,
    C::kSeparator,     C::kOpenAsUrl,       C::kOpenAsFile,       C::kOpenWithProgram,
    C::kSeparator,     C::kCopyUrls,        C::kCopyFileNames,    C::kSeparator,
    C::kExportList,    C::kSeparator,       C::kFetchedCopy,      C::kFetchedMove,
    C::kFetchedRemove, C::kUnrecordedMove,  C::kUnrecordedRemove, C::kHierarchyCopy,
    C::kHierarchyMove, C::kHierarchyRemove, C::kLinkedCopy,       C::kLinkedMove,
    C::kLinkedRemove,  C::kSeparator,       C::kAddBookmark,      C::kUrlInfo,
};
// The acquisition commands here are those that need no selection.
constexpr CommandId kTrayMenu[] = {
    C::kTidyExit,      C::kFastExit,      C::kSeparator,      C::kStopServer,       C::kLocalMode,
    C::kProxyMode,     C::kProxyMode2,    C::kSeparator,      C::kProxySettings,    C::kSeparator,
    C::kFetchWebPage,  C::kFetchMultiUrl, C::kFetchClipboard, C::kRefetchRetryList, C::kSeparator,
    C::kShowBookmarks, C::kAbout,
};

bool Among(CommandId id, std::initializer_list<CommandId> ids) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

bool InRange(CommandId id, CommandId first, CommandId last) {
    return id >= first && id <= last;
}

// Data management: the three copy/move/remove groups and the two for unrecorded data.
bool IsDataManagement(CommandId id) {
    return InRange(id, C::kLinkedCopy, C::kHierarchyRemove) ||
           Among(id, {C::kUnrecordedMove, C::kUnrecordedRemove});
}

// Commands that would start a second modal operation or change data while one runs.
bool NeedsIdle(CommandId id) {
    return IsDataManagement(id) ||
           Among(id, {C::kRefetchRetryList, C::kSettings, C::kProxySettings, C::kExportList});
}

bool NeedsOneSelected(CommandId id) {
    return Among(id, {C::kOpenAsUrl, C::kOpenAsFile, C::kUrlInfo, C::kOpenWithProgram});
}

}  // namespace

BusyGuard::BusyGuard(BusyState& state, BusyState during) : state_(state), previous_(state) {
    state_ = during;
}

BusyGuard::~BusyGuard() {
    state_ = previous_;
}

std::span<const MenuInfo> MenuBar() {
    return kMenuBar;
}

std::span<const CommandInfo> CommandTable() {
    return kCommands;
}

std::span<const CommandId> MenuCommands(MenuId menu) {
    switch (menu) {
        case M::kFetch:
            return kFetchMenu;
        case M::kData:
            return kDataMenu;
        case M::kSettings:
            return kSettingsMenu;
        case M::kOther:
            return kOtherMenu;
        case M::kServer:
            break;
    }
    return kServerMenu;
}

const CommandInfo* FindCommand(CommandId id) {
    if (id == C::kSeparator) return nullptr;
    const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [id](const CommandInfo& info) { return info.id == id; });
    return found == std::end(kCommands) ? nullptr : found;
}

const CommandInfo* FindCommand(int id) {
    if (id < 0 || id > 0xFFFF) return nullptr;
    return FindCommand(static_cast<CommandId>(id));
}

std::span<const CommandId> ContextMenuCommands() {
    return kContextMenu;
}

std::span<const CommandId> TrayMenuCommands() {
    return kTrayMenu;
}

CommandId ServerModeCommand(std::uint32_t mode) {
    switch (mode & kServerModeBits) {
        case 0:
            return C::kStopServer;
        case 1:
            return C::kLocalMode;
        case 2:
            return C::kProxyMode;
        case 3:
            return C::kProxyMode2;
        default:
            return C::kSeparator;
    }
}

bool CommandEnabled(CommandId id, const MenuContext& context) {
    if (context.busy != BusyState::kIdle && NeedsIdle(id)) return false;
    if (NeedsOneSelected(id) && context.selected != 1) return false;
    if (id == C::kFetchClipboard && !context.clipboard_has_text) return false;
    return true;
}

bool CommandChecked(CommandId id, int flags) {
    const CommandInfo* info = FindCommand(id);
    return info && (info->check_flag & flags) != 0;
}

}  // namespace kelvra::app
