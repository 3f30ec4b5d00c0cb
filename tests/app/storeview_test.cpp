// The main window's view of the store: tree items, the rows of a directory's list with their
// report columns, page titles, the walk from a URL to the tree, and sorting by column.

#include "app/storeview.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/stored_site_fixture.h"

namespace kelvra::app {
namespace {

using testing::StoredSiteTest;

class StoreView : public StoredSiteTest {};

// "name:image/selected(children)" for a compact comparison.
std::string Render(const std::vector<TreeItem>& items) {
    std::string text;
    for (const TreeItem& item : items) {
        if (!text.empty()) text += ",";
        text += item.name + ":" + std::to_string(item.image) + "/" +
                std::to_string(item.selected_image);
        if (!item.children.empty()) text += "(" + Render(item.children) + ")";
    }
    return text;
}

TEST_F(StoreView, TheTreeShowsHostsAndDirectoriesTwoLevelsDeep) {
    PutSampleSite();
    // "only" holds nothing but its own document, so it is a directory with a record; "plain"
    // has no document; files and the empty-named document are no items; "deep" is a third
    // level and waits for "plain" to be expanded.
    EXPECT_EQ(Render(TreeItemsBelow(Store(), {})), "h:0/1(only:0/1,plain:2/3)");
    const std::vector<std::string> plain = {"h", "plain"};
    EXPECT_EQ(Render(TreeItemsBelow(Store(), plain)), "deep:2/3");
    const std::vector<std::string> missing = {"h", "nothing"};
    EXPECT_TRUE(TreeItemsBelow(Store(), missing).empty());
}

TEST_F(StoreView, TreeUrlsAndTheWalkBackToTheTree) {
    const std::vector<std::string> names = {"h:8080", "a b", "\xE6\x97\xA5"};
    EXPECT_EQ(TreeItemUrl(names), "http://h:8080/a%20b/%e6%97%a5/");
    EXPECT_EQ(TreePathOfUrl(TreeItemUrl(names)), names);
    EXPECT_EQ(TreePathOfUrl("http://h/a%20b/c.html?q=1/2"),
              (std::vector<std::string>{"h", "a b", "c.html"}))
        << "cut at the query";
    EXPECT_EQ(TreePathOfUrl("ftp://h"), (std::vector<std::string>{"h"}));
}

TEST_F(StoreView, ListRowsWithTheirImagesAndReportColumns) {
    PutSampleSite();
    struct Row {
        const char* name;
        int image;
        const char* title;
        const char* web_date;
        const char* file_date;
        const char* size;
    };
    const char* file_date = "2000/01/01 19:20";
    const Row expected[] = {
        // the directory's own document, its title's entities for & and " decoded only
        {"", kImageDirectoryDocument, "Top & \"Q\" &lt;x&gt;", "---", file_date, "1KB"},
        {"#c", kImageCookie, "[Cookie]", "", "", ""},
        {"gone.html", kImageMissingObject, " (No object)", "", "", ""},  // file deleted
        {"notype.qqq", kImageFile, "---", "2000/01/01 10:20", file_date, "1KB"},
        // a directory with only its document; the UTF-8 title in CP932
        {"only", kImageDirectoryWithDocument, "\x93\xfa\x96\x7b", "---", file_date, "1KB"},
        {"page.html", kImageFile, "P", "2000/01/01 10:20", file_date, "2KB"},  // 1025 bytes
        {"part.bin", kImagePartialFile, "(application/octet-stream)", "---", file_date, "0KB"},
        {"plain", kImageDirectory, " <Folder>", "", "", ""},
    };
    ListFill fill(Store(), "http://h/", true);
    ASSERT_TRUE(fill.Found());
    std::vector<ListRow> rows;
    while (fill.Next(rows, 3)) {
    }
    ASSERT_EQ(rows.size(), std::size(expected));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& want = expected[i];
        EXPECT_EQ(rows[i].name, want.name) << i;
        EXPECT_EQ(rows[i].image, want.image) << want.name;
        EXPECT_EQ(rows[i].title, want.title) << want.name;
        EXPECT_EQ(rows[i].web_date, want.web_date) << want.name;
        EXPECT_EQ(rows[i].file_date, want.file_date) << want.name;
        EXPECT_EQ(rows[i].size, want.size) << want.name;
    }
    EXPECT_EQ(ListRowUrl("http://h/", rows[0].name), "http://h/") << "the document itself";
    EXPECT_FALSE(ListFill(Store(), "http://h/nothing/", true).Found());
}

TEST_F(StoreView, AListFilledInStepsFollowsEntriesAddedMeanwhile) {
    PutSampleSite();
    ListFill fill(Store(), "http://h", false);
    std::vector<ListRow> rows;
    ASSERT_TRUE(fill.Next(rows, 3));                 // "", "#c", "gone.html"
    Put("http://h/a.txt", "CT:text/plain\n", "x");   // before the place reached: not listed
    Put("http://h/zz.txt", "CT:text/plain\n", "x");  // after it: listed
    while (fill.Next(rows, 3)) {
    }
    std::vector<std::string> names;
    for (const ListRow& row : rows) names.push_back(row.name);
    EXPECT_EQ(names, (std::vector<std::string>{"", "#c", "gone.html", "notype.qqq", "only",
                                               "page.html", "part.bin", "plain", "zz.txt"}));
    EXPECT_TRUE(rows.back().title.empty()) << "list view reads no titles";
}

TEST_F(StoreView, PageTitles) {
    struct Case {
        std::string page;
        std::optional<std::string> title;
        const char* why;
    };
    const Case cases[] = {
        {"<head><TiTlE>a\tb\r\nc</TITLE>", "abc", "any case; TAB, CR and LF left out"},
        {"<title>a&amp;b &quot;c&quot; &lt;d&gt;</title>", "a&b \"c\" &lt;d&gt;",
         "only &amp; and &quot; decoded"},
        {"<title>\xE6\x97\xA5\xE6\x9C\xAC</title>", "\x93\xfa\x96\x7b", "UTF-8 to CP932"},
        {"<title>" + std::string(300, 'x') + "</title>", std::string(255, 'x'), "255 at most"},
        {"<title>open to the end", "open to the end", "no closing tag"},
        {std::string(5000, ' ') + "<title>far</title>", "far", "past the first block read"},
        {"<html><body>no title</body>", std::nullopt, "no <title>"},
    };
    for (const Case& c : cases) {
        std::ofstream(data_ + "t.html", std::ios::binary) << c.page;
        EXPECT_EQ(PageTitle(data_ + "t.html"), c.title) << c.why;
    }
    EXPECT_EQ(PageTitle(data_ + "missing.html"), std::nullopt);
    EXPECT_EQ(Cp932ToUtf8("\x93\xfa\x96\x7b (x)"), "\xE6\x97\xA5\xE6\x9C\xAC (x)");
    EXPECT_EQ(Cp932ToUtf8("a\xFF"
                          "b\x93"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD")
        << "a byte that is no character, and a character cut short";
}

TEST(ListSorting, SizesSortByNumberAndEachClickReversesTheColumn) {
    std::vector<std::string> sizes = {"10KB", "9KB", "100KB", "0KB"};
    ListSortState state;
    for (const bool ascending : {true, false}) {
        ASSERT_EQ(state.Click(kSizeColumn), ascending);
        std::sort(sizes.begin(), sizes.end(), [ascending](const auto& a, const auto& b) {
            const int order = CompareColumnTexts(kSizeColumn, a, b);
            return ascending ? order < 0 : order > 0;
        });
        const std::vector<std::string> up = {"0KB", "9KB", "10KB", "100KB"};
        const std::vector<std::string> down(up.rbegin(), up.rend());
        EXPECT_EQ(sizes, ascending ? up : down);
    }
    EXPECT_TRUE(state.Click(1)) << "each column starts ascending";
    EXPECT_TRUE(state.Click(kSizeColumn));
    EXPECT_LT(CompareColumnTexts(1, "(text/a)", "(text/b)"), 0) << "text for other columns";
}

}  // namespace
}  // namespace kelvra::app
