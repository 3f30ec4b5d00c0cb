// Program entry: the -cd option, the MIME table beside the program, the settings paths, one
// instance per settings directory, and the progress-log deletion of start-up.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "app/startup.h"
#include "app/startup_scripted_ui.h"
#include "util/tempdir.h"

namespace kelvra::app {
namespace {

using testing::ScriptedUserInterface;
using testing::TempDir;

struct OptionCase {
    std::vector<const char*> argv;
    bool expected;
    const char* why;
};

TEST(StartupOptions, OnlyAnExactFirstArgumentSelectsTheCurrentDirectory) {
    const std::vector<OptionCase> cases = {
        {{"kelvrac", "-cd", "get"}, true, "first argument"},
        {{"kelvrac", "get", "-cd"}, false, "second argument has no effect"},
        {{"kelvrac", "-CD"}, false, "case-sensitive"},
        {{"kelvrac", "-cdx"}, false, "exact"},
        {{"kelvrac"}, false, "no argument"},
    };
    for (const OptionCase& row : cases) {
        EXPECT_EQ(UseCurrentDirectoryOption(static_cast<int>(row.argv.size()), row.argv.data()),
                  row.expected)
            << row.why;
    }
}

class ProgramPaths : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        ::setenv("XDG_CONFIG_HOME", dir_.Path("config").c_str(), 1);
        ASSERT_EQ(::mkdir(dir_.Path("cwd").c_str(), 0755), 0);
        ASSERT_NE(::getcwd(saved_, sizeof saved_), nullptr);
        ASSERT_EQ(::chdir(dir_.Path("cwd").c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(::chdir(saved_), 0); }

    TempDir dir_;
    char saved_[4096] = {};
    ScriptedUserInterface ui_;
};

TEST_F(ProgramPaths, FindsTheTableBesideTheProgramAndTheSettingsDirectory) {
    // The test programs lie in the build's bin directory, where the table is copied.
    const char* argv[] = {"app_tests"};
    const std::optional<ProgramEnvironment> environment = PrepareProgram(ui_, 1, argv);
    ASSERT_TRUE(environment);
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(environment->mime_table_path, ProgramDirectory("") + "kelvra.mtf");
    EXPECT_EQ(environment->ini_path, dir_.Path("config") + "/kelvraw/kelvraw.ini");
    EXPECT_EQ(environment->pac_path, dir_.Path("config") + "/kelvraw/proxycfg.pac");
    EXPECT_FALSE(environment->use_current_directory);
}

TEST_F(ProgramPaths, CurrentDirectoryOptionPutsTheSettingsThere) {
    const char* argv[] = {"app_tests", "-cd"};
    const std::optional<ProgramEnvironment> environment = PrepareProgram(ui_, 2, argv);
    ASSERT_TRUE(environment);
    EXPECT_TRUE(environment->use_current_directory);
    const std::string cwd = CurrentDirectory();
    EXPECT_EQ(environment->ini_path, cwd + "kelvraw.ini");
    EXPECT_EQ(environment->pac_path, cwd + "proxycfg.pac");
}

TEST_F(ProgramPaths, ProgramDirectoryIsTheRunningProgramsNotTheNameItWasCalledBy) {
    const std::string directory = ProgramDirectory("some/other/name");
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), '/');
    EXPECT_EQ(::access((directory + "kelvra.mtf").c_str(), R_OK), 0);
}

TEST(InstanceLockTest, OneHolderPerSettingsDirectory) {
    const std::string directory = "/tmp/kelvra-lock-test-" + std::to_string(::getpid()) + "/";
    std::unique_ptr<InstanceLock> first = InstanceLock::Acquire(directory);
    ASSERT_TRUE(first);
    EXPECT_FALSE(InstanceLock::Acquire(directory)) << "a second instance is refused";
    EXPECT_TRUE(InstanceLock::Acquire(directory + "other/")) << "another settings directory";
    first.reset();
    EXPECT_TRUE(InstanceLock::Acquire(directory)) << "released with its holder";
}

struct InsideCase {
    const char* name;
    bool inside;
};

TEST(ProgressLogDeletion, NamesLeavingTheDataDirectoryAreRefused) {
    const std::vector<InsideCase> cases = {
        {"prog.csv", true},       // plain name
        {"logs/prog.csv", true},  // below the data directory
        {"a..b.csv", true},       // dots inside a name are harmless
        {"../prog.csv", false},   // the parent
        {"logs/../../x", false},  // climbs out on the way
        {"/etc/passwd", false},   // absolute
        {"", false},              // nothing to delete
    };
    for (const InsideCase& row : cases) EXPECT_EQ(StaysInside(row.name), row.inside) << row.name;
}

TEST(ProgressLogDeletion, DeletesAnExistingLogOnly) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string data = dir.Path() + "/";
    std::ofstream(data + "prog.csv") << "ThreadNo, time(), URL, Status\n";
    EXPECT_TRUE(DeleteProgressLog(data, "prog.csv"));
    EXPECT_NE(::access((data + "prog.csv").c_str(), F_OK), 0);
    EXPECT_FALSE(DeleteProgressLog(data, "prog.csv")) << "nothing left to delete";
    ASSERT_EQ(::mkdir(dir.Path("sub").c_str(), 0755), 0);
    std::ofstream(dir.Path("outside.csv")) << "x";
    EXPECT_FALSE(DeleteProgressLog(dir.Path("sub") + "/", "../outside.csv"));
    EXPECT_EQ(::access(dir.Path("outside.csv").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace kelvra::app
