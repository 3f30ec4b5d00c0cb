#include "util/patternmatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

namespace kelvra::util {
namespace {

constexpr unsigned kSearch = 0;
constexpr unsigned kNoCase = kPatternIgnoreCase;
constexpr unsigned kAnch = kPatternAnchored;
constexpr std::optional<std::size_t> kNo = std::nullopt;

struct Case {
    const char* subject;
    const char* pattern;
    unsigned options;
    std::optional<std::size_t> end;
    const char* why;
};

class PatternLanguage : public ::testing::TestWithParam<Case> {};

TEST_P(PatternLanguage, EndPositionOrNone) {
    const Case& c = GetParam();
    EXPECT_EQ(PatternMatch(c.subject, c.pattern, c.options), c.end) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PatternLanguage,
    ::testing::Values(
        Case{"abc", "abc", kSearch, 3, "literal bytes"},
        Case{"xxabc", "abc", kSearch, 5, "searching finds the first start from the left"},
        Case{"xxabc", "abc", kAnch, kNo, "anchored must begin at the first byte"},
        Case{"ABC", "abc", kSearch, kNo, "case matters by default"},
        Case{"ABC", "abc", kNoCase, 3, "ignore-case folds a-z"},
        Case{"\xE0", "\xC0", kNoCase, kNo, "only ASCII letters fold"},
        Case{"axc", "a.c", kSearch, 3, "dot matches any byte"},
        Case{"b", "[abc]", kSearch, 1, "set"}, Case{"d", "[abc]", kSearch, kNo, "byte not in set"},
        Case{"d", "[^abc]", kSearch, 1, "negated set"}, Case{"m", "[a-z]", kSearch, 1, "range"},
        Case{"M", "[a-z]", kNoCase, 1, "range ignoring case"},
        Case{"\x90", "[\x80-\xA0]", kSearch, 1, "range of high bytes compared as signed"},
        Case{"\x90", "[a-\xA0]", kSearch, kNo, "signed range a..-96 is empty"},
        Case{"]", "[\\]]", kSearch, 1, "backslash in a set takes the next byte"},
        Case{"-", "[a-]", kSearch, 1, "dash before ] is literal"},
        Case{"abc", "[abc", kSearch, kNo, "unclosed set never matches"},
        Case{"a*b", "a\\*b", kSearch, 3, "escaped byte is literal"},
        Case{"a(b", "a\\(b", kSearch, 3, "\\( is literal without a capture table"},
        Case{"abc", "(a|ab)c", kSearch, 3, "farthest-ending alternative is taken"},
        Case{"ab", "(ab|a)b", kSearch, kNo, "alternatives are not tried again"},
        Case{"xyz", "x(|y)z", kSearch, 3, "empty alternative"},
        Case{"a|b", "(a\\|b)", kSearch, 3, "escaped bar does not split"},
        Case{"a)", "(a\\))", kSearch, 2, "escaped paren does not close"},
        Case{"ab", "(ab", kSearch, kNo, "unclosed group never matches"},
        Case{"aXb", "((x|y)b|a)", kNoCase, 1, "nested group"},
        Case{"abc", "c$", kSearch, 3, "dollar at the end"},
        Case{"abcd", "c$", kSearch, kNo, "dollar elsewhere fails"},
        Case{"abc", "^b", kSearch, kNo, "caret at start fixes the subject start"},
        Case{"abc", "^a", kSearch, 1, "caret at start"},
        Case{"abc", "^a", kAnch, kNo, "caret in anchored mode fails"},
        Case{"abc", "(^a|b)", kSearch, 2, "caret inside an alternative fails it"},
        Case{"aXbXc", "*X", kSearch, 2, "leading star matches the shortest run"},
        Case{"aXbXc", "a(*X)", kSearch, 2, "star at an alternative start"},
        Case{"aaab", "a*", kAnch, 3, "greedy count reported"},
        Case{"aaab", "a*ab", kAnch, 4, "count backs off so the rest matches"},
        Case{"b", "a+", kSearch, kNo, "plus needs one"},
        Case{"ac", "ab?c", kSearch, 2, "optional atom"},
        Case{"aaaa", "a{2}", kAnch, 2, "exact count"},
        Case{"aaaa", "a{2,3}", kAnch, 3, "bounded count"},
        Case{"a", "a{2,}", kAnch, kNo, "at least n"},
        Case{"aaaaa", "a{2,}", kAnch, 5, "at least n, greedy"},
        Case{"a{2", "a{2", kSearch, 3, "unclosed brace is no repetition"},
        Case{"abab", "(ab)+", kAnch, 4, "repeated group"},
        Case{"ababx", "(ab){1,2}x", kAnch, 5, "bounded repeated group"},
        Case{"x", "(a|)*x", kAnch, 1, "zero-width group repetition terminates"},
        Case{"", "$", kSearch, 0, "empty subject"},
        Case{"", "", kSearch, 0, "empty pattern matches at once"}));

TEST(PatternCaptures, RecordsMarkedSpans) {
    CaptureTable table;
    const std::string subject = "http://host/dir/page.html";
    auto end = PatternMatch(subject, "//\\([^/]*\\)/\\(.*\\)$", 0, &table);
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(table.count, 2);
    EXPECT_EQ(table.Text(subject, 1), "host");
    EXPECT_EQ(table.Text(subject, 2), "dir/page.html");
    EXPECT_FALSE(table.Has(3));
}

TEST(PatternCaptures, CaptureInsideChosenAlternative) {
    CaptureTable table;
    const std::string subject = "id=42;";
    ASSERT_TRUE(PatternMatch(subject, "(x|id=\\([0-9]+\\));", 0, &table));
    EXPECT_EQ(table.Text(subject, 1), "42");
}

TEST(PatternCaptures, UnclosedCaptureIsMissing) {
    CaptureTable table;
    ASSERT_TRUE(PatternMatch("abc", "a\\(b", 0, &table));
    EXPECT_EQ(table.count, 1);
    EXPECT_FALSE(table.Has(1));
}

// A backtracking matcher takes exponential or high polynomial time here.
class PatternBoundedTime : public ::testing::TestWithParam<const char*> {};

TEST_P(PatternBoundedTime, HostilePatternOnLongUrl) {
    std::string url = "http://host/";
    while (url.size() < 2000) url += "abcdefghij/";
    url.resize(2000);
    std::string pattern = GetParam();
    const auto start = std::chrono::steady_clock::now();
    const auto result = PatternMatch(url, pattern, kPatternIgnoreCase);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(result.has_value());  // every case ends in a byte that is absent
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 50);
}

std::string ThirtyDotStars() {
    std::string p;
    for (int i = 0; i < 30; ++i) p += ".*";
    return p + "#";
}
const std::string kThirty = ThirtyDotStars();

INSTANTIATE_TEST_SUITE_P(Hostile, PatternBoundedTime,
                         ::testing::Values(kThirty.c_str(), "(a*)*#", "((.|..)+)+#",
                                           "(.*)*(.*)*(.*)*#", "(.+.+.+)+#", "*a*b*c*d*e*f*#",
                                           ".{0,2000}.{0,2000}#"));

}  // namespace
}  // namespace kelvra::util
