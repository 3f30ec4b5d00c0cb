// Kept contents of stored files: found again only while the path leads to the same unchanged
// file inside the same data directory.

#include "server/storedfilecache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/ownedfile.h"
#include "server/spoolpath.h"
#include "util/tempdir.h"

namespace kelvra::server::testing {
namespace {

class StoredFileCacheTest : public ::testing::Test {
  protected:
    void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    // Opens full as the server does and hands it to cache.Load.
    StoredFileCache::Contents Load(StoredFileCache& cache, const std::string& full) {
        struct stat info {};
        platform::UniqueFd file(OpenInsideDataDirectory(root_, full, &info));
        EXPECT_TRUE(file);
        return cache.Load(root_, full, file.get(), info);
    }

    kelvra::testing::TempDir dir_;
    const std::string root_ = ResolvedPath(dir_.Path());
    const std::string page_ = root_ + "/page.html";
};

TEST_F(StoredFileCacheTest, FoundOnlyWhileThePathLeadsToTheSameUnchangedFile) {
    // What happens between the first answer and the next request.
    const struct {
        const char* name;
        std::function<void(const std::string& page)> change;
        bool found;
    } cases[] = {
        {"nothing", [](const std::string&) {}, true},
        {"replaced by rename, same size",
         [this](const std::string& page) {
             Write(page + ".new", "<p>second</p>");
             std::filesystem::rename(page + ".new", page);
         },
         false},
        {"written in place, longer",
         [this](const std::string& page) { Write(page, "<p>more</p>!!"); }, false},
        {"removed", [](const std::string& page) { std::filesystem::remove(page); }, false},
    };
    for (const auto& c : cases) {
        StoredFileCache cache(std::chrono::nanoseconds(0));
        Write(page_, "<p>stored</p>");
        const StoredFileCache::Contents loaded = Load(cache, page_);
        ASSERT_TRUE(loaded) << c.name;
        EXPECT_EQ(*loaded, "<p>stored</p>") << c.name;
        c.change(page_);
        const StoredFileCache::Contents found = cache.Find(root_, page_);
        EXPECT_EQ(found != nullptr, c.found) << c.name;
        if (found) {
            EXPECT_EQ(*found, "<p>stored</p>") << c.name;
        }
    }
}

TEST_F(StoredFileCacheTest, AnotherDataDirectoryFindsNothing) {
    StoredFileCache cache(std::chrono::nanoseconds(0));
    Write(page_, "<p>stored</p>");
    ASSERT_TRUE(Load(cache, page_));
    EXPECT_FALSE(cache.Find(root_ + "/other", page_));
}

// A file changed lately may still be changed within the same tick of the file clock, which
// its times would not show; one too large would not leave in one send.
TEST_F(StoredFileCacheTest, RecentAndLargeFilesAreNotKept) {
    StoredFileCache settled(std::chrono::nanoseconds(0));
    Write(page_, std::string(kMaxCachedFile + 1, 'x'));
    EXPECT_FALSE(Load(settled, page_));
    EXPECT_FALSE(settled.Find(root_, page_));

    StoredFileCache cautious(std::chrono::hours(1));
    Write(page_, "<p>stored</p>");
    EXPECT_FALSE(Load(cautious, page_));
    EXPECT_FALSE(cautious.Find(root_, page_));
}

}  // namespace
}  // namespace kelvra::server::testing
