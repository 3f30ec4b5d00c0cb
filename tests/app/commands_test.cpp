// The command table and the menu-state rule.

#include "app/commands.h"

#include <gtest/gtest.h>

#include <set>

#include "app/settings.h"

namespace kelvra::app {
namespace {

using C = CommandId;

TEST(MenuState, BusyStateSelectionAndClipboardDecide) {
    struct Case {
        CommandId id;
        MenuContext context;
        bool enabled;
        const char* why;
    };
    const MenuContext idle_one{BusyState::kIdle, 1, true};
    const Case cases[] = {
        {C::kExportList, idle_one, true, "idle"},
        {C::kExportList, {BusyState::kModal, 1, true}, false, "a modal command runs"},
        {C::kSettings, {BusyState::kCrawling, 1, true}, false, "a crawl runs"},
        {C::kProxySettings, {BusyState::kStarting, 1, true}, false, "starting"},
        {C::kCopyUrls, {BusyState::kCrawling, 3, false}, true, "not tied to the busy state"},
        {C::kOpenAsUrl, {BusyState::kCrawling, 1, false}, true, "one item, while crawling"},
        {C::kOpenAsUrl, {BusyState::kIdle, 0, false}, false, "nothing selected"},
        {C::kOpenAsFile, {BusyState::kIdle, 2, false}, false, "two selected"},
        {C::kUrlInfo, {BusyState::kIdle, 2, false}, false, "two selected"},
        {C::kOpenWithProgram, idle_one, true, "exactly one"},
        {C::kOpenWithProgram, {BusyState::kIdle, 2, false}, false, "two selected"},
        {C::kHelp, {BusyState::kClosing, 0, false}, true, "always"},
        {C::kConditionSettings, {BusyState::kCrawling, 0, false}, true, "also while crawling"},
        {C::kFetchWebPage, {BusyState::kCrawling, 0, false}, true, "joins a running crawl"},
        {C::kFetchClipboard, {BusyState::kIdle, 0, false}, false, "no text in the clipboard"},
        {C::kFetchClipboard, idle_one, true, "text in the clipboard"},
        {C::kRefetchRetryList, {BusyState::kCrawling, 0, false}, false, "a crawl runs"},
        {C::kHierarchyRemove, idle_one, true, "data management"},
        {C::kUnrecordedMove, {BusyState::kCrawling, 0, false}, false, "data needs idle"},
        {C::kLinkedCopy, idle_one, true, "all-link data"},
        {C::kLinkedRemove, {BusyState::kCrawling, 1, false}, false, "data needs idle"},
        {C::kAddBookmark, {BusyState::kCrawling, 0, false}, true, "bookmarks, also while crawling"},
        {C::kFetchMultiUrl, {BusyState::kCrawling, 0, false}, true, "joins a running crawl"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommandEnabled(c.id, c.context), c.enabled)
            << static_cast<int>(c.id) << ": " << c.why;
    }
}

TEST(MenuState, CheckItemsFollowTheirFlagBits) {
    EXPECT_TRUE(CommandChecked(C::kSimpleList, kFlagSimpleList));
    EXPECT_FALSE(CommandChecked(C::kSimpleList, kFlagHideWhenMinimised | kFlagSelectFetchedUrl));
    EXPECT_TRUE(CommandChecked(C::kHideWhenMinimised, kFlagHideWhenMinimised));
    EXPECT_TRUE(CommandChecked(C::kSelectAfterFetch, kFlagSelectFetchedUrl));
    EXPECT_FALSE(CommandChecked(C::kHelp, -1));
}

TEST(CommandTable, EveryMenuListNamesKnownCommandsOnce) {
    std::set<CommandId> in_bar;
    for (const MenuInfo& menu : MenuBar()) {
        std::string_view submenu;
        std::set<std::string_view> submenus_closed;
        for (const CommandId id : MenuCommands(menu.id)) {
            if (id == C::kSeparator) continue;
            const CommandInfo* info = FindCommand(id);
            ASSERT_NE(info, nullptr) << static_cast<int>(id);
            EXPECT_EQ(info->menu, menu.id) << info->label;
            EXPECT_TRUE(in_bar.insert(id).second) << info->label << " twice";
            // The items of a submenu stand together.
            if (info->submenu != submenu) {
                submenus_closed.insert(submenu);
                EXPECT_FALSE(submenus_closed.contains(info->submenu)) << info->label;
                submenu = info->submenu;
            }
        }
    }
    for (const auto list : {ContextMenuCommands(), TrayMenuCommands()}) {
        for (const CommandId id : list) {
            EXPECT_TRUE(id == C::kSeparator || in_bar.contains(id)) << static_cast<int>(id);
        }
    }
    for (const CommandInfo& info : CommandTable()) {
        EXPECT_EQ(FindCommand(static_cast<int>(info.id)), &info);
    }
    EXPECT_EQ(in_bar.size() + 2, CommandTable().size()) << "all but the tray item and Enter";
    EXPECT_EQ(FindCommand(36876), nullptr);
    EXPECT_EQ(ServerModeCommand(0x12), C::kProxyMode);
    EXPECT_EQ(ServerModeCommand(4), C::kSeparator) << "Proxy Mode 3 has no item";
}

TEST(BusyState, TheGuardRestoresThePreviousState) {
    BusyState state = BusyState::kCrawling;
    {
        BusyGuard modal(state, BusyState::kModal);
        EXPECT_EQ(state, BusyState::kModal);
    }
    EXPECT_EQ(state, BusyState::kCrawling);
}

}  // namespace
}  // namespace kelvra::app
