#include "util/header.h"

#include <algorithm>
#include <cstdint>

#include "util/strutil.h"

namespace kelvra::util {

namespace {

// End of the field that starts at `start`: the line feed of its last line (continuation
// lines begin with white space), or the end of the block.
std::size_t FieldEnd(std::string_view block, std::size_t start) {
    std::size_t end = block.find('\n', start);
    while (end != std::string_view::npos && end + 1 < block.size() &&
           IsWhite(static_cast<unsigned char>(block[end + 1]))) {
        end = block.find('\n', end + 1);
    }
    return end == std::string_view::npos ? block.size() : end;
}

std::size_t NextLine(std::string_view block, std::size_t start) {
    const std::size_t end = block.find('\n', start);
    return end == std::string_view::npos ? block.size() : end + 1;
}

std::string_view FieldValue(std::string_view block, std::size_t start, std::size_t end) {
    while (start < end && (block[start] == ' ' || block[start] == '\t')) ++start;
    while (end > start && static_cast<unsigned char>(block[end - 1]) < 0x20) --end;
    return end > start ? block.substr(start, end - start) : std::string_view();
}

// Separator handling shared by the token scanner and the value reader.
bool EndsToken(unsigned char c, bool separators) {
    return IsWhite(c) || (separators && (c == ';' || c == ','));
}

// Skips to the start of the next token at or after `at`.
std::size_t SkipSeparators(std::string_view text, std::size_t at, bool separators) {
    while (at < text.size() && EndsToken(static_cast<unsigned char>(text[at]), separators)) ++at;
    return at;
}

// Skips over the token at `at`; a quoted string inside it is skipped as a whole.
std::size_t SkipToken(std::string_view text, std::size_t at, bool separators) {
    while (at < text.size() && !EndsToken(static_cast<unsigned char>(text[at]), separators)) {
        if (text[at] == '"') {
            const std::size_t close = text.find('"', at + 1);
            if (close == std::string_view::npos) return text.size();
            at = close;
        }
        ++at;
    }
    return at;
}

// A token matches a key when it starts with it and the key is not just the start of a longer
// name ("href" must not match "hreflang=").
bool TokenStartsWithKey(std::string_view text, std::size_t at, std::string_view key,
                        bool separators) {
    if (text.substr(at, key.size()) != key) return false;
    const std::size_t after = at + key.size();
    if (after >= text.size()) return true;
    const auto c = static_cast<unsigned char>(text[after]);
    return c == '=' || EndsToken(c, separators);
}

// Finds key at the start of a token from `at` on; returns the offset just after it or npos.
std::size_t FindKey(std::string_view text, std::size_t at, std::string_view key, bool separators) {
    for (at = SkipSeparators(text, at, separators); at < text.size();
         at = SkipSeparators(text, SkipToken(text, at, separators), separators)) {
        if (TokenStartsWithKey(text, at, key, separators)) return at + key.size();
    }
    return std::string_view::npos;
}

std::size_t SkipWhiteAt(std::string_view text, std::size_t at) {
    while (at < text.size() && IsWhite(static_cast<unsigned char>(text[at]))) ++at;
    return at;
}

}  // namespace

std::string_view FindHeader(std::string_view block, std::string_view name) {
    std::string_view value;
    FindHeaders(block, {&name, 1}, {&value, 1});
    return value;
}

void FindHeaders(std::string_view block, std::span<const std::string_view> names,
                 std::span<std::string_view> values) {
    std::size_t left = 0;
    names = names.first(std::min(names.size(), kMaxHeaderNames));
    for (std::size_t i = 0; i < names.size(); ++i) {
        values[i] = {};
        if (!names[i].empty()) ++left;
    }
    // The first field of a name decides, even when its value is empty.
    std::uint64_t found = 0;
    std::size_t start = 0;
    while (start < block.size() && left > 0) {
        if (IsWhite(static_cast<unsigned char>(block[start]))) {
            start = NextLine(block, start);  // a continuation with no field to belong to
            continue;
        }
        const std::size_t end = FieldEnd(block, start);
        const std::string_view field = block.substr(start, end - start);
        // Most fields are none of the names: their first letters already differ.
        const char first = LowerAscii(field.front());
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string_view name = names[i];
            const std::uint64_t bit = std::uint64_t{1} << i;
            if (name.empty() || (found & bit) != 0 || LowerAscii(name.front()) != first ||
                !StartsWithNoCase(field, name)) {
                continue;
            }
            values[i] = FieldValue(block, start + name.size(), end);
            found |= bit;
            --left;
        }
        start = end + 1;
    }
}

long FindParameter(std::string_view text, std::string_view keys, std::size_t& value_length,
                   bool separators) {
    std::size_t at = SkipWhiteAt(text, 0);
    if (at < text.size() && text[at] == '"') ++at;
    bool any_key = false;
    for (std::size_t key_at = SkipWhiteAt(keys, 0); key_at < keys.size();
         key_at = SkipWhiteAt(keys, key_at)) {
        std::size_t key_end = key_at;
        while (key_end < keys.size() && !IsWhite(static_cast<unsigned char>(keys[key_end]))) {
            ++key_end;
        }
        at = FindKey(text, at, keys.substr(key_at, key_end - key_at), separators);
        if (at == std::string_view::npos) return -1;
        any_key = true;
        key_at = key_end;
    }
    if (!any_key) return -1;
    at = SkipWhiteAt(text, at);
    if (at >= text.size() || text[at] != '=') return -1;
    at = SkipWhiteAt(text, at + 1);
    if (at >= text.size()) return -1;
    std::size_t end;
    const char quote = text[at];
    if (quote == '"' || quote == '\'') {
        at = SkipWhiteAt(text, at + 1);
        end = at;
        while (end < text.size() && text[end] != quote &&
               static_cast<unsigned char>(text[end]) >= 0x20) {
            ++end;
        }
    } else {
        end = at;
        while (end < text.size() && !EndsToken(static_cast<unsigned char>(text[end]), separators)) {
            ++end;
        }
    }
    value_length = end - at;
    return static_cast<long>(at);
}

}  // namespace kelvra::util
