#include "util/fileutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/rawfile.h"
#include "util/tempdir.h"

namespace kelvra::util {
namespace {

class FileUtilTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }
    std::string Path(const std::string& name) const { return dir_.Path(name); }
    void Put(const std::string& name, const std::string& contents) {
        std::FILE* file = std::fopen(Path(name).c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(contents.data(), 1, contents.size(), file), contents.size());
        ASSERT_EQ(std::fclose(file), 0);
    }
    std::string Get(const std::string& name) const {
        return ReadWholeFile(Path(name)).value_or("<missing>");
    }

    kelvra::testing::TempDir dir_;
};

// ---- sizes and directory tests ----

TEST_F(FileUtilTest, FileSizeOfNamedAndOpenFiles) {
    Put("five", "12345");
    EXPECT_EQ(FileSize(Path("five")), 5);
    EXPECT_EQ(FileSize(Path("absent")), -1);
    std::FILE* file = std::fopen(Path("five").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(FileSize(file), 5);
    std::fclose(file);
    EXPECT_EQ(FileSize(static_cast<std::FILE*>(nullptr)), -1);
}

TEST_F(FileUtilTest, IsDirectoryTellsThreeCases) {
    Put("file", "x");
    EXPECT_EQ(IsDirectory(dir_.Path()), 1);         // an existing directory
    EXPECT_EQ(IsDirectory(dir_.Path() + "/"), 1);   // a trailing '/' is ignored
    EXPECT_EQ(IsDirectory(Path("absent")), 0);      // nothing there
    EXPECT_EQ(IsDirectory(Path("file")), -1);       // something that is not a directory
    EXPECT_EQ(IsDirectory(Path("file/below")), 0);  // not accessible through a file
    EXPECT_EQ(IsDirectory("/"), 1);                 // the root keeps its '/'
}

// ---- MakeDirectories ----

TEST_F(FileUtilTest, MakeDirectoriesCreatesEachMissingLevel) {
    const std::string base = dir_.Path() + "/";
    ASSERT_TRUE(MakeDirectories(base + "a/b/c/file.html", base.size()));
    EXPECT_EQ(IsDirectory(base + "a/b/c"), 1);
    // The last component is a file name, not a directory.
    EXPECT_EQ(IsDirectory(base + "a/b/c/file.html"), 0);
    // Again: everything exists already.
    EXPECT_TRUE(MakeDirectories(base + "a/b/c/other", base.size()));
}

TEST_F(FileUtilTest, MakeDirectoriesStopsAtAFile) {
    Put("blocker", "x");
    const std::string base = dir_.Path() + "/";
    EXPECT_FALSE(MakeDirectories(base + "blocker/sub/file", base.size()));
    EXPECT_EQ(IsDirectory(base + "blocker"), -1);
    EXPECT_EQ(IsDirectory(base + "blocker/sub"), 0);
}

TEST_F(FileUtilTest, MakeDirectoriesOnlyWalksTheFirst240Bytes) {
    const std::string base = dir_.Path() + "/";
    // Directories whose separator lies beyond the walk limit are not created.
    std::string path = base;
    while (path.size() < kMaxDirectoryWalk + 20) path += "dddddddddd/";
    path += "file";
    EXPECT_FALSE(MakeDirectories(path, base.size()));
    const std::size_t last_inside = path.rfind('/', kMaxDirectoryWalk - 1);
    EXPECT_EQ(IsDirectory(path.substr(0, last_inside)), 1);
    const std::size_t first_outside = path.find('/', kMaxDirectoryWalk);
    EXPECT_EQ(IsDirectory(path.substr(0, first_outside)), 0);
}

TEST_F(FileUtilTest, MakeDirectoriesStartsAtTheOffset) {
    // The part before the offset is taken as given: its missing directory is not created.
    const std::string base = dir_.Path() + "/missing/";
    EXPECT_FALSE(MakeDirectories(base + "a/file", base.size()));
    EXPECT_EQ(IsDirectory(dir_.Path() + "/missing"), 0);
}

// ---- whole files ----

TEST_F(FileUtilTest, ReadWholeFileKeepsEveryByte) {
    const std::string bytes("a\0b\r\n\xff", 6);
    Put("bin", bytes);
    EXPECT_EQ(ReadWholeFile(Path("bin")), bytes);
    EXPECT_FALSE(ReadWholeFile(Path("absent")).has_value());
    EXPECT_FALSE(ReadWholeFile(dir_.Path()).has_value());  // a directory is no file
}

TEST_F(FileUtilTest, CopyFileAcrossSeveralBlocks) {
    std::string big;
    for (int i = 0; big.size() < 10240 * 3 + 17; ++i) big += static_cast<char>(i * 7);
    Put("big", big);
    ASSERT_TRUE(CopyFile(Path("big"), Path("copy")));
    EXPECT_EQ(Get("copy"), big);
}

TEST_F(FileUtilTest, CopyFileFailures) {
    Put("src", "data");
    // The source is missing.
    EXPECT_FALSE(CopyFile(Path("absent"), Path("dst")));
    // The target cannot be created.
    EXPECT_FALSE(CopyFile(Path("src"), Path("no/such/dir/dst")));
    // Copying a file onto itself must not truncate it.
    EXPECT_FALSE(CopyFile(Path("src"), Path("src")));
    EXPECT_EQ(Get("src"), "data");
}

// ---- ReplaceFileContents ----

TEST_F(FileUtilTest, ReplaceFileContentsReplacesTheFile) {
    Put("target", "old");
    ASSERT_TRUE(platform::ReplaceFileContents(Path("target"), "new contents"));
    EXPECT_EQ(Get("target"), "new contents");
    EXPECT_EQ(IsDirectory(Path("target.tmp")), 0);  // no temporary left behind
}

TEST_F(FileUtilTest, ReplaceFileContentsFailureKeepsTheOldFile) {
    Put("target", "old");
    // The temporary name is taken by a directory: nothing can be written.
    ASSERT_EQ(::mkdir(Path("target.tmp").c_str(), 0755), 0);
    EXPECT_FALSE(platform::ReplaceFileContents(Path("target"), "new"));
    EXPECT_EQ(Get("target"), "old");
    EXPECT_EQ(IsDirectory(Path("target.tmp")), 1);  // someone else's directory stays
}

TEST_F(FileUtilTest, ReplaceFileContentsFailsBelowAFile) {
    Put("file", "x");
    EXPECT_FALSE(platform::ReplaceFileContents(Path("file/target"), "new"));
    EXPECT_EQ(Get("file"), "x");
}

TEST_F(FileUtilTest, ReplaceFileContentsFailsWhenTheTargetIsADirectory) {
    ASSERT_EQ(::mkdir(Path("dir").c_str(), 0755), 0);
    EXPECT_FALSE(platform::ReplaceFileContents(Path("dir"), "new"));
    EXPECT_EQ(IsDirectory(Path("dir")), 1);
    EXPECT_EQ(IsDirectory(Path("dir.tmp")), 0);  // the temporary was removed
}

TEST_F(FileUtilTest, ReplaceFileContentsGivesTheModeEvenOverALeftTemporary) {
    Put("secret.tmp", "left by a crash");
    ASSERT_EQ(::chmod(Path("secret.tmp").c_str(), 0644), 0);
    ASSERT_TRUE(platform::ReplaceFileContents(Path("secret"), "password", 0600));
    struct stat info {};
    ASSERT_EQ(::stat(Path("secret").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(Get("secret"), "password");
}

}  // namespace
}  // namespace kelvra::util
