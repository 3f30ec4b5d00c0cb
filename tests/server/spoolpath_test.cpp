// Requests never leave the data directory and never read the program's own files.

#include "server/spoolpath.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "util/tempdir.h"

namespace kelvra::server {
namespace {

struct PathCase {
    const char* comment;
    const char* host_start;
    bool allowed;
};

class ConfinedPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(ConfinedPathTest, Decides) {
    const auto path = ConfinedRelativePath(GetParam().host_start, "progress.csv");
    EXPECT_EQ(path.has_value(), GetParam().allowed) << GetParam().comment;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ConfinedPathTest,
    ::testing::Values(
        PathCase{"plain stored path", "host/dir/page.html", true},
        PathCase{"escapes stay literal names", "host/a%2e%2e/b", true},
        PathCase{"dot-dot segment", "host/../../etc/passwd", false},
        PathCase{"leading dot-dot", "../etc/passwd", false},
        PathCase{"dot segment", "host/./x", false}, PathCase{"absolute", "/etc/passwd", false},
        PathCase{"backslash", "host\\..\\x", false}, PathCase{"control byte", "host/a\nb", false},
        PathCase{"credentials", "host/dir/$AuthCode$", false},
        PathCase{"header file", "kelvra.hif", false}, PathCase{"journal", "kelvra.log.tmp", false},
        PathCase{"old journal", "kelvra.log", false},
        PathCase{"condition file", "kelvraw.cf", false},
        PathCase{"limit table", "kelvra.mcf", false}, PathCase{"access list", "access.orv", false},
        PathCase{"prohibit list", "prohibit.orv", false},
        PathCase{"bookmarks", "kelvraw.bm", false},
        PathCase{"retry list", "host/failed.RLF", false},
        PathCase{"progress log", "progress.csv", false}, PathCase{"empty", "", false}));

TEST(ConfinedPathTest, NulByteIsRefused) {
    EXPECT_FALSE(ConfinedRelativePath(std::string_view("host/a\0/../x", 12), {}));
    EXPECT_FALSE(ConfinedRelativePath(std::string_view("host/a\0b", 8), {}));
}

TEST(ConfinedPathTest, OverLongPathIsRefused) {
    EXPECT_FALSE(ConfinedRelativePath("h/" + std::string(300, 'a'), {}));
}

TEST(ProtectedPathTest, TopLevelProgramFilesAndCredentialsAnywhere) {
    EXPECT_TRUE(IsProtectedPath("kelvra.hif"));
    EXPECT_TRUE(IsProtectedPath("host/$AuthCode$"));
    EXPECT_TRUE(IsProtectedPath("host/x.rlf"));
    // a stored page that happens to share a program file's name is a page
    EXPECT_FALSE(IsProtectedPath("host/kelvra.hif"));
    EXPECT_FALSE(IsProtectedPath("host/index.html"));
}

TEST(InsideDataDirectoryTest, LinksOutOfTheDataDirectoryAreRefused) {
    kelvra::testing::TempDir outside;
    kelvra::testing::TempDir data;
    ASSERT_TRUE(outside.ok() && data.ok());
    std::ofstream(outside.Path("secret")) << "secret";
    std::ofstream(data.Path("page")) << "page";
    ASSERT_EQ(::symlink(outside.Path("secret").c_str(), data.Path("link").c_str()), 0);
    ASSERT_EQ(::symlink(data.Path("kelvra.hif").c_str(), data.Path("alias").c_str()), 0);
    std::ofstream(data.Path("kelvra.hif")) << "records";
    ASSERT_EQ(::symlink(data.Path("page").c_str(), data.Path("same").c_str()), 0);
    ASSERT_TRUE(std::filesystem::create_directory(data.Path("x")));

    EXPECT_EQ(InsideDataDirectory(data.Path(), data.Path("page")), data.Path("page"));
    EXPECT_FALSE(InsideDataDirectory(data.Path(), data.Path("link")));
    EXPECT_FALSE(InsideDataDirectory(data.Path(), data.Path("alias")));
    EXPECT_FALSE(InsideDataDirectory(data.Path(), data.Path("missing")));
    EXPECT_FALSE(InsideDataDirectory(data.Path(), data.Path()));
    EXPECT_FALSE(InsideDataDirectory(data.Path(), outside.Path("secret")));

    // the same verdicts on the opened file; directories and pipes are never opened for serving
    ASSERT_EQ(::mkfifo(data.Path("pipe").c_str(), 0600), 0);
    const std::string root = ResolvedPath(data.Path());
    // a link that stays inside names what it points at
    for (const std::string& served : {data.Path("page"), data.Path("same")}) {
        const int page = OpenInsideDataDirectory(root, served);
        EXPECT_GE(page, 0) << served;
        if (page >= 0) ::close(page);
    }
    for (const std::string& refused :
         {data.Path("link"), data.Path("alias"), data.Path("missing"), data.Path(),
          data.Path("pipe"), outside.Path("secret"), data.Path() + "//kelvra.hif",
          data.Path() + "/./kelvra.hif", data.Path("x/../kelvra.hif")}) {
        EXPECT_EQ(OpenInsideDataDirectory(root, refused), -1) << refused;
    }
}

}  // namespace
}  // namespace kelvra::server
