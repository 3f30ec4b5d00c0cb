#include "util/codec.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace kelvra::util {

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kShiftOut = 0x0E;  // half-width katakana on
constexpr unsigned char kShiftIn = 0x0F;   // half-width katakana off
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

unsigned char ByteAt(std::string_view text, std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
}

// The text ends at its first NUL, as the C strings it comes from do.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// Number of continuation bytes a UTF-8 lead announces; -1 for anything else.
int Utf8Continuations(unsigned char c) {
    if ((c & 0xE0) == 0xC0) return 1;
    if ((c & 0xF0) == 0xE0) return 2;
    if ((c & 0xF8) == 0xF0) return 3;
    return -1;
}

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

bool InEucRange(unsigned char c) {
    return c >= 0xA1 && c <= 0xFE;
}

// JIS X 0208 row/cell bytes (0x21-0x7E) to the Shift_JIS pair.
void AppendJisPairAsShiftJis(std::string& out, unsigned char j1, unsigned char j2) {
    int lead;
    int trail;
    if (j1 & 1) {
        lead = (j1 >> 1) + 0x71;
        trail = j2 + 0x1F + (j2 >= 0x60 ? 1 : 0);
    } else {
        lead = (j1 >> 1) + 0x70;
        trail = j2 + 0x7E;
    }
    if (lead >= 0xA0) lead += 0x40;
    out += static_cast<char>(lead);
    out += static_cast<char>(trail);
}

// ISO-2022-JP decoder state.
struct JisState {
    bool double_byte = false;
    bool katakana = false;
};

// Handles the escape at text[i]; returns the number of bytes it takes.
std::size_t ApplyJisEscape(std::string_view text, std::size_t i, JisState& state) {
    const unsigned char first = ByteAt(text, i + 1);
    const unsigned char second = ByteAt(text, i + 2);
    if (first == '(' && (second == 'B' || second == 'H' || second == 'J')) {
        state.double_byte = false;
        return 3;
    }
    if (first == '$' && (second == '@' || second == 'B')) {
        state.double_byte = true;
        return 3;
    }
    if (first == '&' && second == '@') return 3;
    if (first == 'H') {
        state.double_byte = false;
        return 2;
    }
    if (first == 'K') {
        state.double_byte = true;
        return 2;
    }
    return 1;  // unknown: drop the ESC alone
}

// One character of JIS text that is not an escape; returns the bytes it takes.
std::size_t ConvertJisCharacter(std::string_view text, std::size_t i, const JisState& state,
                                std::string& out) {
    const unsigned char c = ByteAt(text, i);
    if (c < 0x21 || c == 0x7F) {
        out += static_cast<char>(c);
        return 1;
    }
    if (!state.double_byte) {
        out += static_cast<char>(state.katakana ? c + 0x80 : c);
        return 1;
    }
    if (i + 1 >= text.size()) {
        out += static_cast<char>(c);
        return 1;
    }
    const unsigned char c2 = ByteAt(text, i + 1);
    if (c2 < 0x21) return 1;  // a broken pair: drop the lead, the next byte starts afresh
    if (c < 0x80 && c2 < 0x80) {
        AppendJisPairAsShiftJis(out, c, c2);
    } else {
        out += static_cast<char>(c);
        out += static_cast<char>(c2);
    }
    return 2;
}

std::string JisToShiftJis(std::string_view text) {
    std::string out;
    JisState state;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = ByteAt(text, i);
        if (c == kEsc) {
            const std::size_t taken = ApplyJisEscape(text, i, state);
            i += taken;
            // After an unknown escape the next byte is plain text, even another ESC.
            if (taken == 1 && i < text.size()) i += ConvertJisCharacter(text, i, state, out);
        } else if (c == kShiftOut || c == kShiftIn) {
            state.katakana = c == kShiftOut;
            ++i;
        } else {
            i += ConvertJisCharacter(text, i, state, out);
        }
    }
    return out;
}

std::string EucToShiftJis(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = ByteAt(text, i);
        if (c == 0x8E) {  // SS2: one half-width katakana byte follows
            out += text.substr(i + 1, 1);
            i += 2;
        } else if (c == 0x8F) {  // SS3: JIS X 0212 has no Shift_JIS form; keep the bytes
            out += text.substr(i + 1, 2);
            i += 3;
        } else if (!InEucRange(c) || i + 1 >= text.size()) {
            out += static_cast<char>(c);
            i += 1;
        } else {
            const unsigned char c2 = ByteAt(text, i + 1);
            if (InEucRange(c2)) {
                AppendJisPairAsShiftJis(out, c & 0x7F, c2 & 0x7F);
            } else {
                out += static_cast<char>(c);
                out += static_cast<char>(c2);
            }
            i += 2;
        }
    }
    return out;
}

// Decodes one- to three-byte sequences into UTF-16 code units. A four-byte sequence, a stray
// byte or a code unit of 0 makes the text unconvertible; an unfinished last sequence is dropped.
std::optional<std::u16string> DecodeUtf8(std::string_view text) {
    std::u16string units;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = ByteAt(text, i);
        if (c < 0x80) {
            units += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        const int more = Utf8Continuations(c);
        if (more < 1 || more > 2) return std::nullopt;
        unsigned value = c & (more == 1 ? 0x1F : 0x0F);
        for (int k = 1; k <= more; ++k) {
            if (i + k >= text.size()) return units;  // unfinished last sequence
            const unsigned char next = ByteAt(text, i + k);
            if (!IsContinuation(next)) return std::nullopt;
            value = (value << 6) | (next & 0x3F);
        }
        if (value == 0) return std::nullopt;
        units += static_cast<char16_t>(value & 0xFFFF);
        i += static_cast<std::size_t>(more) + 1;
    }
    return units;
}

// UTF-16 to CP932 through iconv; none when a character has no CP932 form.
std::optional<std::string> Utf16ToCp932(const std::u16string& units, std::size_t limit) {
    iconv_t cd = ::iconv_open("CP932", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::vector<char> input;
    input.reserve(units.size() * 2);
    for (char16_t unit : units) {
        input.push_back(static_cast<char>(unit & 0xFF));
        input.push_back(static_cast<char>(unit >> 8));
    }
    std::string output(limit, '\0');
    char* in = input.data();
    std::size_t in_left = input.size();
    char* out = output.data();
    std::size_t out_left = output.size();
    const std::size_t result = ::iconv(cd, &in, &in_left, &out, &out_left);
    ::iconv_close(cd);
    if (result == static_cast<std::size_t>(-1) || in_left != 0) return std::nullopt;
    output.resize(output.size() - out_left);
    return output;
}

}  // namespace

Encoding DetectEncoding(std::string_view text) {
    text = UpToNul(text);
    bool valid_utf8 = true;
    int expected = 0;  // continuation bytes still owed
    bool saw_euc_byte = false;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == kEsc) return Encoding::Jis;
        if (c < 0x80) continue;
        if (c >= 0xA1 && c <= 0xFE) saw_euc_byte = true;
        if (valid_utf8) {
            if (expected > 0) {
                if (IsContinuation(c)) {
                    --expected;
                } else {
                    valid_utf8 = false;
                }
            } else {
                expected = Utf8Continuations(c);
                if (expected < 0) valid_utf8 = false;
            }
        }
        if (!valid_utf8 && c >= 0x81 && c <= 0x9F && c != 0x8E && c != 0x8F) {
            return Encoding::ShiftJis;
        }
    }
    if (valid_utf8) return Encoding::Utf8;
    return saw_euc_byte ? Encoding::EucJp : Encoding::ShiftJis;
}

bool ToShiftJis(std::string& dst, std::string_view src) {
    src = UpToNul(src);
    // Plain ASCII reads the same in every encoding here; most titles are, and a list of
    // thousands of them should not pay a converter each.
    if (std::all_of(src.begin(), src.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != kEsc; })) {
        dst.assign(src);
        return true;
    }
    switch (DetectEncoding(src)) {
        case Encoding::Jis:
            dst = JisToShiftJis(src);
            return true;
        case Encoding::EucJp:
            dst = EucToShiftJis(src);
            return true;
        case Encoding::Utf8: {
            const auto units = DecodeUtf8(src);
            if (!units) return false;
            // CP932 never needs more bytes than the UTF-8 it came from.
            auto converted = Utf16ToCp932(*units, src.size() + 1);
            if (!converted) return false;
            dst = std::move(*converted);
            return true;
        }
        case Encoding::ShiftJis:
            break;
    }
    dst.assign(src);
    return true;
}

std::string Base64Encode(std::string_view src) {
    std::string out;
    out.reserve((src.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < src.size(); i += 3) {
        const std::size_t have = std::min<std::size_t>(3, src.size() - i);
        unsigned group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group = (group << 8) | (k < have ? static_cast<unsigned char>(src[i + k]) : 0);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= have ? kBase64Alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return out;
}

long Base64Decode(std::string_view src, unsigned char* dst, std::size_t capacity) {
    static const std::array<signed char, 256> values = [] {
        std::array<signed char, 256> table{};
        table.fill(-1);
        for (int i = 0; i < 64; ++i) {
            table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<signed char>(i);
        }
        return table;
    }();
    std::size_t written = 0;
    unsigned bits = 0;
    int bit_count = 0;
    for (const char ch : src) {
        if (ch == '=') break;
        const int value = values[static_cast<unsigned char>(ch)];
        if (value < 0) return -1;
        bits = ((bits << 6) | static_cast<unsigned>(value)) & 0xFFFFFF;
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            if (written >= capacity) return -1;
            dst[written++] = static_cast<unsigned char>(bits >> bit_count);
        }
    }
    return static_cast<long>(written);
}

}  // namespace kelvra::util
