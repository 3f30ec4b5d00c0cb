#include "util/header.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kelvra::util {
namespace {

// ---- FindHeader ----

struct HeaderCase {
    const char* what;
    std::string block;
    const char* name;
    std::optional<std::string> value;  // none: not found
};

class FindHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(FindHeaderTest, Finds) {
    const HeaderCase& c = GetParam();
    const std::string_view found = FindHeader(c.block, c.name);
    if (!c.value) {
        EXPECT_TRUE(found.empty()) << c.what;
        EXPECT_EQ(found.data(), nullptr) << c.what;
        return;
    }
    EXPECT_EQ(std::string(found), *c.value) << c.what;
    // The value is a view into the block itself.
    EXPECT_GE(found.data(), c.block.data()) << c.what;
    EXPECT_LE(found.data() + found.size(), c.block.data() + c.block.size()) << c.what;
}

const std::string kResponse =
    "HTTP/1.0 200 OK\r\n"
    "Content-Type: text/html\r\n"
    "Content-Length:   1234\r\n"
    "Pragma:\r\n"
    "X-Folded: first\r\n"
    " second\r\n"
    "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
    "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, FindHeaderTest,
    ::testing::Values(
        // The name is compared without regard to case; the CR is left off.
        HeaderCase{"case", kResponse, "content-type:", "text/html"},
        // Spaces after the colon are skipped.
        HeaderCase{"spaces", kResponse, "Content-Length:", "1234"},
        // An empty value counts as not found.
        HeaderCase{"empty", kResponse, "Pragma:", std::nullopt},
        // A folded field keeps its continuation line.
        HeaderCase{"folded", kResponse, "x-folded:", "first\r\n second"},
        // The last field before the blank line.
        HeaderCase{"last", kResponse, "Last-Modified:", "Sun, 06 Nov 1994 08:49:37 GMT"},
        // A missing field.
        HeaderCase{"missing", kResponse, "Location:", std::nullopt},
        // The colon is part of the name: "Content" alone must not match "Content-Type:".
        HeaderCase{"colon", "Content-Type: a\n", "Content:", std::nullopt},
        // A name found inside a continuation line is not a field.
        HeaderCase{"inside continuation", "X-A: 1\n Location: no\n", "Location:", std::nullopt},
        // Leading continuation lines outside any field are skipped.
        HeaderCase{"leading white", " Location: no\nLocation: yes\n", "location:", "yes"},
        // LF-only lines and a block without a final line end.
        HeaderCase{"lf only", "A: 1\nB: 2", "b:", "2"},
        // A block shorter than the name.
        HeaderCase{"short block", "Con", "Content-Type:", std::nullopt},
        // An empty block.
        HeaderCase{"empty block", "", "A:", std::nullopt}));

// Looking for many names in one walk finds what looking for each alone finds, the same view
// of the same bytes: the first field of a name decides even when it is empty, a name that is
// the start of another matches only its own fields, and an empty name matches nothing.
TEST(FindHeaders, AgreesWithOneLookUpPerName) {
    const std::vector<std::string> blocks = {
        kResponse,
        "Pragma:\nPragma: no-cache\nXRange: 5\nXR: 404\n",
        " Location: no\nX-A: 1\n Location: no\nlocation: yes\n",
        "",
    };
    const std::vector<std::string_view> names = {
        "Content-Type:", "pragma:", "XR:", "XRange:", "Location:", "", "x-folded:", "Missing:",
    };
    for (const std::string& block : blocks) {
        std::vector<std::string_view> values(names.size(), "left over");
        FindHeaders(block, names, values);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string_view alone = FindHeader(block, names[i]);
            EXPECT_EQ(values[i], alone) << block << " / " << names[i];
            EXPECT_EQ(values[i].data(), alone.data()) << block << " / " << names[i];
        }
    }
}

// ---- FindParameter ----

struct ParameterCase {
    const char* what;
    const char* text;
    const char* keys;
    bool separators;
    std::optional<std::string> value;  // none: -1
};

class FindParameterTest : public ::testing::TestWithParam<ParameterCase> {};

TEST_P(FindParameterTest, Finds) {
    const ParameterCase& c = GetParam();
    const std::string_view text = c.text;
    std::size_t length = 12345;
    const long offset = FindParameter(text, c.keys, length, c.separators);
    if (!c.value) {
        EXPECT_EQ(offset, -1) << c.what;
        return;
    }
    ASSERT_GE(offset, 0) << c.what;
    EXPECT_EQ(std::string(text.substr(offset, length)), *c.value) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindParameterTest,
    ::testing::Values(
        // A plain attribute.
        ParameterCase{"plain", "href=index.html", "href", false, "index.html"},
        // Double and single quotes; the value runs to the same quote.
        ParameterCase{"double", "a href=\"x y.html\" b", "href", false, "x y.html"},
        ParameterCase{"single", "src='it\"s.gif'", "src", false, "it\"s.gif"},
        // White space around '=' and inside the opening quote.
        ParameterCase{"spaces", "href = \"  x.html\"", "href", false, "x.html"},
        // An unclosed quote ends at the first control byte.
        ParameterCase{"unclosed", "href=\"x.html\r\nnext", "href", false, "x.html"},
        // Keys are case-sensitive.
        ParameterCase{"case", "HREF=x", "href", false, std::nullopt},
        // Quoted strings are skipped whole: the key inside the quote is not a token.
        ParameterCase{"quoted skip", "alt=\"href=no\" href=yes", "href", false, "yes"},
        // A longer name that starts with the key is another attribute.
        ParameterCase{"longer name", "hreflang=en href=x.html", "href", false, "x.html"},
        // Several keys in order: the value after the last one.
        ParameterCase{"two keys", "http-equiv=\"refresh\" content=\"5; url=a.html\"",
                      "http-equiv content", false, "5; url=a.html"},
        // The second key must come after the first.
        ParameterCase{"order", "content=\"5\" http-equiv=\"refresh\"", "http-equiv content", false,
                      std::nullopt},
        // Leading white space and one opening quote of the text are skipped.
        ParameterCase{"opening quote", "  \"0; url=next.html", "url", true, "next.html"},
        // With separators ';' and ',' end tokens and the unquoted value.
        ParameterCase{"separators", "no-cache,max-age=3600;x", "max-age", true, "3600"},
        // Without them the token "no-cache,max-age=3600" does not start with the key.
        ParameterCase{"no separators", "no-cache,max-age=3600", "max-age", false, std::nullopt},
        // A key without '=' fails.
        ParameterCase{"no equals", "max-age 3600", "max-age", true, std::nullopt},
        // A key at the very end fails.
        ParameterCase{"at end", "href", "href", false, std::nullopt},
        ParameterCase{"equals at end", "href=", "href", false, std::nullopt},
        // An empty key list fails.
        ParameterCase{"no keys", "a=b", "  ", false, std::nullopt}));

TEST(FindParameterOffset, CountsFromTheStartOfTheText) {
    std::size_t length = 0;
    EXPECT_EQ(FindParameter("  href=\"abc\"", "href", length, false), 8);
    EXPECT_EQ(length, 3u);
}

}  // namespace
}  // namespace kelvra::util
