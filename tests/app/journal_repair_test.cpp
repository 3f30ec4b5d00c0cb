// Start-up after a run that did not end normally: the journal kelvra.log.tmp is still there
// and its records are brought back into the store.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "app/shutdown.h"
#include "app/startup.h"
#include "app/startup_store_fixture.h"

namespace kelvra::app {
namespace {

using testing::DataDirectoryTest;

constexpr char kOld[] = "Mon, 01 Jan 2024 00:00:00 GMT";
constexpr char kNew[] = "Tue, 02 Jan 2024 00:00:00 GMT";

// A response header as a commit journals it.
std::string Header(const std::string& last_modified) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nLast-Modified: " + last_modified +
           "\r\nContent-Length: 5\r\n";
}

constexpr char kRepairText[] =
    "履歴情報が不足していると思われるため\n前回の取得ﾛｸﾞより履歴情報を補います";
constexpr char kRepairCaption[] = "前回ﾌﾟﾛｸﾞﾗﾑが異常終了した可能性があります";
constexpr char kFailedText[] = "取得ﾛｸﾞが異常です";
constexpr char kFailedCaption[] = "履歴情報修復の失敗";

class JournalRepair : public DataDirectoryTest {};

TEST_F(JournalRepair, WithoutJournalNothingIsShownOrMarked) {
    WriteFile("kelvra.hif", Record("h/a.html", std::string("LM:") + kOld + "\n"));
    auto store = NewStore();
    LoadHeaderInformation(ui_, *store);
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(LastModified(*store, "http://h/a.html"), kOld);
    EXPECT_FALSE(store->Changed());
}

TEST_F(JournalRepair, JournalRecordsReplaceOlderOnesAndAddMissingOnes) {
    WriteFile("kelvra.hif", Record("h/a.html", std::string("LM:") + kOld + "\n") +
                                Record("h/keep.html", std::string("LM:") + kOld + "\n"));
    // a.html was fetched again, b.html first, c.html failed; the last commit of b.html wins.
    WriteFile("kelvra.log.tmp",
              Record("h/a.html", Header(kNew)) + Record("h/b.html", Header(kOld)) +
                  Record("h/c.html", Header(kNew), false) + Record("h/b.html", Header(kNew)));
    auto store = NewStore();
    LoadHeaderInformation(ui_, *store);

    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text, kRepairText);
    EXPECT_EQ(ui_.messages[0].caption, kRepairCaption);
    EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kExclamation);
    EXPECT_EQ(LastModified(*store, "http://h/a.html"), kNew) << "the newer commit is kept";
    EXPECT_EQ(LastModified(*store, "http://h/b.html"), kNew) << "the last commit wins";
    EXPECT_EQ(LastModified(*store, "http://h/keep.html"), kOld);
    EXPECT_EQ(store->FindRecord("http://h/c.html"), nullptr) << "a failed fetch adds nothing";
    EXPECT_TRUE(store->Changed()) << "the next exit writes kelvra.hif";
}

TEST_F(JournalRepair, TheNextFastExitWritesTheRepairedStoreAndRotatesTheJournal) {
    const std::string journal = Record("h/b.html", Header(kNew));
    WriteFile("kelvra.hif", Record("h/a.html", std::string("LM:") + kOld + "\n"));
    WriteFile("kelvra.log.tmp", journal);
    {
        auto store = NewStore();
        LoadHeaderInformation(ui_, *store);
        EXPECT_TRUE(SaveHeaderInformation(ui_, *store, true));
    }
    EXPECT_FALSE(Exists("kelvra.log.tmp"));
    EXPECT_EQ(ReadFile("kelvra.log"), journal) << "the journal of the last run";

    testing::ScriptedUserInterface again;
    auto store = NewStore();
    LoadHeaderInformation(again, *store);
    EXPECT_TRUE(again.messages.empty()) << "no repair after a normal end";
    EXPECT_EQ(LastModified(*store, "http://h/a.html"), kOld);
    EXPECT_EQ(LastModified(*store, "http://h/b.html"), kNew);
}

TEST_F(JournalRepair, AJournalWithoutACompleteRecordIsReported) {
    struct Case {
        std::string journal;
        const char* why;
    };
    const std::vector<Case> cases = {
        {Record("h/a.html", Header(kNew), false), "only a failed fetch"},
        {"h/a.html\nHTTP/1.1 200 OK\r\nLast-Modified: x", "cut inside its first record"},
        {"", "empty"},
    };
    for (const Case& row : cases) {
        testing::ScriptedUserInterface ui;
        WriteFile("kelvra.log.tmp", row.journal);
        auto store = NewStore();
        LoadHeaderInformation(ui, *store);
        ASSERT_EQ(ui.messages.size(), 2u) << row.why;
        EXPECT_EQ(ui.messages[0].caption, kRepairCaption) << row.why;
        EXPECT_EQ(ui.messages[1].text, kFailedText) << row.why;
        EXPECT_EQ(ui.messages[1].caption, kFailedCaption) << row.why;
        EXPECT_EQ(ui.messages[1].icon, MessageIcon::kStop) << row.why;
        EXPECT_FALSE(store->Changed()) << row.why;
    }
}

TEST_F(JournalRepair, AJournalCutByAKilledRunKeepsTheRecordsBeforeTheCut) {
    WriteFile("kelvra.log.tmp", Record("h/a.html", Header(kNew)) +
                                    Record("h/b.html", Header(kNew)) +
                                    "h/c.html\nHTTP/1.1 200 OK\r\nLast-Mod");
    auto store = NewStore();
    LoadHeaderInformation(ui_, *store);
    ASSERT_EQ(ui_.messages.size(), 2u);
    EXPECT_EQ(ui_.messages[1].text, kFailedText) << "the journal is damaged";
    EXPECT_EQ(LastModified(*store, "http://h/a.html"), kNew);
    EXPECT_EQ(LastModified(*store, "http://h/b.html"), kNew);
    EXPECT_TRUE(store->Changed()) << "the recovered records are written at the next exit";
    EXPECT_TRUE(SaveHeaderInformation(ui_, *store, true));
    EXPECT_NE(ReadFile("kelvra.hif").find("h/b.html\n"), std::string::npos);
}

TEST_F(JournalRepair, ABrokenHeaderFileIsReportedWithItsCodeAndTheJournalIsLeftAlone) {
    WriteFile("kelvra.hif", Record("h/a.html", std::string("LM:") + kOld + "\n") +
                                "h/b.html\nLM:" + kOld);  // the last record lacks its NUL
    WriteFile("kelvra.log.tmp", Record("h/c.html", Header(kNew)));
    auto store = NewStore();
    LoadHeaderInformation(ui_, *store);
    ASSERT_EQ(ui_.messages.size(), 2u) << "the warning, then where the file was kept";
    EXPECT_EQ(ui_.messages[0].text,
              "速やかに「高速終了」し、履歴情報を確認してください\n(code = -1)");
    EXPECT_EQ(ui_.messages[0].caption, "履歴情報ﾌｧｲﾙ kelvra.hif が壊れている可能性があります");
    EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kExclamation);
    EXPECT_EQ(LastModified(*store, "http://h/a.html"), kOld);
    EXPECT_EQ(store->FindRecord("http://h/c.html"), nullptr);
}

TEST_F(JournalRepair, AHeaderFileBrokenAtItsFirstRecordIsReportedAndKept) {
    // The first record is longer than the reader accepts: nothing loads, the count stays 0.
    const std::string broken = "h/" + std::string(4100, 'k') + "\nCT:x/y\n" + std::string(1, '\0') +
                               Record("h/b.html", std::string("LM:") + kOld + "\n");
    WriteFile("kelvra.hif", broken);
    auto store = NewStore();
    LoadHeaderInformation(ui_, *store);
    ASSERT_EQ(ui_.messages.size(), 2u);
    EXPECT_EQ(ui_.messages[0].text,
              "速やかに「高速終了」し、履歴情報を確認してください\n(code = 0)");
    EXPECT_EQ(ui_.messages[1].text,
              "読み込めなかった kelvra.hif は " + data_ + "kelvra.hif.broken として残しました");
    EXPECT_EQ(ui_.messages[1].caption, "履歴情報ﾌｧｲﾙ kelvra.hif が壊れている可能性があります");
    store->Add("http://h/new.html", "CT:text/html\n", true);
    store->SetChanged(true);
    EXPECT_TRUE(SaveHeaderInformation(ui_, *store, true));
    EXPECT_EQ(ReadFile("kelvra.hif.broken"), broken) << "what the save replaced is still there";
    EXPECT_NE(ReadFile("kelvra.hif").find("h/new.html\n"), std::string::npos);
}

TEST_F(JournalRepair, AFifoInPlaceOfAHistoryFileDoesNotHoldUpStartUp) {
    struct Row {
        const char* name;
        std::size_t messages;  // a journal that cannot be read is reported as damaged
    };
    for (const auto& [name, messages] : {Row{"kelvra.hif", 0}, Row{"kelvra.log.tmp", 2}}) {
        testing::ScriptedUserInterface ui;
        const std::string fifo = data_ + name;
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << name;
        auto store = NewStore();
        auto loading = std::async(std::launch::async, [&] { LoadHeaderInformation(ui, *store); });
        const bool returned =
            loading.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        // A reader stuck in open(2) is released by a writer that comes and goes.
        while (!returned &&
               loading.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
        EXPECT_TRUE(returned) << name;
        EXPECT_EQ(ui.messages.size(), messages) << name;
        ::unlink(fifo.c_str());
    }
}

}  // namespace
}  // namespace kelvra::app
