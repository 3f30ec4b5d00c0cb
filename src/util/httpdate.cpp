#include "util/httpdate.h"

#include <algorithm>
#include <cstdio>

#include "util/ascii.h"

namespace kelvra::util {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int kUnknownMonth = 12;
// Two-digit years below this are 20xx, the others 19xx.
constexpr int kTwoDigitYearPivot = 71;

template <std::size_t N>
const char* NameOrPlaceholder(const char* const (&names)[N], int index) {
    return index >= 0 && static_cast<std::size_t>(index) < N ? names[index] : "???";
}

// Bounds-checked view of the date text: bytes past the end read as NUL.
class DateText final {
  public:
    explicit DateText(std::string_view text) : text_(text) {}

    unsigned char At(std::size_t i) const {
        return i < text_.size() ? static_cast<unsigned char>(text_[i]) : 0;
    }
    bool IsDigitAt(std::size_t i) const { return IsDigit(At(i)); }

    // Up to width decimal digits at i, after any spaces (as atoi would skip them); -1 when none.
    int Number(std::size_t i, int width) const {
        while (At(i) == ' ') ++i;
        if (!IsDigitAt(i)) return -1;
        int value = 0;
        for (int k = 0; k < width && IsDigitAt(i); ++k, ++i) value = value * 10 + (At(i) - '0');
        return value;
    }

    // Month 0-11 from a three-letter name at i, compared without regard to case.
    int MonthName(std::size_t i) const {
        for (int month = 0; month < 12; ++month) {
            bool same = true;
            for (std::size_t k = 0; k < 3 && same; ++k) {
                same = Fold(At(i + k)) == Fold(static_cast<unsigned char>(kMonthNames[month][k]));
            }
            if (same) return month;
        }
        return kUnknownMonth;
    }

    std::size_t Find(char c, std::size_t from) const {
        return from < text_.size() ? text_.find(c, from) : std::string_view::npos;
    }

  private:
    static unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

    std::string_view text_;
};

// Fields that hold no number stay 0.
void Store(int& field, int number, int offset = 0) {
    if (number >= 0) field = number + offset;
}

void ReadClock(const DateText& date, std::size_t at, std::tm& time) {
    Store(time.tm_hour, date.Number(at, 2));
    Store(time.tm_min, date.Number(at + 3, 2));
    Store(time.tm_sec, date.Number(at + 6, 2));
}

// Reads the year at `at` into time; returns where the clock starts.
std::size_t ReadYear(const DateText& date, std::size_t at, std::tm& time) {
    if (date.At(at + 2) != ' ') {
        Store(time.tm_year, date.Number(at, 4), -1900);
        return at + 5;
    }
    const int year = date.Number(at, 2);
    Store(time.tm_year, year, year < kTwoDigitYearPivot ? 100 : 0);
    return at + 3;
}

int NumericMonth(int number) {
    return number >= 1 && number <= 12 ? number - 1 : kUnknownMonth;
}

// "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" and the same without the
// weekday; day_at is where the day of the month starts.
void ParseDayFirst(const DateText& date, std::size_t day_at, std::tm& time) {
    Store(time.tm_mday, date.Number(day_at, 2));
    const std::size_t month_at = day_at + (date.IsDigitAt(day_at + 1) ? 3 : 2);
    std::size_t year_at;
    const unsigned char first = date.At(month_at);
    if ((first >= '0' && first <= '9') || first == ' ') {
        time.tm_mon = NumericMonth(date.Number(month_at, 2));
        const std::size_t dash = date.Find('-', month_at);
        if (dash == std::string_view::npos) return;
        year_at = dash + 1;
    } else {
        time.tm_mon = date.MonthName(month_at);
        year_at = month_at + 4;
    }
    ReadClock(date, ReadYear(date, year_at, time), time);
}

// asctime: "Sun Nov  6 08:49:37 1994".
void ParseAsctime(const DateText& date, std::tm& time) {
    time.tm_mon = date.MonthName(4);
    Store(time.tm_mday, date.Number(8, 2));
    const std::size_t clock_at = date.At(9) == ' ' ? 10 : 11;
    ReadClock(date, clock_at, time);
    Store(time.tm_year, date.Number(clock_at + 9, 4), -1900);
}

}  // namespace

std::string FormatHttpDate(const std::tm& utc) {
    char field[64];
    const int length = std::snprintf(field, sizeof field, "%s, %02d %s %d %02d:%02d:%02d GMT",
                                     NameOrPlaceholder(kDayNames, utc.tm_wday), utc.tm_mday,
                                     NameOrPlaceholder(kMonthNames, utc.tm_mon), utc.tm_year + 1900,
                                     utc.tm_hour, utc.tm_min, utc.tm_sec);
    return length > 0 ? std::string(field, std::min<std::size_t>(length, sizeof field - 1))
                      : std::string();
}

std::tm ParseHttpDate(std::string_view text) {
    std::tm time{};
    const DateText date(text);
    const std::size_t comma = text.find(',');
    if (comma != std::string_view::npos) {
        ParseDayFirst(date, comma + 2, time);
    } else if (date.IsDigitAt(0)) {
        ParseDayFirst(date, 0, time);
    } else {
        ParseAsctime(date, time);
    }
    return time;
}

}  // namespace kelvra::util
