// Saving kelvra.hif at shutdown: fast and tidy exits, the journal rotation, and a failed save.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "app/shutdown.h"
#include "app/startup.h"
#include "app/startup_store_fixture.h"

namespace kelvra::app {
namespace {

using testing::DataDirectoryTest;

class ShutdownSave : public DataDirectoryTest {
  protected:
    // kelvra.hif with a.html and b.html; only a.html has its data file.
    std::unique_ptr<store::headerlistex> StoreWithOneFileDeleted() {
        WriteFile("kelvra.hif",
                  Record("h/a.html", "CT:text/plain\n") + Record("h/b.html", "CT:text/plain\n"));
        auto store = NewStore();
        EXPECT_EQ(store->Load("kelvra.hif"), 2);
        EXPECT_EQ(::mkdir((data_ + "h").c_str(), 0755), 0);
        std::string path;
        EXPECT_TRUE(store->GetUrlLocalPath("http://h/a.html", path));
        EXPECT_EQ(path, data_ + "h/a.html");
        WriteFile("h/a.html", "hello");
        return store;
    }
};

TEST_F(ShutdownSave, FastExitWithoutChangeWritesNothing) {
    auto store = StoreWithOneFileDeleted();
    const std::string before = ReadFile("kelvra.hif");
    WriteFile("kelvra.log.tmp", Record("h/x", "", false));
    EXPECT_TRUE(SaveHeaderInformation(ui_, *store, true));
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(ReadFile("kelvra.hif"), before);
    EXPECT_TRUE(Exists("kelvra.log.tmp")) << "nothing saved, nothing rotated";
    EXPECT_FALSE(Exists("kelvra.hif.tmp"));
}

TEST_F(ShutdownSave, FastExitKeepsRecordsWhoseFilesAreGone) {
    auto store = StoreWithOneFileDeleted();
    store->SetChanged(true);
    EXPECT_TRUE(SaveHeaderInformation(ui_, *store, true));
    const std::string saved = ReadFile("kelvra.hif");
    EXPECT_NE(saved.find("h/a.html\n"), std::string::npos);
    EXPECT_NE(saved.find("h/b.html\n"), std::string::npos);
    EXPECT_FALSE(store->Changed());
}

TEST_F(ShutdownSave, TidyExitAlwaysWritesAndDropsRecordsWhoseFilesAreGone) {
    auto store = StoreWithOneFileDeleted();
    EXPECT_TRUE(SaveHeaderInformation(ui_, *store, false));
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(ReadFile("kelvra.hif"), Record("h/a.html", "CT:text/plain\n"));
}

TEST_F(ShutdownSave, TheJournalTakesItsNameOnlyAfterASuccessfulSave) {
    auto store = StoreWithOneFileDeleted();
    const std::string journal = Record("h/a.html", "HTTP/1.1 200 OK\nContent-Type: text/plain\n");
    WriteFile("kelvra.log", "older run");
    WriteFile("kelvra.log.tmp", journal);
    store->SetChanged(true);
    EXPECT_TRUE(SaveHeaderInformation(ui_, *store, true));
    EXPECT_EQ(ReadFile("kelvra.log"), journal);
    EXPECT_FALSE(Exists("kelvra.log.tmp"));
}

TEST_F(ShutdownSave, ASaveThatCannotWriteIsReportedAndLeavesTheFilesForTheNextStart) {
    auto store = StoreWithOneFileDeleted();
    const std::string before = ReadFile("kelvra.hif");
    WriteFile("kelvra.log.tmp", Record("h/a.html", "HTTP/1.1 200 OK\n"));
    // A directory in the way of the temporary file: it cannot be created, even by root.
    ASSERT_EQ(::mkdir((data_ + "kelvra.hif.tmp").c_str(), 0755), 0);
    store->SetChanged(true);
    EXPECT_FALSE(SaveHeaderInformation(ui_, *store, true));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text, "履歴情報の保存に失敗しました");
    EXPECT_EQ(ui_.messages[0].caption, "kelvra.hif 保存ｴﾗｰ");
    EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kStop);
    EXPECT_EQ(ReadFile("kelvra.hif"), before);
    EXPECT_TRUE(Exists("kelvra.log.tmp"));
}

}  // namespace
}  // namespace kelvra::app
