#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/rawfile.h"
#include "util/tempdir.h"

namespace kelvra::platform {
namespace {

class ProfileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }
    void Put(const std::string& text) { ASSERT_TRUE(ReplaceFileContents(ini_, text)); }
    std::string Text() const { return ReadFileContents(ini_).value_or("<missing>"); }

    kelvra::testing::TempDir dir_;
    std::string ini_ = dir_.Path("kelvraw.ini");
};

const char kSample[] =
    "; settings of the program\n"
    "[Main]\n"
    "BaseDirectory = /data/spool  \n"
    "Threads=4\n"
    "; a comment inside the section\n"
    "Title=\"  quoted  \"\n"
    "Port=   -8080xyz\n"
    "Empty=\n"
    "Word=abc\n"
    "\n"
    "[AutoProxyConfig]\n"
    "Use=1\n"
    "[main]\n"
    "Threads=99\n";

// ---- reading ----

TEST_F(ProfileTest, ReadsValues) {
    Put(kSample);
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"Main", "BaseDirectory", "/data/spool"},  // blanks around the value are trimmed
        {"MAIN", "threads", "4"},                  // names match without regard to case
        {"Main", "Title", "  quoted  "},           // enclosing double quotes are dropped
        {"Main", "Empty", ""},                     // present but empty: not the fallback
        {"AutoProxyConfig", "Use", "1"},           // a second section
        {"Main", "Use", "fallback"},               // a key of another section is not seen
        {"Missing", "Threads", "fallback"},        // a missing section
        {"Main", "; a comment inside the section", "fallback"},  // comments are no keys
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetPrivateProfileString(c.section, c.key, "fallback", ini_), c.expected)
            << c.section << "/" << c.key;
    }
}

TEST_F(ProfileTest, ReadsNumbers) {
    Put(kSample);
    EXPECT_EQ(GetPrivateProfileInt("Main", "Threads", 7, ini_), 4);
    EXPECT_EQ(GetPrivateProfileInt("Main", "Port", 7, ini_), -8080);  // the leading number
    EXPECT_EQ(GetPrivateProfileInt("Main", "Word", 7, ini_), 0);      // not a number
    EXPECT_EQ(GetPrivateProfileInt("Main", "Empty", 7, ini_), 7);     // empty: the fallback
    EXPECT_EQ(GetPrivateProfileInt("Main", "Absent", 7, ini_), 7);    // missing: the fallback
}

TEST_F(ProfileTest, FirstMatchingSectionWins) {
    Put(kSample);
    // "[main]" further down is a duplicate; only the first section counts.
    EXPECT_EQ(GetPrivateProfileInt("main", "Threads", 0, ini_), 4);
}

TEST_F(ProfileTest, MissingFileGivesTheFallback) {
    EXPECT_EQ(GetPrivateProfileString("Main", "Threads", "dflt", ini_), "dflt");
    EXPECT_EQ(GetPrivateProfileInt("Main", "Threads", 3, ini_), 3);
}

TEST_F(ProfileTest, CrLfLines) {
    Put("[Main]\r\nThreads = 5\r\nName=x y\r\n");
    EXPECT_EQ(GetPrivateProfileString("Main", "Name", "", ini_), "x y");
    EXPECT_EQ(GetPrivateProfileInt("Main", "Threads", 0, ini_), 5);
}

// ---- writing ----

TEST_F(ProfileTest, ReplacingAValueKeepsEveryOtherByte) {
    Put(kSample);
    ASSERT_TRUE(WritePrivateProfileString("main", "THREADS", "8", ini_));
    std::string expected = kSample;
    expected.replace(expected.find("Threads=4"), 9, "Threads=8");
    EXPECT_EQ(Text(), expected);
}

TEST_F(ProfileTest, ReplacingKeepsTheSpellingAroundTheEquals) {
    Put("[Main]\r\nBaseDirectory = /old\r\n");
    ASSERT_TRUE(WritePrivateProfileString("Main", "basedirectory", "/new dir", ini_));
    EXPECT_EQ(Text(), "[Main]\r\nBaseDirectory = /new dir\r\n");
}

TEST_F(ProfileTest, NewKeyGoesAfterTheSectionsLastKey) {
    Put("[A]\nx=1\n\n; about B\n[B]\ny=2\n");
    ASSERT_TRUE(WritePrivateProfileString("A", "z", "3", ini_));
    EXPECT_EQ(Text(), "[A]\nx=1\nz=3\n\n; about B\n[B]\ny=2\n");
    EXPECT_EQ(GetPrivateProfileString("A", "z", "", ini_), "3");
}

TEST_F(ProfileTest, NewKeyInAnEmptySection) {
    Put("[A]\n[B]\n");
    ASSERT_TRUE(WritePrivateProfileString("a", "k", "v", ini_));
    EXPECT_EQ(Text(), "[A]\nk=v\n[B]\n");
}

TEST_F(ProfileTest, NewSectionIsAppendedWithTheFilesLineEnds) {
    Put("[A]\r\nx=1");  // no line end after the last line
    ASSERT_TRUE(WritePrivateProfileString("New", "k", "v", ini_));
    EXPECT_EQ(Text(), "[A]\r\nx=1\r\n\r\n[New]\r\nk=v\r\n");
}

TEST_F(ProfileTest, WriteCreatesTheFile) {
    ASSERT_TRUE(WritePrivateProfileString("Main", "Port", "8080", ini_));
    EXPECT_EQ(Text(), "[Main]\nPort=8080\n");
    EXPECT_EQ(GetPrivateProfileInt("Main", "Port", 0, ini_), 8080);
    struct stat info {};
    EXPECT_NE(::stat((ini_ + ".tmp").c_str(), &info), 0) << "no temporary file left behind";
}

TEST_F(ProfileTest, RefusesTextThatWouldBreakTheFile) {
    Put("[A]\nx=1\n");
    EXPECT_FALSE(WritePrivateProfileString("A", "x", "1\n[Evil]\ny=2", ini_));
    EXPECT_FALSE(WritePrivateProfileString("A", "x=y", "1", ini_));
    EXPECT_FALSE(WritePrivateProfileString("A]", "x", "1", ini_));
    EXPECT_FALSE(WritePrivateProfileString("A", "", "1", ini_));
    EXPECT_EQ(Text(), "[A]\nx=1\n");
}

// ---- removing ----

TEST_F(ProfileTest, RemoveKeyDeletesOnlyThatLine) {
    Put(kSample);
    ASSERT_TRUE(RemovePrivateProfileKey("MAIN", "word", ini_));
    std::string expected = kSample;
    expected.erase(expected.find("Word=abc\n"), 9);
    EXPECT_EQ(Text(), expected);
    // Removing what is not there changes nothing and succeeds.
    ASSERT_TRUE(RemovePrivateProfileKey("Main", "Word", ini_));
    EXPECT_EQ(Text(), expected);
}

TEST_F(ProfileTest, RemoveSectionDeletesItsLinesOnly) {
    Put("[A]\nx=1\n[B]\ny=2\n; c\n[C]\nz=3\n");
    ASSERT_TRUE(RemovePrivateProfileSection("b", ini_));
    EXPECT_EQ(Text(), "[A]\nx=1\n[C]\nz=3\n");
    EXPECT_EQ(GetPrivateProfileString("B", "y", "gone", ini_), "gone");
}

TEST_F(ProfileTest, RemovingFromAMissingFileCreatesNothing) {
    EXPECT_TRUE(RemovePrivateProfileKey("A", "x", ini_));
    EXPECT_TRUE(RemovePrivateProfileSection("A", ini_));
    EXPECT_FALSE(ReadFileContents(ini_).has_value());
}

// ---- failed writes ----

TEST_F(ProfileTest, FailedWriteLeavesTheOldFileIntact) {
    Put(kSample);
    // The temporary name is taken by a directory (root ignores permissions, not this).
    ASSERT_EQ(::mkdir((ini_ + ".tmp").c_str(), 0755), 0);
    EXPECT_FALSE(WritePrivateProfileString("Main", "Threads", "9", ini_));
    EXPECT_FALSE(RemovePrivateProfileSection("Main", ini_));
    EXPECT_EQ(Text(), kSample);
}

TEST_F(ProfileTest, WriteBelowARegularFileFails) {
    Put(kSample);
    const std::string below = ini_ + "/nested.ini";
    EXPECT_FALSE(WritePrivateProfileString("Main", "Threads", "9", below));
    EXPECT_EQ(Text(), kSample);
}

TEST_F(ProfileTest, UnreadableTargetIsNotOverwritten) {
    // A directory where the file should be cannot be read, so it is not replaced either.
    ASSERT_EQ(::mkdir(ini_.c_str(), 0755), 0);
    EXPECT_FALSE(WritePrivateProfileString("Main", "Threads", "9", ini_));
    struct stat info {};
    ASSERT_EQ(::stat(ini_.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

}  // namespace
}  // namespace kelvra::platform
