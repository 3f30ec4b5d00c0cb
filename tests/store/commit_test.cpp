// Committing fetched responses: local names, completeness, resume, update checks, journal.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

#include <string>

#include "store/headerlistex.h"
#include "store/store_names.h"
#include "store/store_record.h"
#include "store/store_test_util.h"
#include "util/crc32.h"
#include "util/fileutil.h"
#include "util/header.h"

namespace kelvra::store {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using namespace std::string_literals;

class CommitTest : public ::testing::Test {
  protected:
    CommitTest() {
        WriteFile(dir_ / "kelvra.mtf", "html text/html\ngif image/gif\ntxt text/plain\n");
        store_ = std::make_unique<headerlistex>(dir_.path(), "index.html", "kelvra.log",
                                                dir_ / "kelvra.mtf");
    }

    // Writes a response file and commits it; the record text, or "(none)".
    CommitResult Commit(const std::string& url, const std::string& header, const std::string& body,
                        std::int64_t announced = -1, unsigned flags = 0,
                        std::string* header_text = nullptr) {
        const std::string response = responses_ / ("r" + std::to_string(++count_));
        WriteFile(response, header + body + tail_);
        ReceivedObject job;
        if (!tail_.empty()) job.response_length = static_cast<std::int64_t>(header.size() + body.size());
        job.header_length = static_cast<std::int64_t>(header.size());
        job.content_length = announced;
        job.stop = stop_;
        const Committed committed = store_->Commit(url, response, job, flags);
        last_node_ = committed.record;
        if (header_text) *header_text = job.header_text;
        return committed.result;
    }
    std::string Record(const std::string& url) {
        const treelistnode* node = store_->FindRecord(url);
        if (!node) return "(none)";
        return node->value().text() ? node->value().text() : "";
    }
    std::string LocalPath(const std::string& url) {
        std::string path;
        store_->GetUrlLocalPath(url, path);
        return path;
    }

    TempDir dir_;
    TempDir responses_;
    std::unique_ptr<headerlistex> store_;
    treelistnode* last_node_ = nullptr;
    int count_ = 0;
    StopCheck stop_;
    // Bytes of an earlier, longer response left in the response file after this one.
    std::string tail_;
};

const std::string kHtml = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";

std::string XfName(const std::string& record) {
    return std::string(util::FindHeader(record, "XF:"));
}

TEST_F(CommitTest, StoresUnderTheNameOfTheKey) {
    EXPECT_EQ(Commit("http://h/d/a.html", kHtml, "<p>a</p>"), CommitResult::Stored);
    EXPECT_EQ(ReadFile(dir_ / "h/d/a.html"), "<p>a</p>");
    EXPECT_EQ(Record("http://h/d/a.html"), "");  // text/html agrees with .html: no CT line
    EXPECT_NE(last_node_, nullptr);
    EXPECT_TRUE(store_->Changed());
}

TEST_F(CommitTest, HostOnlyKeyGetsIndexFileAndName) {
    EXPECT_EQ(Commit("http://h", kHtml, "root"), CommitResult::Stored);
    EXPECT_EQ(ReadFile(dir_ / "h/index.html"), "root");
    // The key has no extension to take the type from, so the CT line stays.
    EXPECT_EQ(Record("http://h/"), "CT:text/html\nXF:h/index.html\n");
}

TEST_F(CommitTest, QueryGetsGeneratedNameAndKeepsIt) {
    EXPECT_EQ(Commit("http://h/dir/x.cgi?a=1", kHtml, "one"), CommitResult::Stored);
    const std::string record = Record("http://h/dir/x.cgi?a=1");
    const std::string name = XfName(record);
    ASSERT_TRUE(name.starts_with("h/dir/x.cgi.")) << record;
    EXPECT_EQ(name.size(), std::string("h/dir/x.cgi.").size() + 6 + 5);
    EXPECT_TRUE(name.ends_with(".html"));
    EXPECT_EQ(ReadFile(dir_ / name), "one");
    // Fetching again writes the same file (the carried-over name).
    EXPECT_EQ(Commit("http://h/dir/x.cgi?a=1", kHtml, "two"), CommitResult::Stored);
    EXPECT_EQ(Record("http://h/dir/x.cgi?a=1"), record);
    EXPECT_EQ(ReadFile(dir_ / name), "two");
}

TEST_F(CommitTest, ShortBodyIsPartialAndResumeCompletesIt) {
    const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n";
    EXPECT_EQ(Commit("http://h/p.gif", header, "12345", 10), CommitResult::Partial);
    EXPECT_EQ(Record("http://h/p.gif"), "XRange:5\n");
    const std::string resume = "HTTP/1.1 206 Partial Content\r\nContent-Type: image/gif\r\n\r\n";
    EXPECT_EQ(Commit("http://h/p.gif", resume, "678", 5, CommitFlags::Resume),
              CommitResult::Partial);
    EXPECT_EQ(Record("http://h/p.gif"), "XR:206\nXRange:8\n");
    EXPECT_EQ(Commit("http://h/p.gif", resume, "90", 2, CommitFlags::Resume), CommitResult::Stored);
    EXPECT_EQ(Record("http://h/p.gif"), "XR:206\n");
    EXPECT_EQ(ReadFile(dir_ / "h/p.gif"), "1234567890");
}

// A stop ends the copy of a body out of the response file after a block: the start that was
// copied stays as a partial object. A resumed part is kept only whole.
TEST_F(CommitTest, StopEndsTheCopyOfTheBody) {
    stop_ = [] { return true; };
    const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n";
    const std::string body(9 << 20, 'b');  // more than one block of either copy
    const auto length = static_cast<std::int64_t>(body.size());
    EXPECT_EQ(Commit("http://h/p.gif", header, body, length), CommitResult::Partial);
    const std::int64_t kept = util::FileSize(LocalPath("http://h/p.gif"));
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, length);
    EXPECT_EQ(Record("http://h/p.gif"), "XRange:" + std::to_string(kept) + "\n");
    const std::string resume = "HTTP/1.1 206 Partial Content\r\nContent-Type: image/gif\r\n\r\n";
    EXPECT_EQ(Commit("http://h/p.gif", resume, body, length, CommitFlags::Resume),
              CommitResult::Failed);
}

TEST_F(CommitTest, ResumeWithoutRecordFails) {
    EXPECT_EQ(Commit("http://h/p.gif", kHtml, "x", -1, CommitFlags::Resume), CommitResult::Failed);
    EXPECT_EQ(last_node_, nullptr);
    EXPECT_EQ(Record("http://h/p.gif"), "(none)");
}

TEST_F(CommitTest, LongerBodyIsCutToAnnouncedLength) {
    EXPECT_EQ(Commit("http://h/a.txt", "HTTP/1.0 200 OK\r\n\r\n", "0123456789", 4),
              CommitResult::Stored);
    EXPECT_EQ(ReadFile(dir_ / "h/a.txt"), "0123");
}

// A response file reused for a shorter response still holds the tail of the last one: no way of
// storing the body takes any of it.
TEST_F(CommitTest, BytesPastTheResponseLengthAreNeverStored) {
    const std::string dated = "HTTP/1.1 200 OK\r\nLast-Modified: Mon, 01 Jan 2024 00:00:00 GMT\r\n\r\n";
    const std::string partial = "HTTP/1.1 206 Partial Content\r\n\r\n";
    const struct {
        const char* what;
        std::string header;
        std::string first;  // stored before, without a tail
        std::int64_t announced;
        unsigned flags;
        CommitResult result;
        std::string stored;
    } cases[] = {
        {"new file", dated, "", -1, 0, CommitResult::Stored, "body"},
        {"announced length", dated, "", 4, 0, CommitResult::Stored, "body"},
        {"replaces a stored copy", dated, "old", -1, 0, CommitResult::Stored, "body"},
        {"same as the stored copy", kHtml, "body", -1, 0, CommitResult::Unchanged, "body"},
        {"differs from the stored copy", kHtml, "bod", -1, 0, CommitResult::Stored, "body"},
        {"resumed", partial, "12", -1, CommitFlags::Resume, CommitResult::Stored, "12body"},
        // a backup is made only of a copy that differs
        {"kept old version", dated, "body", -1, CommitFlags::KeepOldVersion, CommitResult::Stored,
         "body"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string url = "http://h/t" + std::to_string(++n) + ".html";
        if (!c.first.empty()) {
            tail_.clear();
            ASSERT_EQ(Commit(url, c.header == partial ? kHtml : c.header, c.first),
                      CommitResult::Stored);
        }
        tail_ = "TAIL OF AN EARLIER RESPONSE";
        EXPECT_EQ(Commit(url, c.header, "body", c.announced, c.flags), c.result);
        EXPECT_EQ(ReadFile(LocalPath(url)), c.stored);
    }
    const auto files = std::distance(std::filesystem::directory_iterator(dir_ / "h"),
                                     std::filesystem::directory_iterator());
    EXPECT_EQ(files, std::ssize(cases));
}

// Whatever already holds the key's name, the body lands in a regular file and nothing there
// is opened: a FIFO would keep the commit waiting for a reader.
TEST_F(CommitTest, NameThatIsTakenByANonFileGetsGeneratedName) {
    const struct {
        const char* what;
        bool (*make)(const std::string&);
        bool (*still_there)(const std::string&);
    } cases[] = {
        {"directory",
         [](const std::string& p) { return std::filesystem::create_directories(p + "/sub"); },
         [](const std::string& p) { return std::filesystem::is_directory(p); }},
        {"fifo", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; },
         [](const std::string& p) { return std::filesystem::is_fifo(p); }},
    };
    std::filesystem::create_directories(dir_ / "h");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string url = "http://h/"s + c.what;
        const std::string at = dir_ / ("h/"s + c.what);
        ASSERT_TRUE(c.make(at));
        EXPECT_EQ(Commit(url, kHtml, "page"), CommitResult::Stored);
        const std::string name = XfName(Record(url));
        ASSERT_TRUE(name.starts_with("h/") && name.ends_with(".html")) << name;
        EXPECT_EQ(name.size(), 2u + 6 + 5);
        EXPECT_EQ(ReadFile(dir_ / name), "page");
        EXPECT_TRUE(c.still_there(at));
    }
}

// The first open of the name fails with "not a directory": the file is stored beside it.
TEST_F(CommitTest, DirectoryThatIsTakenByAFileGetsGeneratedNameBesideIt) {
    WriteFile(dir_ / "h/blocked", "kept");
    EXPECT_EQ(Commit("http://h/blocked/page.html", kHtml, "page"), CommitResult::Stored);
    const std::string name = XfName(Record("http://h/blocked/page.html"));
    ASSERT_TRUE(name.starts_with("h/") && name.find('/', 2) == std::string::npos) << name;
    EXPECT_EQ(ReadFile(dir_ / name), "page");
    EXPECT_EQ(ReadFile(dir_ / "h/blocked"), "kept");
}

TEST_F(CommitTest, NewerBodyReplacesTheStoredFile) {
    EXPECT_EQ(Commit("http://h/r.txt", "HTTP/1.0 200 OK\r\n\r\n", "a longer old body"),
              CommitResult::Stored);
    EXPECT_EQ(Commit("http://h/r.txt", "HTTP/1.0 200 OK\r\n\r\n", "new"), CommitResult::Stored);
    EXPECT_EQ(ReadFile(dir_ / "h/r.txt"), "new");
    EXPECT_EQ(XfName(Record("http://h/r.txt")), "");
}

TEST_F(CommitTest, KeepOldVersionBacksUpChangedPage) {
    EXPECT_EQ(Commit("http://h/k.html", kHtml, "old\n"), CommitResult::Stored);
    const time_t mtime = 0x5f5e100;
    const utimbuf times{mtime, mtime};
    ASSERT_EQ(::utime((dir_ / "h/k.html").c_str(), &times), 0);
    // Same text (trailing blanks aside): no backup.
    EXPECT_EQ(Commit("http://h/k.html", kHtml + "Last-modified: x\r\n", "old  \n", -1,
                     CommitFlags::KeepOldVersion),
              CommitResult::Stored);
    EXPECT_FALSE(Exists(dir_ / "h/k_5f5e100.html"));
    ASSERT_EQ(::utime((dir_ / "h/k.html").c_str(), &times), 0);
    EXPECT_EQ(Commit("http://h/k.html", kHtml + "Last-modified: y\r\n", "new\n", -1,
                     CommitFlags::KeepOldVersion),
              CommitResult::Stored);
    EXPECT_EQ(ReadFile(dir_ / "h/k_5f5e100.html"), "old  \n");
    EXPECT_EQ(ReadFile(dir_ / "h/k.html"), "new\n");
}

TEST_F(CommitTest, BackupOfFileWithoutExtension) {
    const std::string bin = "HTTP/1.1 200 OK\r\nContent-Type: application/x-y\r\n\r\n";
    Commit("http://h/d/blob", bin, "a");
    const utimbuf times{0x10, 0x10};
    ASSERT_EQ(::utime((dir_ / "h/d/blob").c_str(), &times), 0);
    Commit("http://h/d/blob", bin, "b", -1, CommitFlags::KeepOldVersion);
    EXPECT_EQ(ReadFile(dir_ / "h/d/blob_10"), "a");
}

TEST_F(CommitTest, UnchangedPageWithoutDateWritesNothing) {
    EXPECT_EQ(Commit("http://h/u.html", kHtml, "line\r\n"), CommitResult::Stored);
    EXPECT_EQ(Commit("http://h/u.html", kHtml, "line\n"), CommitResult::Unchanged);
    EXPECT_EQ(ReadFile(dir_ / "h/u.html"), "line\r\n");
    EXPECT_EQ(Commit("http://h/u.html", kHtml, "other\n"), CommitResult::Stored);
}

TEST_F(CommitTest, HeadOnlyJudgesByDate) {
    const std::string dated =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nLast-Modified: Sun, 06 Nov 1994 "
        "08:49:37 GMT\r\n\r\n";
    EXPECT_EQ(Commit("http://h/h.html", dated, "body"), CommitResult::Stored);
    EXPECT_EQ(Commit("http://h/h.html", dated, "", -1, CommitFlags::HeadOnly),
              CommitResult::NotNewer);
    const std::string newer =
        "HTTP/1.1 200 OK\r\nLast-Modified: Mon, 07 Nov 1994 08:49:37 GMT\r\n\r\n";
    EXPECT_EQ(Commit("http://h/h.html", newer, "", -1, CommitFlags::HeadOnly),
              CommitResult::Partial);
    EXPECT_EQ(Commit("http://h/new.html", newer, "", -1, CommitFlags::HeadOnly),
              CommitResult::Partial);
    EXPECT_EQ(ReadFile(dir_ / "h/h.html"), "body");
}

TEST_F(CommitTest, MovedBodyGetsSuffix) {
    const std::string moved = "HTTP/1.1 302 Found\r\nLocation: http://h/n\r\n\r\n";
    EXPECT_EQ(Commit("http://h/m", moved, "moved", -1, CommitFlags::MovedBody),
              CommitResult::Stored);
    EXPECT_EQ(ReadFile(dir_ / "h/m.$mv"), "moved");
    EXPECT_EQ(Record("http://h/m"), "XR:302\nXF:h/m.$mv\nLO:http://h/n\n");
}

TEST_F(CommitTest, ChallengesAndNameCarryOver) {
    Commit("http://h/s/", "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"r\"\r\n\r\n", "");
    std::string header;
    Commit("http://h/s/", kHtml, "ok", -1, 0, &header);
    EXPECT_NE(header.find("\nWA:Basic realm=\"r\"\n"), std::string::npos) << header;
    EXPECT_EQ(Record("http://h/s/"), "CT:text/html\nXF:h/s/index.html\nWA:Basic realm=\"r\"\n");
}

TEST_F(CommitTest, SchemeLineForHttpsOnlyAndNeverFromTheServer) {
    Commit("https://h/s.html", kHtml, "s");
    EXPECT_EQ(Record("http://h/s.html"), "XS:https\n");
    headerlistex fresh(dir_.path(), "index.html", std::nullopt, dir_ / "kelvra.mtf");
    ASSERT_EQ(fresh.Load("kelvra.log.tmp"), 1);
    const treelistnode* loaded = fresh.FindRecord("https://h/s.html");
    ASSERT_NE(loaded, nullptr);
    EXPECT_STREQ(loaded->value().text(), "XS:https\n");
    // Fetched over http last: the line goes, whatever the server sends.
    Commit("http://h/s.html", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nXS: https\r\n\r\n",
           "t");
    EXPECT_EQ(Record("http://h/s.html"), "");
}

TEST_F(CommitTest, LongNamesAreReplaced) {
    const std::string url = "http://h/" + std::string(300, 'n') + ".html";
    EXPECT_EQ(Commit(url, kHtml, "long"), CommitResult::Stored);
    const std::string name = XfName(Record(url));
    ASSERT_FALSE(name.empty());
    EXPECT_LT(dir_.path().size() + name.size(), 256u);
    EXPECT_EQ(ReadFile(LocalPath(url)), "long");
}

TEST_F(CommitTest, UnreadableHeaderStoresNothing) {
    const std::string response = responses_ / "short";
    WriteFile(response, "HTTP/1.1");
    ReceivedObject job;
    job.header_length = 100;
    Committed committed = store_->Commit("http://h/x", response, job, 0);
    EXPECT_EQ(committed.record, nullptr);
    EXPECT_EQ(committed.result, CommitResult::Failed);
    job.header_length = 0;
    committed = store_->Commit("http://h/x", response, job, 0);
    EXPECT_EQ(committed.record, nullptr);
    EXPECT_EQ(committed.result, CommitResult::Failed);
}

TEST_F(CommitTest, JournalHasEveryCommitAtOnce) {
    const std::string journal = dir_ / "kelvra.log.tmp";
    Commit("http://h/j.html", kHtml, "x");
    // Readable right after the commit: nothing waits in a buffer.
    EXPECT_EQ(ReadFile(journal), "h/j.html\n" + kHtml + "\0"s);
    // A failed store is journalled with '#': every generated name for the query is taken.
    const std::string key = "h/q.cgi?x=1";
    for (std::uint32_t i = 0; i < 33; ++i) {
        WriteFile(
            dir_ / ("h/q.cgi." + Base36Seed(util::Crc32(key.data(), key.size()) + i) + ".html"),
            "");
    }
    EXPECT_EQ(Commit("http://" + key, kHtml, "y"), CommitResult::Failed);
    EXPECT_EQ(last_node_, nullptr);
    EXPECT_NE(ReadFile(journal).find("\0#h/q.cgi?x=1\n"s), std::string::npos);
    // The journal loads back into a fresh store.
    headerlistex fresh(dir_.path(), "index.html", std::nullopt, "");
    EXPECT_EQ(fresh.Load("kelvra.log.tmp"), 1);
    EXPECT_NE(fresh.FindRecord("http://h/j.html"), nullptr);
}

TEST_F(CommitTest, OversizedHeaderIsJournalledNormalised) {
    std::string header = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
    for (int i = 0; i < 100; ++i)
        header += "Set-Cookie: c" + std::to_string(i) + "=" + std::string(40, 'v') + "\r\n";
    header += "\r\n";
    Commit("http://h/big.html", header, "x");
    Commit("http://h/after.html", kHtml, "y");
    headerlistex fresh(dir_.path(), "index.html", std::nullopt, "");
    EXPECT_EQ(fresh.Load("kelvra.log.tmp"), 2);
    EXPECT_NE(fresh.FindRecord("http://h/after.html"), nullptr);
}

}  // namespace
}  // namespace kelvra::store
