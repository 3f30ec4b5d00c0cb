#include "util/strutil.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kelvra::util {
namespace {

TEST(HexDigitValue, AllClasses) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('A'), 10);
    EXPECT_EQ(HexDigitValue('f'), 15);
    for (unsigned char c : {'g', 'G', '/', ':', '@', '`', ' ', '\0'}) {
        EXPECT_EQ(HexDigitValue(c), -1) << int(c);
    }
    EXPECT_EQ(HexDigitValue(0xB0), -1);  // no high byte is a digit
}

TEST(WhiteSpace, EveryByteUpToSpaceButNoHighByte) {
    std::string text = "\x01\t\r\n \x82\xA0 x \x1f";
    TrimRight(text);
    EXPECT_EQ(text, "\x01\t\r\n \x82\xA0 x");
    TrimLeft(text);
    // Shift_JIS lead and trail bytes are never white space.
    EXPECT_EQ(text, "\x82\xA0 x");
    EXPECT_EQ(SkipWhite("  \t a b "), "a b ");
    EXPECT_EQ(Trim("\r\n a b \r\n"), "a b");
    EXPECT_EQ(Trim("   "), "");
    std::string blank = " \t ";
    TrimLeft(blank);
    EXPECT_EQ(blank, "");
}

TEST(RemoveControlBytes, KeepsSpaceAndHighBytes) {
    std::string text = "a\r\nb\tc \x7f\x82\x9f\x01";
    RemoveControlBytes(text);
    EXPECT_EQ(text, "abc \x7f\x82\x9f");
}

TEST(Slashes, BothDirections) {
    std::string path = "a/b\\c/d";
    SlashToBackslash(path);
    EXPECT_EQ(path, "a\\b\\c\\d");
    BackslashToSlash(path);
    EXPECT_EQ(path, "a/b/c/d");
}

TEST(Case, OnlyAsciiLetters) {
    std::string text = "aZ09\x82\xA0[`{@";
    ToUpper(text);
    EXPECT_EQ(text, "AZ09\x82\xA0[`{@");
    ToLower(text);
    EXPECT_EQ(text, "az09\x82\xA0[`{@");
    EXPECT_EQ(LowerCopy("Content-TYPE"), "content-type");
    EXPECT_TRUE(EqualsNoCase("Pragma:", "pRAGMA:"));
    EXPECT_FALSE(EqualsNoCase("Pragma", "Pragma:"));
    EXPECT_TRUE(StartsWithNoCase("Content-Type: x", "content-type:"));
    EXPECT_FALSE(StartsWithNoCase("Cont", "content"));
}

TEST(DeleteFirst, OnlyWithinTheText) {
    const std::vector<std::tuple<std::string, std::size_t, std::string>> cases = {
        {"abcdef", 2, "cdef"},    // ordinary
        {"abcdef", 0, "abcdef"},  // n below 1: nothing
        {"abcdef", 6, "abcdef"},  // n equal to the length: nothing
        {"abcdef", 9, "abcdef"},  // n beyond the length: nothing
        {"ab", 1, "b"},           // the largest allowed n
    };
    for (auto [text, n, expected] : cases) {
        DeleteFirst(text, n);
        EXPECT_EQ(text, expected) << n;
    }
}

TEST(CsvField, QuotedAndPlainFields) {
    struct Case {
        const char* line;
        int n;
        std::optional<std::string> field;
    };
    const std::vector<Case> cases = {
        {"a,b,c", 0, "a"},                              // first
        {"a,b,c", 2, "c"},                              // last
        {"a,b,c", 3, std::nullopt},                     // too few fields
        {"a,,c", 1, ""},                                // empty field
        {"\"x,y\",z", 0, "x,y"},                        // a comma inside quotes does not separate
        {"\"x,y\",z", 1, "z"},                          // the field after a quoted one
        {"\"say \"\"hi\"\"\",2", 0, "say \"\"hi\"\""},  // doubled quotes stay doubled
        {"1,\"\",3", 1, ""},                            // quoted empty field
        {"", 0, ""},                                    // an empty line has one empty field
        {"", 1, std::nullopt},
        {"a,b", -1, std::nullopt},  // negative index
    };
    for (const Case& c : cases) EXPECT_EQ(CsvField(c.line, c.n), c.field) << c.line << " " << c.n;
}

}  // namespace
}  // namespace kelvra::util
