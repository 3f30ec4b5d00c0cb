// quenlo is run as a program in a temporary data directory.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "store/store_test_util.h"

namespace kelvra {
namespace {

using store::testing::Exists;
using store::testing::ReadFile;
using store::testing::TempDir;
using store::testing::WriteFile;

using namespace std::string_literals;

constexpr char kBanner[] = "Make header information file (for kelvra) ver.2.2.1 by Tesmarin\n";
constexpr char kReading[] = "now reading kelvra.hif ... done.\n";
constexpr char kWriting[] = "now writing kelvra.hif ... done.\nterminated.\n";

struct RunResult {
    int status = -1;
    std::string out;
};

std::string QuenloPath() {
    const char* bin = std::getenv("KELVRA_BIN");
    // Absolute: the program runs in another directory.
    return std::filesystem::absolute(std::string(bin ? bin : ".") + "/quenlo").string();
}

// Runs quenlo with dir as its current directory.
RunResult RunIn(const TempDir& dir, const TempDir& scratch) {
    const std::string out_path = scratch / "stdout";
    const std::string program = QuenloPath();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 || ::chdir(dir.path().c_str()) != 0) _exit(99);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(98);
    }
    RunResult result;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    result.out = ReadFile(out_path);
    return result;
}

void SetTime(const std::string& path, time_t when) {
    const utimbuf times{when, when};
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

class Quenlo : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(Exists(QuenloPath())) << QuenloPath(); }
    TempDir data_;
    TempDir scratch_;
};

TEST_F(Quenlo, EmptyDirectoryStillWritesTheFile) {
    const RunResult run = RunIn(data_, scratch_);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBanner + "now reading kelvra.hif ... done.\n"s +
                           "now picking up all entries ... No file were found. Check directory.\n"
                           "done.\n" +
                           kWriting);
    EXPECT_TRUE(Exists(data_ / "kelvra.hif"));
    EXPECT_EQ(ReadFile(data_ / "kelvra.hif"), "");
    EXPECT_FALSE(Exists(data_ / "kelvra.hif.hif"));
}

TEST_F(Quenlo, CompletesRecordsAndBacksUpOnce) {
    const std::string original =
        "h/d/b.html\nLM:Sun, 06 Nov 1994 08:49:37 GMT\n\0h/d/c.html\nCT:text/plain\n\0"s;
    WriteFile(data_ / "kelvra.hif", original);
    WriteFile(data_ / "h/d/a.html", "a");
    WriteFile(data_ / "h/d/b.html", "b");
    WriteFile(data_ / "h/d/c.html", "c");
    WriteFile(data_ / "loose.txt", "not collected");
    SetTime(data_ / "h/d/a.html", 784111777);  // Sun, 06 Nov 1994 08:49:37 GMT
    SetTime(data_ / "h/d/b.html", 0);
    SetTime(data_ / "h/d/c.html", 1000000000);  // Sun, 09 Sep 2001 01:46:40 GMT

    const RunResult run = RunIn(data_, scratch_);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBanner + "now making backup file \"kelvra.hif.hif\" ... done.\n"s +
                           kReading +
                           "now picking up all entries ... 3 entries were found.\n"
                           "now restructuring header information ... \n"
                           "Added: h/d/a.html\n"
                           "done.\n" +
                           kWriting);
    EXPECT_EQ(ReadFile(data_ / "kelvra.hif.hif"), original);
    // b keeps its date, c keeps its type and gains one, a is new; parents first, names descending.
    EXPECT_EQ(ReadFile(data_ / "kelvra.hif"),
              "h/d/c.html\nCT:text/plain\nLM:Sun, 09 Sep 2001 01:46:40 GMT\n\0"
              "h/d/b.html\nLM:Sun, 06 Nov 1994 08:49:37 GMT\n\0"
              "h/d/a.html\nLM:Sun, 06 Nov 1994 08:49:37 GMT\n\0"s);

    // A second run keeps the first backup, changes nothing and writes nothing new.
    const std::string built = ReadFile(data_ / "kelvra.hif");
    const RunResult again = RunIn(data_, scratch_);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, kBanner + "kelvra.hif.hif found.\nStop making.\n"s + kReading +
                             "now picking up all entries ... 3 entries were found.\n"
                             "now restructuring header information ... \n"
                             "done.\n" +
                             kWriting);
    EXPECT_EQ(ReadFile(data_ / "kelvra.hif.hif"), original);
    EXPECT_EQ(ReadFile(data_ / "kelvra.hif"), built);
}

TEST_F(Quenlo, FailedBackupStopsWith255) {
    WriteFile(data_ / "kelvra.hif", "h/x\n\0"s);
    // The backup name leads into a directory that does not exist.
    ASSERT_EQ(::symlink("missing/dir/backup", (data_ / "kelvra.hif.hif").c_str()), 0);
    WriteFile(data_ / "h/x", "x");
    const RunResult run = RunIn(data_, scratch_);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(
        run.out,
        kBanner + "now making backup file \"kelvra.hif.hif\" ... can't make. Error terminated.\n"s);
    EXPECT_EQ(ReadFile(data_ / "kelvra.hif"), "h/x\n\0"s);
}

TEST_F(Quenlo, GeneratedAndEscapedNamesBecomeKeys) {
    WriteFile(data_ / "h/x.cgi.abc123.html", "q");
    WriteFile(data_ / "h_8080/a%20b", "e");
    const RunResult run = RunIn(data_, scratch_);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Added: h/x.cgi.abc123.html\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Added: h_8080/a%20b\n"), std::string::npos) << run.out;
    const std::string hif = ReadFile(data_ / "kelvra.hif");
    EXPECT_NE(hif.find("h/x.cgi.abc123.html\nLM:"), std::string::npos);
    EXPECT_NE(hif.find("h_8080/a%20b\nLM:"), std::string::npos);
}

}  // namespace
}  // namespace kelvra
