#pragma once
// Lookup of header fields and of name=value parameters.

#include <span>
#include <string_view>

namespace kelvra::util {

// Finds a field in a block of LF-ended header lines. name includes its colon ("Pragma:") and
// is compared without regard to case. The value starts after the name and its spaces and ends
// before the line end; an empty value counts as not found (empty view with data() == nullptr).
std::string_view FindHeader(std::string_view block, std::string_view name);
// FindHeader(block, names[i]) into values[i] for every i, in one walk over the block; names
// past the first kMaxHeaderNames are not looked for (their values stay as they are).
inline constexpr std::size_t kMaxHeaderNames = 64;
void FindHeaders(std::string_view block, std::span<const std::string_view> names,
                 std::span<std::string_view> values);

// Finds the value after the white-space separated keys ("name", or "http-equiv content").
// With separators, ';' and ',' also end tokens. Returns the offset of the value in text and
// its length through value_length, or -1 when a key or the value is missing.
long FindParameter(std::string_view text, std::string_view keys, std::size_t& value_length,
                   bool separators);

}  // namespace kelvra::util
