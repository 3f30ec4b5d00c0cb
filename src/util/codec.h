#pragma once
// Japanese text codecs and Base64.

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvra::util {

enum class Encoding { ShiftJis = 0, Jis = 1, EucJp = 2, Utf8 = 3 };

// Guesses the encoding of 8-bit text (ESC means ISO-2022-JP; valid UTF-8 wins otherwise).
Encoding DetectEncoding(std::string_view text);

// Converts text from its detected encoding to Shift_JIS (CP932). A UTF-8 text that
// cannot be converted leaves dst as it was; the result says whether dst was written.
bool ToShiftJis(std::string& dst, std::string_view src);

// RFC 2045 alphabet with '=' padding, no line breaks.
std::string Base64Encode(std::string_view src);

// Decodes until '=' or the end of src. Returns the number of bytes written, or -1 for a
// character outside the alphabet or when the decoded bytes would not fit in capacity.
long Base64Decode(std::string_view src, unsigned char* dst, std::size_t capacity);

}  // namespace kelvra::util
