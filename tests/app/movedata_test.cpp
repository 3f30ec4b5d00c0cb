#include "app/movedata.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "store/store_record.h"
#include "util/fileutil.h"
#include "util/tempdir.h"

namespace kelvra::app {
namespace {

using testing::TempDir;

constexpr char kOld[] = "LM:Sat, 01 Jan 2000 00:00:00 GMT\n";
constexpr char kNew[] = "LM:Sun, 02 Jan 2000 00:00:00 GMT\n";
constexpr std::time_t kSourceTime = 946722000;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return in ? bytes.str() : "<missing>";
}

class DataDirectory {
  public:
    explicit DataDirectory(const std::string& path) : path_(path + "/") { Reopen(); }
    void Reopen() {
        store_ = std::make_unique<store::headerlistex>(path_, "index.html", kJournalName, "");
        static_cast<void>(LoadWithJournal(*store_, kHeaderFileName));
    }
    store::headerlistex& Store() { return *store_; }
    const std::string& Path() const { return path_; }
    // Records url and writes its file (none without body).
    void Put(const std::string& url, const std::string& record, const char* body) {
        ASSERT_NE(store_->Add(url, record, true), nullptr);
        if (!body) return;
        std::string path;
        ASSERT_TRUE(store_->GetUrlLocalPath(url, path));
        util::MakeDirectories(path, path_.size());
        std::ofstream(path, std::ios::binary) << body;
        const timespec times[2] = {{kSourceTime, 0}, {kSourceTime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    std::string Body(const std::string& url) {
        std::string path;
        return store_->GetUrlLocalPath(url, path) ? ReadAll(path) : "<no record>";
    }
    void Save() { ASSERT_GE(store_->Save(kHeaderFileName, false), 0); }

  private:
    std::string path_;
    std::unique_ptr<store::headerlistex> store_;
};

class MoveDataTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(source_dir_.ok() && destination_dir_.ok());
        source_ = std::make_unique<DataDirectory>(source_dir_.Path());
        destination_ = std::make_unique<DataDirectory>(destination_dir_.Path());
    }
    TransferResult Run(const std::vector<std::string>& urls, DataOperation operation,
                       std::optional<std::string> to = {}) {
        ProgressSink progress(nullptr);
        MoveDataCore core(source_->Store(), "", progress);
        core.Add(SelectBelow(source_->Store(), urls));
        if (operation != DataOperation::kRemove && !to) to = destination_->Path();
        return core.Transfer(to, kHeaderFileName, operation != DataOperation::kCopy);
    }

    TempDir source_dir_;
    TempDir destination_dir_;
    std::unique_ptr<DataDirectory> source_;
    std::unique_ptr<DataDirectory> destination_;
};

TEST_F(MoveDataTest, CopiesUnlessTheDestinationHoldsACompleteCopyAtLeastAsNew) {
    struct Case {
        const char* name;
        std::optional<std::string> held;  // the destination's record; none: no record
        bool copied;
    };
    const Case cases[] = {
        {"no record", std::nullopt, true},
        {"incomplete", std::string(kNew) + "XRange:3\n", true},
        {"no date", "CT:text/plain\n", true},
        {"older", kOld, true},
        {"as new", kNew, false},
        {"newer", "LM:Mon, 03 Jan 2000 00:00:00 GMT\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        source_->Put("http://h/a.txt", kNew, "source");
        if (c.held) {
            destination_->Put("http://h/a.txt", *c.held, "held");
            destination_->Save();
        }
        const TransferResult result = Run({"http://h/"}, DataOperation::kCopy);
        EXPECT_EQ(result.handled, 1);
        EXPECT_EQ(result.outcome, TransferResult::Outcome::kDone);
        destination_->Reopen();
        EXPECT_EQ(destination_->Body("http://h/a.txt"), c.copied ? "source" : "held");
        EXPECT_EQ(source_->Body("http://h/a.txt"), "source");
    }
}

TEST_F(MoveDataTest, MoveLeavesTheSourceAndRecordsEverythingInTheDestination) {
    source_->Put("http://h/", "CT:text/html\n", "top");
    source_->Put("http://h/d/b.txt", kOld, "b");
    source_->Put("http://h/q?x=1", "CT:text/plain\n", "query");
    source_->Put("http://other/c.txt", kOld, "c");
    std::string moved_path;
    ASSERT_TRUE(source_->Store().GetUrlLocalPath("http://h/d/b.txt", moved_path));
    struct stat before {};
    ASSERT_EQ(::stat(moved_path.c_str(), &before), 0);

    EXPECT_EQ(Run({"http://h/"}, DataOperation::kMove).handled, 3);

    EXPECT_FALSE(source_->Store().FindRecord("http://h/d/b.txt"));
    EXPECT_NE(::access(moved_path.c_str(), F_OK), 0);
    EXPECT_EQ(source_->Body("http://other/c.txt"), "c");
    EXPECT_EQ(::access((destination_->Path() + kJournalFileName).c_str(), F_OK), -1);
    destination_->Reopen();  // the saved kelvra.hif alone, the journal was rotated
    EXPECT_EQ(destination_->Body("http://h/"), "top");
    EXPECT_EQ(destination_->Body("http://h/d/b.txt"), "b");
    EXPECT_EQ(destination_->Body("http://h/q?x=1"), "query");
    EXPECT_FALSE(destination_->Store().FindRecord("http://other/c.txt"));
    std::string copy;
    ASSERT_TRUE(destination_->Store().GetUrlLocalPath("http://h/d/b.txt", copy));
    struct stat info {};
    ASSERT_EQ(::stat(copy.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, kSourceTime);
    EXPECT_EQ(info.st_ino, before.st_ino);  // one file system: linked, not copied
}

// On another file system the move copies each file under its name, with its bytes and date.
TEST_F(MoveDataTest, MoveToAnotherFileSystemCopiesBytesAndDate) {
    struct stat here {};
    struct stat shm {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(source_->Path().c_str(), &here) != 0 ||
        shm.st_dev == here.st_dev) {
        GTEST_SKIP() << "no second file system";
    }
    std::string other = "/dev/shm/kelvra-move-XXXXXX";
    ASSERT_TRUE(::mkdtemp(other.data()));
    const std::shared_ptr<void> cleanup(nullptr, [&other](void*) {
        std::error_code ignored;
        std::filesystem::remove_all(other, ignored);
    });
    source_->Put("http://h/d/b.txt", kOld, "b");
    source_->Put("http://h/d/c.txt", kOld, "c");
    EXPECT_EQ(Run({"http://h/"}, DataOperation::kMove, other).handled, 2);
    DataDirectory moved(other);
    for (const std::string name : {"b", "c"}) {
        const std::string url = "http://h/d/" + name + ".txt";
        EXPECT_EQ(moved.Body(url), name);
        std::string path;
        ASSERT_TRUE(moved.Store().GetUrlLocalPath(url, path));
        EXPECT_EQ(path, other + "/h/d/" + name + ".txt");
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mtime, kSourceTime);
        EXPECT_FALSE(source_->Store().FindRecord(url));
        EXPECT_NE(::access((source_->Path() + "h/d/" + name + ".txt").c_str(), F_OK), 0);
    }
}

TEST_F(MoveDataTest, RemoveDeletesFilesAndMarksRecordsWithoutDestination) {
    source_->Put("http://h/a.txt", kOld, "a");
    std::string path;
    ASSERT_TRUE(source_->Store().GetUrlLocalPath("http://h/a.txt", path));
    EXPECT_EQ(Run({""}, DataOperation::kRemove).handled, 1);
    EXPECT_TRUE(source_->Store().Changed());
    EXPECT_FALSE(source_->Store().FindRecord("http://h/a.txt"));
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST_F(MoveDataTest, RefusesTheDataDirectoryByAnyNameAndABrokenDestination) {
    source_->Put("http://h/a.txt", kOld, "a");
    const std::string link = destination_dir_.Path("link");
    ASSERT_EQ(::symlink(source_dir_.Path().c_str(), link.c_str()), 0);
    std::ofstream(destination_dir_.Path("broken/kelvra.hif"));
    util::MakeDirectories(destination_dir_.Path("broken/"), 0);
    std::ofstream(destination_dir_.Path("broken/kelvra.hif"), std::ios::binary) << "h/x\nCT:y\n";
    for (const std::string& to : {source_->Path() + "./", link + "/", destination_dir_.Path("none"),
                                  destination_dir_.Path("broken")}) {
        SCOPED_TRACE(to);
        const TransferResult result = Run({""}, DataOperation::kMove, to);
        EXPECT_EQ(result.outcome, TransferResult::Outcome::kRefused);
        EXPECT_EQ(source_->Body("http://h/a.txt"), "a");
    }
}

// A file that cannot be copied stops the transfer; what was moved before is in the
// destination's kelvra.hif, the rest stays in the source.
TEST_F(MoveDataTest, AFailedCopyStopsAndKeepsTheRestInTheSource) {
    source_->Put("http://h/a/1.txt", kOld, nullptr);
    source_->Put("http://h/b/2.txt", kOld, "2");
    std::string fifo;  // taken after b/2.txt: siblings come in descending order
    ASSERT_TRUE(source_->Store().GetUrlLocalPath("http://h/a/1.txt", fifo));
    util::MakeDirectories(fifo, source_->Path().size());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    const TransferResult result = Run({"http://h/"}, DataOperation::kMove);
    EXPECT_EQ(result.outcome, TransferResult::Outcome::kFailed);
    EXPECT_EQ(result.handled, 1);
    EXPECT_TRUE(source_->Store().FindRecord("http://h/a/1.txt"));
    destination_->Reopen();
    EXPECT_EQ(destination_->Body("http://h/b/2.txt"), "2");
    EXPECT_FALSE(destination_->Store().FindRecord("http://h/a/1.txt"));
}

TEST_F(MoveDataTest, FetchedSinceStartListsTheJournalAndChoicesComeLastFirst) {
    source_->Put("http://h/a.txt", kOld, "a");
    source_->Put("http://h/b.txt", kOld, "b");
    std::ofstream(source_->Path() + kJournalFileName, std::ios::binary)
        << store::FormatRecord("h/a.txt", kOld, true) << store::FormatRecord("h/failed", "", false)
        << store::FormatRecord("h/b.txt", kOld, true);
    const std::vector<std::string> keys = FetchedSinceStart(source_->Store());
    EXPECT_EQ(keys, (std::vector<std::string>{"h/b.txt", "h/a.txt"}));
    const auto nodes = FindChosen(source_->Store(), {"h/a.txt", "h/gone", "h/b.txt"});
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(source_->Store().NodeKey(nodes[0]), "h/b.txt");
    EXPECT_EQ(source_->Store().NodeKey(nodes[1]), "h/a.txt");
}

// A move killed at an arbitrary point loses no object: each is in the source with its record,
// or in the destination with its record or its journal line, and its bytes intact.
TEST_F(MoveDataTest, MoveKilledHalfWayLosesNoObject) {
    constexpr int kObjects = 400;
    constexpr int kSignalAt = 40;
    for (int i = 0; i < kObjects; ++i) {
        const std::string n = std::to_string(i);
        source_->Put("http://h/d" + std::to_string(i % 7) + "/" + n + ".txt", kOld,
                     ("body " + n).c_str());
    }
    source_->Save();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Tells the parent at the kSignalAt-th object and goes on until it is killed.
        struct Signaller : ProgressView {
            int fd;
            int texts = 0;
            void ShowText(std::string_view) override {
                if (++texts == kSignalAt) static_cast<void>(::write(fd, "x", 1));
            }
            void RunPendingEvents() override {}
            bool Quiet() const override { return false; }
            bool CancelRequested() const override { return false; }
        } view;
        view.fd = ready[1];
        ProgressSink progress(&view);
        MoveDataCore core(source_->Store(), "", progress);
        core.Add(SelectBelow(source_->Store(), {""}));
        static_cast<void>(core.Transfer(destination_->Path(), kHeaderFileName, true));
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    pollfd wait{ready[0], POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 60000), 1);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(ready[0]);

    source_->Reopen();
    destination_->Reopen();
    int in_destination = 0;
    for (int i = 0; i < kObjects; ++i) {
        const std::string n = std::to_string(i);
        const std::string url = "http://h/d" + std::to_string(i % 7) + "/" + n + ".txt";
        const bool moved = destination_->Body(url) == "body " + n;
        in_destination += moved;
        EXPECT_TRUE(moved || source_->Body(url) == "body " + n) << url;
    }
    // The kill came after the first batch of copies was recorded in the destination (their
    // sources may still be there: they are deleted behind the copying).
    EXPECT_GT(in_destination, 0);
}

TEST(MoveMatchingTest, PatternOrItsNegationMovesEntriesInOrder) {
    struct Case {
        const char* pattern;
        std::vector<std::string> moved;
    };
    const Case cases[] = {
        {"\\.gif", {"h/a.gif", "h/c.GIF"}},
        {"!\\.gif", {"h/b.html", "h/d.txt"}},
        {"zzz", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        std::vector<std::string> from{"h/a.gif", "h/b.html", "h/c.GIF", "h/d.txt"};
        std::vector<std::string> to{"first"};
        EXPECT_EQ(MoveMatching(from, to, c.pattern), c.moved.size());
        std::vector<std::string> expected{"first"};
        expected.insert(expected.end(), c.moved.begin(), c.moved.end());
        EXPECT_EQ(to, expected);
        EXPECT_EQ(from.size() + to.size(), 5u);
    }
}

TEST(ProgressSinkTest, QuietShowsNothingAndRunsEventsEveryEighthText) {
    struct Counter : ProgressView {
        std::vector<std::string> shown;
        int events = 0;
        bool quiet = false;
        bool cancel = false;
        void ShowText(std::string_view text) override { shown.emplace_back(text); }
        void RunPendingEvents() override { ++events; }
        bool Quiet() const override { return quiet; }
        bool CancelRequested() const override { return cancel; }
    } view;
    ProgressSink sink(&view);
    sink.Report("Processing ", "h/a");
    EXPECT_EQ(view.shown, std::vector<std::string>{"Processing h/a"});
    EXPECT_EQ(view.events, 1);
    view.quiet = true;
    for (unsigned i = 0; i < 2 * ProgressSink::kQuietEventInterval; ++i) sink.Report("x");
    EXPECT_EQ(view.shown.size(), 1u);
    EXPECT_EQ(view.events, 3);
    EXPECT_TRUE(sink.Pace(1));
    view.cancel = true;
    EXPECT_FALSE(sink.Pace(1));
}

}  // namespace
}  // namespace kelvra::app
