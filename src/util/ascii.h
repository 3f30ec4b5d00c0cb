#pragma once
// Byte classes of 8-bit protocol and file text. No locale is consulted: a byte above 0x7F is
// never a blank, a digit or white, whatever the environment says.

namespace kelvra::util {

// Space or horizontal tab: what separates words inside one line.
constexpr bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t';
}

// Any byte of 0x20 or less (controls, line ends, space): what the text formats skip as white.
constexpr bool IsWhite(unsigned char c) {
    return c <= 0x20;
}

constexpr bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// 'A'-'Z' as 'a'-'z'; every other byte as it is.
constexpr char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Value of a hexadecimal digit of either case, or -1.
constexpr int HexDigitValue(unsigned char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace kelvra::util
