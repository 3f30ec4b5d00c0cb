#pragma once
// Small operations on 8-bit text. White space is every byte of 0x20 or less (unsigned).

#include <optional>
#include <string>
#include <string_view>

#include "util/ascii.h"

namespace kelvra::util {

std::string_view SkipWhite(std::string_view text);
void TrimLeft(std::string& text);
void TrimRight(std::string& text);
std::string_view Trim(std::string_view text);
// Removes every byte below 0x20.
void RemoveControlBytes(std::string& text);
void SlashToBackslash(std::string& text);
void BackslashToSlash(std::string& text);
void ToUpper(std::string& text);
void ToLower(std::string& text);
std::string LowerCopy(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// Deletes the first n bytes, only when 1 <= n < length.
void DeleteFirst(std::string& text, std::size_t n);

// Field n (0-based) of a comma-separated line. Fields may be enclosed in double quotes, inside
// which commas do not separate and a doubled quote stays doubled; the enclosing quotes are
// dropped. None when the line has fewer fields.
std::optional<std::string> CsvField(std::string_view line, int n);

}  // namespace kelvra::util
