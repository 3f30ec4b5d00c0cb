// The multi-URL dialog without its window: reading and saving lists with their messages.

#include "app/multiurlform.h"

#include <gtest/gtest.h>

#include "app/conditionform.h"
#include "app/startup_scripted_ui.h"
#include "app/urlsources.h"
#include "platform/rawfile.h"
#include "util/tempdir.h"

namespace kelvra::app {
namespace {

using kelvra::testing::ScriptedUserInterface;
using Urls = std::vector<std::string>;

TEST(MultiUrlListTest, LoadingTellsWhetherTheFileWasAList) {
    kelvra::testing::TempDir dir;
    ASSERT_TRUE(dir.ok());
    struct Row {
        const char* name;
        std::optional<std::string> text;  // none: no such file
        int result;
        const char* message;
        MessageIcon icon;
    };
    const Row rows[] = {
        {"a.mus", "[MultiURLSetting]\nhttp://h/a\n", 1, "複数URLﾌｧｲﾙ(.mus)を読み込みました",
         MessageIcon::kInformation},
        {"b.mus", "[multiurlsetting]\nhttp://h/a\n", 0, "ﾌｧｲﾙが開けないか、.mus ﾌｧｲﾙではありません",
         MessageIcon::kStop},
        {"c.mus", std::nullopt, -1, "ﾌｧｲﾙが開けないか、.mus ﾌｧｲﾙではありません",
         MessageIcon::kStop},
    };
    for (const Row& row : rows) {
        const std::string path = dir.Path(row.name);
        if (row.text) {
            ASSERT_TRUE(platform::ReplaceFileContents(path, *row.text));
        }
        ScriptedUserInterface ui;
        Urls list;
        const int added = LoadMultiUrlFile(path, list);
        EXPECT_EQ(added, row.result) << row.name;
        TellMultiUrlLoad(ui, path, added);
        ASSERT_EQ(ui.messages.size(), 1u) << row.name;
        EXPECT_EQ(ui.messages[0].text, row.message) << row.name;
        EXPECT_EQ(ui.messages[0].caption, path) << row.name;
        EXPECT_EQ(ui.messages[0].icon, row.icon) << row.name;
    }
}

TEST(MultiUrlListTest, SavingWritesTheListOrTellsWhyNot) {
    kelvra::testing::TempDir dir;
    ASSERT_TRUE(dir.ok());
    ScriptedUserInterface ui;
    const std::string path = dir.Path("list.mus");
    EXPECT_FALSE(WriteMultiUrlList(ui, path, {}));  // an empty list: nothing at all
    EXPECT_TRUE(ui.messages.empty());
    const std::string unwritable = dir.Path("missing/list.mus");
    EXPECT_FALSE(WriteMultiUrlList(ui, unwritable, {"http://h/a"}));
    const Urls list = {"http://h/a", "http://h/b"};
    EXPECT_TRUE(WriteMultiUrlList(ui, path, list));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].text, "ﾌｧｲﾙを作成できません");
    EXPECT_EQ(ui.messages[0].caption, unwritable);
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::kStop);
    EXPECT_EQ(ui.messages[1].text, "設定を保存しました");
    EXPECT_EQ(ui.messages[1].caption, path);
    EXPECT_EQ(ui.messages[1].icon, MessageIcon::kInformation);
    Urls again;
    EXPECT_EQ(LoadMultiUrlFile(path, again), 2);
    EXPECT_EQ(again, list);
}

TEST(MultiUrlListTest, RemovalAsksWithTheUrlAsText) {
    ScriptedUserInterface ui;
    Urls list = {"http://h/a", "http://h/b"};
    ui.answers = {DialogResult::kOk};
    EXPECT_EQ(RemoveListEntry(ui, list, 1, false), "http://h/b");
    EXPECT_EQ(list, Urls{"http://h/a"});
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "http://h/b");
    EXPECT_EQ(ui.messages[0].caption, "ﾘｽﾄから削除しますか？");
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::kQuestion);
}

}  // namespace
}  // namespace kelvra::app
