#include "util/strutil.h"

#include <algorithm>

namespace kelvra::util {

namespace {

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
bool IsWhiteChar(char c) {
    return IsWhite(static_cast<unsigned char>(c));
}

}  // namespace

std::string_view SkipWhite(std::string_view text) {
    const auto first = std::find_if_not(text.begin(), text.end(), IsWhiteChar);
    return text.substr(static_cast<std::size_t>(first - text.begin()));
}

void TrimLeft(std::string& text) {
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), IsWhiteChar));
}

void TrimRight(std::string& text) {
    text.erase(std::find_if_not(text.rbegin(), text.rend(), IsWhiteChar).base(), text.end());
}

std::string_view Trim(std::string_view text) {
    text = SkipWhite(text);
    while (!text.empty() && IsWhiteChar(text.back())) text.remove_suffix(1);
    return text;
}

void RemoveControlBytes(std::string& text) {
    std::erase_if(text, [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

void SlashToBackslash(std::string& text) {
    std::replace(text.begin(), text.end(), '/', '\\');
}

void BackslashToSlash(std::string& text) {
    std::replace(text.begin(), text.end(), '\\', '/');
}

void ToUpper(std::string& text) {
    std::transform(text.begin(), text.end(), text.begin(), UpperAscii);
}

void ToLower(std::string& text) {
    std::transform(text.begin(), text.end(), text.begin(), LowerAscii);
}

std::string LowerCopy(std::string_view text) {
    std::string copy(text);
    ToLower(copy);
    return copy;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
    }
    return true;
}

void DeleteFirst(std::string& text, std::size_t n) {
    if (n >= 1 && n < text.size()) text.erase(0, n);
}

std::optional<std::string> CsvField(std::string_view line, int n) {
    if (n < 0) return std::nullopt;
    std::size_t start = 0;
    for (int field = 0;; ++field) {
        // The field runs to the first comma outside double quotes; a doubled quote toggles
        // twice and so stays inside.
        bool quoted = false;
        std::size_t end = start;
        while (end < line.size() && (quoted || line[end] != ',')) {
            if (line[end] == '"') quoted = !quoted;
            ++end;
        }
        if (field == n) {
            std::string_view value = line.substr(start, end - start);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            return std::string(value);
        }
        if (end >= line.size()) return std::nullopt;
        start = end + 1;
    }
}

}  // namespace kelvra::util
