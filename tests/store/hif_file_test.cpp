// kelvra.hif and journal files: loading, saving byte for byte, and failure behaviour.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <string>
#include <vector>

#include "store/headerlistex.h"
#include "store/store_test_util.h"

namespace kelvra::store {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using namespace std::string_literals;

class HifFile : public ::testing::Test {
  protected:
    headerlistex& Store() {
        if (!store_)
            store_ = std::make_unique<headerlistex>(dir_.path(), "index.html", "kelvra.log", "");
        return *store_;
    }
    std::string Text(std::string_view key) {
        const treelistnode* node = Store().FindKey(key);
        const char* text = node ? node->value().text() : nullptr;
        return text ? text : "";
    }

    TempDir dir_;
    std::unique_ptr<headerlistex> store_;
};

TEST_F(HifFile, LoadsRecordsTerminatedByNul) {
    WriteFile(dir_ / "kelvra.hif", "h/a.html\nCT:text/html\nLM:d\n\0h/b.html\nXR:404\n\0"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), 2);
    EXPECT_EQ(Text("h/a.html"), "CT:text/html\nLM:d\n");
    EXPECT_EQ(Text("h/b.html"), "XR:404\n");
}

TEST_F(HifFile, EmptyLineSeparatesLikeNul) {
    WriteFile(dir_ / "kelvra.hif", "h/a\nCT:x/y\n\nh/b\nCE:gzip\n\n"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), 2);
    EXPECT_EQ(Text("h/a"), "CT:x/y\n");
    EXPECT_EQ(Text("h/b"), "CE:gzip\n");
}

TEST_F(HifFile, CarriageReturnsAndLeadingBlanksAreIgnored) {
    WriteFile(dir_ / "kelvra.hif", " \r\n\t h/a\r\nCT:x/y\r\n\0\r\n\0h/b\r\n\0"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), 2);
    EXPECT_EQ(Text("h/a"), "CT:x/y\n");
    EXPECT_TRUE(Store().HasRecord(Store().FindKey("h/b")));
}

TEST_F(HifFile, MissingLastNulKeepsRecordsAndReportsBreak) {
    WriteFile(dir_ / "kelvra.hif", "h/a\nCT:x/y\n\0h/b\nCT:x/z\n"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), -1);
    EXPECT_EQ(Text("h/a"), "CT:x/y\n");
    EXPECT_EQ(Store().FindKey("h/b"), nullptr);
}

TEST_F(HifFile, BreakWithNothingCountedStaysZeroButIsKnown) {
    WriteFile(dir_ / "kelvra.hif", "h/a\nCT:x"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), 0);
    EXPECT_TRUE(Store().LoadStoppedEarly("kelvra.hif"));
}

TEST_F(HifFile, MissingFileLoadsNothing) {
    EXPECT_EQ(Store().Load("kelvra.hif"), 0);
    EXPECT_FALSE(Store().LoadStoppedEarly("kelvra.hif"));
}

TEST_F(HifFile, SavingOverAFileWhoseLoadStoppedKeepsThatFileUnderItsOwnName) {
    // Every save of a store loaded from a broken file keeps the broken file first, under a
    // name never taken before: the records after each break are still in it.
    const std::vector<std::string> broken = {"h/a\nCT:x/y\n\0h/b\nCT:x"s, "h/c\nCT:x"s};
    const std::vector<std::string> kept = {"kelvra.hif.broken", "kelvra.hif.broken2"};
    for (std::size_t i = 0; i < broken.size(); ++i) {
        WriteFile(dir_ / "kelvra.hif", broken[i]);
        headerlistex store(dir_.path(), "index.html", std::nullopt, "");
        static_cast<void>(store.Load("kelvra.hif"));  // broken on purpose; LoadStoppedEarly tells
        store.Add("http://h/new", "CT:x/y\n", true);
        store.SetChanged(true);
        EXPECT_GT(store.Save("kelvra.hif", true), 0);
        EXPECT_EQ(ReadFile(dir_ / kept[i]), broken[i]);
        EXPECT_NE(ReadFile(dir_ / "kelvra.hif").find("h/new\n"), std::string::npos);
        EXPECT_FALSE(store.LoadStoppedEarly("kelvra.hif"));
    }
    EXPECT_EQ(ReadFile(dir_ / kept[0]), broken[0]) << "an earlier copy is never replaced";
}

TEST_F(HifFile, ARecordTooLongForTheReaderIsShortenedAndTheNextLoadReadsEverything) {
    // Key and text each within their limits, together past what the reader accepts.
    const std::string key = "h/" + std::string(1500, 'k');
    Store().Add("http://" + key,
                "HTTP/1.1 302 Found\r\nLocation: http://h/" + std::string(2600, 'l') +
                    "\r\nContent-Type: text/html\r\nXRange: 5\r\n",
                true);
    Store().Add("http://a/x", "CT:x/y\n", true);
    Store().Add("http://z/y", "CT:x/y\n", true);
    Store().SetChanged(true);
    ASSERT_EQ(Store().Save("kelvra.hif", true), 3);
    headerlistex again(dir_.path(), "index.html", std::nullopt, "");
    EXPECT_EQ(again.Load("kelvra.hif"), 3);
    const treelistnode* node = again.FindKey(key);
    ASSERT_NE(node, nullptr);
    ASSERT_NE(node->value().text(), nullptr);
    // The longest line gave way; the partial mark stays.
    EXPECT_EQ(std::string(node->value().text()), "XR:302\nCT:text/html\nXRange:5\n");
}

TEST_F(HifFile, FirstRecordOfAKeyWins) {
    WriteFile(dir_ / "kelvra.hif", "h/a\nCT:one/x\n\0h/a\nCT:two/x\n\0"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), 2);
    EXPECT_EQ(Text("h/a"), "CT:one/x\n");
}

TEST_F(HifFile, FailedFetchesAndKeylessRecordsAreSkipped) {
    WriteFile(dir_ / "kelvra.hif", "#h/a\nCT:x/y\n\0nolf\0h/b\nCT:x/y\n\0"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), 1);
    EXPECT_EQ(Store().FindKey("h/a"), nullptr);
    EXPECT_TRUE(Store().HasRecord(Store().FindKey("h/b")));
}

TEST_F(HifFile, OverLongKeysAndTextsAreSkipped) {
    const std::string long_key = "h/" + std::string(2046, 'k');    // 2048 characters
    const std::string long_text = "CT:" + std::string(4093, 't');  // 4096 with its LF
    WriteFile(dir_ / "kelvra.hif",
              long_key + "\nCT:x/y\n\0"s + "h/t\n" + long_text + "\n\0"s + "h/ok\nCT:x/y\n\0"s);
    // The record of 4101 characters is longer than the reader accepts: the load breaks there.
    EXPECT_EQ(Store().Load("kelvra.hif"), 0);
    EXPECT_EQ(Store().FindKey(long_key), nullptr);
    EXPECT_EQ(Store().FindKey("h/ok"), nullptr);
}

TEST_F(HifFile, KeyOfMaximumLengthIsSkippedButLoadGoesOn) {
    const std::string long_key = "h/" + std::string(2046, 'k');
    WriteFile(dir_ / "kelvra.hif", long_key + "\nCT:x/y\n\0"s + "h/ok\nCT:x/y\n\0"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), 1);
    EXPECT_EQ(Store().FindKey(long_key), nullptr);
    EXPECT_NE(Store().FindKey("h/ok"), nullptr);
}

TEST_F(HifFile, RecordOfReaderLimitLoadsOneMoreBreaks) {
    // 4095 stored characters are accepted, 4096 are not.
    const std::string text = "LO:" + std::string(4087, 'x') + "\n";
    const std::string fits = "h/f\n" + text;
    ASSERT_EQ(fits.size(), 4095u);
    WriteFile(dir_ / "kelvra.hif", fits + "\0"s + "h/g\n" + "x" + text + "\0"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), -1);
    EXPECT_NE(Store().FindKey("h/f"), nullptr);
    EXPECT_EQ(Store().FindKey("h/g"), nullptr);
}

TEST_F(HifFile, AKeyThatLoadsDeeperThanTheTreeHoldsIsNotWritten) {
    // Loading normalises a key again: an entity left by the first pass becomes a '/' then.
    std::string deep = "h";
    for (int i = 0; i < 62; ++i) deep += "/d";
    WriteFile(dir_ / "kelvra.hif", deep + "/a&amp;#47;b\nCT:x/y\n\0h/ok\nCT:x/y\n\0"s);
    ASSERT_EQ(Store().Load("kelvra.hif"), 2);
    Store().SetChanged(true);
    EXPECT_EQ(Store().Save("saved.hif", true), 1);
    headerlistex again(dir_.path(), "index.html", std::nullopt, "");
    EXPECT_EQ(again.Load("saved.hif"), 1);
}

TEST_F(HifFile, KeysDeeperThanTheTreeAreRefused) {
    std::string deep = "h";
    for (int i = 0; i < 80; ++i) deep += "/d";
    WriteFile(dir_ / "kelvra.hif", deep + "\nCT:x/y\n\0h/ok\nCT:x/y\n\0"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), 1);
    EXPECT_EQ(Store().FindKey(deep), nullptr);
    EXPECT_EQ(Store().Add("http://" + deep, "Content-type: x/y\n", true), nullptr);
}

TEST_F(HifFile, SaveWritesTheExactFormat) {
    Store().Add("http://h/b.html", "HTTP/1.1 404 Not Found\r\nContent-type: text/html\r\n", true);
    Store().Add("http://h/a/x.html", "CT:text/html\nLM:Sun, 06 Nov 1994 08:49:37 GMT\n", true);
    Store().Add("http://g/", "", true);  // a leaf without text
    Store().SetChanged(true);
    EXPECT_EQ(Store().Save("kelvra.hif", true), 3);
    // Parents before children, siblings in descending order.
    EXPECT_EQ(ReadFile(dir_ / "kelvra.hif"),
              "h/b.html\nXR:404\nCT:text/html\n\0"
              "h/a/x.html\nCT:text/html\nLM:Sun, 06 Nov 1994 08:49:37 GMT\n\0"
              "g/\n\0"s);
    EXPECT_FALSE(Exists(dir_ / "kelvra.hif.tmp"));
    EXPECT_FALSE(Store().Changed());
}

TEST_F(HifFile, LeafWithoutTextRoundTrips) {
    WriteFile(dir_ / "kelvra.hif", "h/empty\n\0"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), 1);
    const treelistnode* node = Store().FindKey("h/empty");
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->value().IsNone());
    EXPECT_TRUE(Store().HasRecord(node));
    Store().SetChanged(true);
    EXPECT_EQ(Store().Save("kelvra.hif", true), 1);
    EXPECT_EQ(ReadFile(dir_ / "kelvra.hif"), "h/empty\n\0"s);
}

TEST_F(HifFile, QuickSaveWithoutChangesWritesNothing) {
    WriteFile(dir_ / "kelvra.hif", "h/a\nCT:x/y\n\0"s);
    Store().Load("kelvra.hif");
    EXPECT_EQ(Store().Save("kelvra.hif", true), 0);
    EXPECT_FALSE(Exists(dir_ / "kelvra.hif.tmp"));
}

TEST_F(HifFile, FullSaveDropsRecordsWithoutFiles) {
    WriteFile(dir_ / "h/there.html", "x");
    Store().Add("http://h/there.html", "CT:text/html\n", true);
    Store().Add("http://h/gone.html", "CT:text/html\n", true);
    EXPECT_EQ(Store().Save("kelvra.hif", false), 1);
    EXPECT_EQ(ReadFile(dir_ / "kelvra.hif"), "h/there.html\nCT:text/html\n\0"s);
}

TEST_F(HifFile, SaveRotatesTheJournal) {
    WriteFile(dir_ / "kelvra.log.tmp", "journal");
    WriteFile(dir_ / "kelvra.log", "older");
    Store().Add("http://h/a", "CT:x/y\n", true);
    Store().SetChanged(true);
    EXPECT_EQ(Store().Save("kelvra.hif", true), 1);
    EXPECT_FALSE(Exists(dir_ / "kelvra.log.tmp"));
    EXPECT_EQ(ReadFile(dir_ / "kelvra.log"), "journal");
}

TEST_F(HifFile, FailingWriteLeavesOldFileAndJournal) {
    WriteFile(dir_ / "kelvra.hif", "h/old\n\0"s);
    WriteFile(dir_ / "kelvra.log.tmp", "journal");
    Store().Add("http://h/a", "CT:x/y\n", true);
    Store().SetChanged(true);
    // Files may not grow beyond one byte: writing the temporary file fails.
    struct rlimit old_limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    struct sigaction ignore {};
    struct sigaction old_action {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &old_action);
    struct rlimit tiny = old_limit;
    tiny.rlim_cur = 1;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const long saved = Store().Save("kelvra.hif", true);
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    ::sigaction(SIGXFSZ, &old_action, nullptr);
    EXPECT_LT(saved, 0);
    EXPECT_EQ(ReadFile(dir_ / "kelvra.hif"), "h/old\n\0"s);
    EXPECT_EQ(ReadFile(dir_ / "kelvra.log.tmp"), "journal");
    EXPECT_FALSE(Exists(dir_ / "kelvra.log"));
    EXPECT_TRUE(Store().Changed());
}

TEST_F(HifFile, UncreatableTemporaryFileDoesNothing) {
    std::filesystem::create_directory(dir_ / "kelvra.hif.tmp");
    Store().Add("http://h/a", "CT:x/y\n", true);
    Store().SetChanged(true);
    EXPECT_EQ(Store().Save("kelvra.hif", true), 0);
    EXPECT_TRUE(Store().Changed());
}

TEST_F(HifFile, JournalRepairAddsOnlyMissingKeys) {
    WriteFile(dir_ / "kelvra.hif", "h/a\nCT:main/x\n\0"s);
    // A journal holds raw headers with CR LF and their blank line, and failed fetches.
    WriteFile(dir_ / "kelvra.log.tmp",
              "h/a\nHTTP/1.1 200 OK\r\nContent-type: journal/x\r\n\r\n\0"
              "h/b\nHTTP/1.1 200 OK\r\nContent-type: journal/y\r\n\r\n\0"
              "#h/c\nHTTP/1.1 500 Oops\r\n\r\n\0"s);
    EXPECT_EQ(Store().Load("kelvra.hif"), 1);
    EXPECT_EQ(Store().Load("kelvra.log.tmp"), 2);
    EXPECT_EQ(Text("h/a"), "CT:main/x\n");
    EXPECT_EQ(Text("h/b"), "CT:journal/y\n");
    EXPECT_EQ(Store().FindKey("h/c"), nullptr);
}

TEST_F(HifFile, SaveAndLoadRoundTripManyRecords) {
    for (int i = 0; i < 500; ++i) {
        Store().Add("http://h" + std::to_string(i % 7) + "/d" + std::to_string(i % 13) + "/p" +
                        std::to_string(i) + ".html?q=" + std::to_string(i) + "/z",
                    "CT:text/html\nLM:x\n", true);
    }
    Store().SetChanged(true);
    ASSERT_EQ(Store().Save("kelvra.hif", true), 500);
    const std::string first = ReadFile(dir_ / "kelvra.hif");
    headerlistex again(dir_.path(), "index.html", std::nullopt, "");
    EXPECT_EQ(again.Load("kelvra.hif"), 500);
    again.SetChanged(true);
    ASSERT_EQ(again.Save("kelvra.hif", true), 500);
    EXPECT_EQ(ReadFile(dir_ / "kelvra.hif"), first);
}

}  // namespace
}  // namespace kelvra::store
