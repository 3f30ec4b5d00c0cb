#include "app/bookmarkfile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "util/tempdir.h"

namespace kelvra::app {
namespace {

using Names = std::vector<std::string>;

class BookmarkFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }
    std::string Path() const { return dir_.Path(kBookmarkFileName); }
    void Write(const std::string& bytes) const { std::ofstream(Path(), std::ios::binary) << bytes; }
    std::string Read() const {
        std::ifstream in(Path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return in ? bytes.str() : "<missing>";
    }
    testing::TempDir dir_;
};

TEST_F(BookmarkFileTest, PageNamesKeepFileOrderUnlessComboSortIsSetAboveTheSections) {
    struct Case {
        const char* bytes;
        Names names;
    };
    const Case cases[] = {
        {"", {""}},
        {"[b]\n[A]\n[c]\n", {"b", "A", "c"}},
        {"ComboSort=1\r\n[b]\r\n[A]\r\n[c]\r\n", {"A", "b", "c"}},
        {"combosort = 2\n[b]\n[a]\n", {"a", "b"}},
        {"ComboSort=0\n[b]\n[a]\n", {"b", "a"}},
        {"[b]\nComboSort=1\n[a]\n", {"b", "a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        Write(c.bytes);
        BookmarkFile file(Path());
        ASSERT_TRUE(file.Open());
        EXPECT_EQ(file.PageNames(), c.names);
    }
}

TEST_F(BookmarkFileTest, AChangeAndItsUndoLeaveTheFileByteForByte) {
    const std::string bytes =
        "ComboSort=0\r\n[p]\r\nhttp://a/\tA  \r\n\r\nhttp://b/\tB\\\r\n[q]\r\nhttp://c/\tC";
    Write(bytes);
    BookmarkFile file(Path());
    ASSERT_TRUE(file.Open());
    const Names entries = file.Entries("P");
    EXPECT_EQ(entries, (Names{"http://a/\tA", "http://b/\tB"}));
    file.WritePage("p", {entries[1], entries[0]});
    EXPECT_TRUE(file.Changed());
    file.WritePage("p", entries);
    EXPECT_FALSE(file.Changed());
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(Read(), bytes);

    file.WritePage("p", {entries[1], entries[0]});
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(Read(), "ComboSort=0\r\n[p]\r\nhttp://b/\tB\r\nhttp://a/\tA\r\n[q]\r\nhttp://c/\tC");
}

TEST_F(BookmarkFileTest, NewPagesGoToTheEndAndDuplicatesAreFoundByUrl) {
    Write("[p]\nhttp://a/\tA\n");
    BookmarkFile file(Path());
    ASSERT_TRUE(file.Open());
    EXPECT_TRUE(file.HasUrl("p", "http://a/"));
    EXPECT_FALSE(file.HasUrl("p", "http://a"));
    file.AppendEntry("new", BookmarkEntry({"http://n/", "N"}));
    EXPECT_EQ(file.PageNames(), (Names{"p", "new"}));
    EXPECT_TRUE(file.RemovePage("p"));
    EXPECT_FALSE(file.RemovePage("p"));
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(Read(), "[new]\nhttp://n/\tN\n");
}

TEST_F(BookmarkFileTest, AMissingFileIsOnePageAndWrittenOnlyAfterAChange) {
    BookmarkFile file(Path());
    ASSERT_TRUE(file.Open());
    EXPECT_EQ(file.PageNames(), Names{""});
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(Read(), "<missing>");
    file.AppendEntry("", BookmarkEntry({"http://a/", "A"}));
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(Read(), "[]\nhttp://a/\tA\n");
}

}  // namespace
}  // namespace kelvra::app

namespace kelvra::app {
namespace {

TEST(BookmarkEntriesTest, MovesStayInsideTheList) {
    struct Case {
        std::size_t index;
        EntryMove move;
        bool moved;
        Names result;
    };
    const Case cases[] = {
        {2, EntryMove::kTop, true, {"c", "a", "b"}},
        {1, EntryMove::kUp, true, {"b", "a", "c"}},
        {0, EntryMove::kUp, false, {"a", "b", "c"}},
        {1, EntryMove::kDown, true, {"a", "c", "b"}},
        {2, EntryMove::kDown, false, {"a", "b", "c"}},
        {0, EntryMove::kBottom, true, {"b", "c", "a"}},
    };
    for (const Case& c : cases) {
        Names entries{"a", "b", "c"};
        EXPECT_EQ(MoveEntry(entries, c.index, c.move), c.moved) << c.index;
        EXPECT_EQ(entries, c.result) << c.index;
    }
}

TEST_F(BookmarkFileTest, MovingToAnotherPageTakesTheSelectionBottomUp) {
    Write("[p]\na\t1\nb\t2\nc\t3\n[Q]\nq\t0\n");
    BookmarkFile file(Path());
    ASSERT_TRUE(file.Open());
    Names entries = file.Entries("p");
    EXPECT_FALSE(CopyToPage(file, "p", entries, {0}, "P  ", true));
    EXPECT_TRUE(CopyToPage(file, "p", entries, {0, 2}, "q ", true));
    EXPECT_TRUE(CopyToPage(file, "p", entries, {0}, "new", false));
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(Read(), "[p]\nb\t2\n[Q]\nq\t0\nc\t3\na\t1\n[new]\nb\t2\n");

    EXPECT_TRUE(AddToDirectoryBookmarks(dir_.Path(), "p", {"b\tother", "d\t4"}));
    ASSERT_TRUE(file.Open());
    EXPECT_EQ(file.Entries("p"), (Names{"b\t2", "d\t4"}));
}

}  // namespace
}  // namespace kelvra::app
