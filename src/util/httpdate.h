#pragma once
// HTTP dates (RFC 1123, RFC 850, asctime).

#include <ctime>
#include <string>
#include <string_view>

namespace kelvra::util {

// "Sun, 06 Nov 1994 08:49:37 GMT" from a broken-down UTC time, English names whatever the locale.
std::string FormatHttpDate(const std::tm& utc);

// Fills a broken-down time from any of the three HTTP date forms; fields it cannot read stay 0
// (an unknown month name gives month 12). Never reads past the end of text.
std::tm ParseHttpDate(std::string_view text);

}  // namespace kelvra::util
