// Directory listings as FTP servers send them, and the page of links made from them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/ftplisting.h"

namespace kelvra::net {
namespace {

constexpr const char* kSkipped = nullptr;  // the line gives no entry and is not unreadable
constexpr const char* kUnreadable = "";    // the line is not of the format

struct LineRow {
    FtpListFormat format;
    std::string line;
    const char* name;  // kSkipped, kUnreadable or the entry's name
    bool directory;
    std::string detail;
    const char* why;
};

TEST(FtpListingParse, EachFormatLineByLine) {
    using F = FtpListFormat;
    const std::vector<LineRow> rows = {
        {F::kMachine, "type=file;size=10;modify=20231114221320; a.txt", "a.txt", false,
         "10 20231114221320", "a file with its facts"},
        {F::kMachine, "modify=20231114221320;perm=el;type=dir; docs", "docs", true,
         "20231114221320", "type after other facts"},
        {F::kMachine, "Type=DIR;; My Docs", "My Docs", true, "", "fact names ignore case"},
        {F::kMachine, "type=cdir;modify=1; /pub", kSkipped, false, "", "the listed directory"},
        {F::kMachine, "type=pdir; ..", kSkipped, false, "", "its parent"},
        {F::kMachine, "type=OS.unix=slink:/x; cur", "cur", false, "", "a link: fetched as a name"},
        {F::kMachine, " bare", "bare", false, "", "no facts at all"},
        {F::kMachine, "drwxr-xr-x 2 o g 4096 Nov 14 22:13 docs", kUnreadable, false, "",
         "a LIST line is no MLSD line"},
        {F::kMachine, "nofacts", kUnreadable, false, "", "no blank before the name"},
        {F::kLong, "-rw-r--r--   1 owner    group        5000 Nov 14 22:13 big.bin", "big.bin",
         false, "5000 Nov 14 22:13", "the usual file line"},
        {F::kLong, "drwxr-xr-x   2 owner    group        4096 Nov 14  2023 sub dir", "sub dir",
         true, "4096 Nov 14  2023", "an older directory: year instead of time, blank in name"},
        {F::kLong, "lrwxrwxrwx 1 o g 11 Jan  2 03:04 cur -> releases/1", "cur", false,
         "11 Jan  2 03:04", "a link without its target"},
        {F::kLong, "-rw-r--r-- 1 owner 12 Feb 29 12:00 nogroup.txt", "nogroup.txt", false,
         "12 Feb 29 12:00", "no group column"},
        {F::kLong, "-rw-r--r-- 1 o g 10 Nov 14 22:13  two blanks", " two blanks", false,
         "10 Nov 14 22:13", "the name starts one blank after the time"},
        {F::kLong, "-rw-r--r-- 1 o g 10 nov 14 22:13 lower", "lower", false, "10 nov 14 22:13",
         "month in lower case"},
        {F::kLong, "total 12", kSkipped, false, "", "the block count"},
        {F::kLong, "crw-rw-rw- 1 root root 1, 3 Jan 1 00:00 null", kSkipped, false, "",
         "a device is no file to fetch"},
        {F::kLong, "drwxr-xr-x 2 o g 4096 Nov 14 22:13 .", kSkipped, false, "", "the directory"},
        {F::kLong, "11-14-23  10:13PM       <DIR>          docs", kUnreadable, false, "",
         "the MS-DOS form"},
        {F::kLong, "-rw-r--r-- 1 o g 10 Nov 14 22:13", kUnreadable, false, "", "no name"},
        {F::kLong, "-rw-r--r-- 1 o g ten Nov 14 22:13 x", kUnreadable, false, "", "no size"},
        {F::kNames, "a.txt", "a.txt", false, "", "a bare name"},
        {F::kNames, "pub/docs/guide.txt", "guide.txt", false, "", "a name with its directory"},
        {F::kNames, "sub/", "sub", true, "", "a trailing '/' marks a directory"},
        {F::kNames, "..", kSkipped, false, "", "the parent"},
    };
    for (const LineRow& row : rows) {
        FtpListing listing = ParseFtpListing(row.line + "\r\n", row.format);
        if (row.name == kSkipped || row.name == kUnreadable) {
            EXPECT_TRUE(listing.entries.empty()) << row.why;
            EXPECT_EQ(listing.unreadable, row.name == kUnreadable ? 1u : 0u) << row.why;
            continue;
        }
        ASSERT_EQ(listing.entries.size(), 1u) << row.why;
        EXPECT_EQ(listing.entries[0].name, row.name) << row.why;
        EXPECT_EQ(listing.entries[0].directory, row.directory) << row.why;
        EXPECT_EQ(listing.entries[0].detail, row.detail) << row.why;
        EXPECT_EQ(listing.unreadable, 0u) << row.why;
    }
}

TEST(FtpListingParse, LineEndsAndALastLineWithoutOne) {
    FtpListing listing = ParseFtpListing("a\r\nb\n\r\n\nc", FtpListFormat::kNames);
    ASSERT_EQ(listing.entries.size(), 3u);
    EXPECT_EQ(listing.entries[0].name, "a");
    EXPECT_EQ(listing.entries[1].name, "b");
    EXPECT_EQ(listing.entries[2].name, "c");
    // A carriage return inside a line cannot be asked for again: left out.
    EXPECT_TRUE(ParseFtpListing("x\ry\n", FtpListFormat::kNames).entries.empty());
}

TEST(FtpListingPage, NamesBecomeEscapedRelativeLinks) {
    struct Row {
        FtpListEntry entry;
        std::string href;
        const char* why;
    };
    const std::vector<Row> rows = {
        {{"a.txt", false, ""}, "a.txt", "plain"},
        {{"sub", true, ""}, "sub/", "a directory"},
        {{"x y&z.txt", false, ""}, "x%20y%26z.txt", "blank and ampersand"},
        {{"a:b", false, ""}, "a%3Ab", "no scheme"},
        {{"100%?#", false, ""}, "100%25%3F%23", "no escape, query or fragment"},
        {{"\"<>\\", false, ""}, "%22%3C%3E%5C", "nothing that ends the attribute"},
        {{"\xC3\xA9t\xC3\xA9", false, ""}, "%C3%A9t%C3%A9", "8-bit bytes"},
        {{"-._~!$'()*+,;=@", false, ""}, "-._~!$'()*+,;=@", "left as they are"},
    };
    for (const Row& row : rows) EXPECT_EQ(ListingHref(row.entry), row.href) << row.why;

    std::string page = ListingPage("/p&q/", {{"a<b", false, "5 Nov 14 22:13"}, {"d", true, ""}});
    EXPECT_NE(page.find("<title>Index of /p&amp;q/</title>"), std::string::npos) << page;
    EXPECT_NE(page.find("<a href=\"a%3Cb\">a&lt;b</a> 5 Nov 14 22:13<br>\n"), std::string::npos)
        << page;
    EXPECT_NE(page.find("<a href=\"d/\">d/</a><br>\n"), std::string::npos) << page;
    EXPECT_EQ(page.find(".."), std::string::npos) << "no link upwards";
}

}  // namespace
}  // namespace kelvra::net
