#include "util/httpdate.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "util/tempdir.h"

namespace kelvra::util {
namespace {

struct Expected {
    int year;  // years since 1900
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

void ExpectTime(const std::tm& t, const Expected& e, const std::string& what) {
    EXPECT_EQ(t.tm_year, e.year) << what;
    EXPECT_EQ(t.tm_mon, e.month) << what;
    EXPECT_EQ(t.tm_mday, e.day) << what;
    EXPECT_EQ(t.tm_hour, e.hour) << what;
    EXPECT_EQ(t.tm_min, e.minute) << what;
    EXPECT_EQ(t.tm_sec, e.second) << what;
    EXPECT_EQ(t.tm_wday, 0) << what;
    EXPECT_EQ(t.tm_yday, 0) << what;
    EXPECT_EQ(t.tm_isdst, 0) << what;
}

// ---- ParseHttpDate: the forms ----

struct ParseCase {
    const char* text;
    Expected expected;
};

class ParseHttpDateTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseHttpDateTest, Reads) {
    ExpectTime(ParseHttpDate(GetParam().text), GetParam().expected, GetParam().text);
}

constexpr Expected kNov6 = {94, 10, 6, 8, 49, 37};

INSTANTIATE_TEST_SUITE_P(Forms, ParseHttpDateTest,
                         ::testing::Values(
                             // RFC 1123.
                             ParseCase{"Sun, 06 Nov 1994 08:49:37 GMT", kNov6},
                             // RFC 850 with a two-digit year.
                             ParseCase{"Sunday, 06-Nov-94 08:49:37 GMT", kNov6},
                             // asctime, day padded with a space.
                             ParseCase{"Sun Nov  6 08:49:37 1994", kNov6},
                             // asctime with a two-digit day.
                             ParseCase{"Wed Nov 16 08:49:37 1994", {94, 10, 16, 8, 49, 37}},
                             // asctime with a single space before a one-digit day.
                             ParseCase{"Sun Nov 6 08:49:37 1994", kNov6},
                             // RFC 1123 with a one-digit day.
                             ParseCase{"Sun, 6 Nov 1994 08:49:37 GMT", kNov6},
                             // Without the weekday, starting with the day.
                             ParseCase{"06 Nov 1994 08:49:37 GMT", kNov6},
                             ParseCase{"6-Nov-94 08:49:37", kNov6},
                             // Month names without regard to case.
                             ParseCase{"Mon, 01 JAN 2001 00:00:00 GMT", {101, 0, 1, 0, 0, 0}},
                             ParseCase{"Fri, 31 dec 1999 23:59:59 GMT", {99, 11, 31, 23, 59, 59}},
                             // Numeric month, then up to the next '-' for the year.
                             ParseCase{"Sun, 06-11-1994 08:49:37 GMT", kNov6},
                             // An unknown month name gives month 12.
                             ParseCase{"Sun, 06 Foo 1994 08:49:37 GMT", {94, 12, 6, 8, 49, 37}}));

INSTANTIATE_TEST_SUITE_P(TwoDigitYears, ParseHttpDateTest,
                         ::testing::Values(
                             // 70 is still this century's side of the pivot: 2070.
                             ParseCase{"Thursday, 01-Jan-70 00:00:00 GMT", {170, 0, 1, 0, 0, 0}},
                             // 71 and above are 19xx.
                             ParseCase{"Friday, 01-Jan-71 00:00:00 GMT", {71, 0, 1, 0, 0, 0}},
                             // 00 is 2000.
                             ParseCase{"Saturday, 01-Jan-00 12:00:00 GMT", {100, 0, 1, 12, 0, 0}},
                             // 99 is 1999.
                             ParseCase{"Friday, 31-Dec-99 23:59:59 GMT",
                                       {99, 11, 31, 23, 59, 59}}));

// ---- ParseHttpDate: short and garbled input ----

// Every prefix of each form is parsed from a heap buffer of exactly its size, so reading one
// byte too far is caught by the sanitizer build; the fields read so far must be right.
TEST(ParseHttpDateBounds, EveryPrefixStaysInside) {
    for (const std::string full :
         {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
          "Sun Nov  6 08:49:37 1994", "Sun, 06-11-1994 08:49:37 GMT"}) {
        for (std::size_t length = 0; length <= full.size(); ++length) {
            auto exact = std::make_unique<char[]>(length ? length : 1);
            full.copy(exact.get(), length);
            const std::tm t = ParseHttpDate(std::string_view(exact.get(), length));
            EXPECT_TRUE(t.tm_mon >= 0 && t.tm_mon <= 12) << full.substr(0, length);
        }
        ExpectTime(ParseHttpDate(full), kNov6, full);
    }
}

TEST(ParseHttpDateBounds, ShortInputsKeepUnreadFieldsZero) {
    struct Case {
        const char* text;
        Expected expected;
    };
    const std::vector<Case> cases = {
        // Nothing at all: asctime form with every field unread, the month unknown.
        {"", {0, 12, 0, 0, 0, 0}},
        // A comma at the very end: nothing follows it.
        {"Sun,", {0, 12, 0, 0, 0, 0}},
        // Stops after the year.
        {"Sun, 06 Nov 1994", {94, 10, 6, 0, 0, 0}},
        // Stops inside the clock: hour and minute only.
        {"Sun, 06 Nov 1994 08:49", {94, 10, 6, 8, 49, 0}},
        // A numeric month without a '-' after it: no year, no clock.
        {"Sun, 06 11 1994 08:49:37", {0, 10, 6, 0, 0, 0}},
        // asctime cut after the clock.
        {"Sun Nov  6 08:49:37", {0, 10, 6, 8, 49, 37}},
        // A numeric month out of range is unknown.
        {"06-13-1994 08:49:37", {94, 12, 6, 8, 49, 37}},
    };
    for (const Case& c : cases) ExpectTime(ParseHttpDate(c.text), c.expected, c.text);
}

TEST(ParseHttpDateBounds, GarbageDoesNotCrash) {
    const std::vector<std::string> garbage = {
        ",",
        ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,",
        "0",
        "9999999999999999999999999",
        "   ",
        std::string("Sun,\0 06 Nov", 12),
        "\xff\xfe\xfd,\x80\x81",
        "Sun Nov",
        "-",
        "1-",
        "Sun, 06 \xe3\x80\x80 1994",
    };
    for (const std::string& text : garbage) {
        auto exact = std::make_unique<char[]>(text.size() + 1);
        text.copy(exact.get(), text.size());
        const std::tm t = ParseHttpDate(std::string_view(exact.get(), text.size()));
        EXPECT_TRUE(t.tm_mon >= 0 && t.tm_mon <= 12);
        EXPECT_TRUE(t.tm_hour >= 0 && t.tm_hour <= 99);
    }
}

// ---- FormatHttpDate ----

std::tm Broken(int year, int month, int day, int hour, int minute, int second, int weekday) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_wday = weekday;
    return t;
}

TEST(FormatHttpDate, WritesRfc1123) {
    EXPECT_EQ(FormatHttpDate(Broken(1994, 10, 6, 8, 49, 37, 0)), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(FormatHttpDate(Broken(2024, 1, 29, 23, 5, 9, 4)), "Thu, 29 Feb 2024 23:05:09 GMT");
    EXPECT_EQ(FormatHttpDate(Broken(2000, 0, 1, 0, 0, 0, 6)), "Sat, 01 Jan 2000 00:00:00 GMT");
    EXPECT_EQ(FormatHttpDate(Broken(1999, 11, 31, 12, 0, 0, 5)).size(), 29u);
}

TEST(FormatHttpDate, RoundTripsThroughTheParser) {
    const std::tm original = Broken(2031, 6, 14, 17, 3, 58, 1);
    const std::tm parsed = ParseHttpDate(FormatHttpDate(original));
    ExpectTime(parsed, {131, 6, 14, 17, 3, 58}, "round trip");
}

TEST(FormatHttpDate, OutOfRangeNamesDoNotReadOutsideTheTables) {
    EXPECT_EQ(FormatHttpDate(Broken(1994, 12, 6, 8, 49, 37, 7)), "???, 06 ??? 1994 08:49:37 GMT");
}

// Makes a German locale current for one test: the installed one, or one compiled into a
// temporary directory with localedef; restores "C" afterwards.
class GermanLocale final {
  public:
    GermanLocale() {
        if (Select()) return;
        if (!dir_.ok()) return;
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + dir_.Path("de_DE.UTF-8") + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return;
        ::setenv("LOCPATH", dir_.Path().c_str(), 1);
        using_locpath_ = true;
        Select();
    }
    ~GermanLocale() {
        std::setlocale(LC_ALL, "C");
        if (using_locpath_) ::unsetenv("LOCPATH");
    }
    bool active() const { return active_; }

  private:
    bool Select() {
        active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        return active_;
    }

    kelvra::testing::TempDir dir_;
    bool active_ = false;
    bool using_locpath_ = false;
};

TEST(FormatHttpDate, EnglishNamesUnderAGermanLocale) {
    GermanLocale german;
    if (!german.active()) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale installed and localedef could not build one";
    }
    // The locale really is German: strftime would write "So" and "Mär".
    const std::tm march = Broken(2024, 2, 3, 10, 0, 0, 0);
    char local[64];
    ASSERT_GT(std::strftime(local, sizeof local, "%a %b", &march), 0u);
    ASSERT_STRNE(local, "Sun Mar");
    EXPECT_EQ(FormatHttpDate(march), "Sun, 03 Mar 2024 10:00:00 GMT");
}

}  // namespace
}  // namespace kelvra::util
