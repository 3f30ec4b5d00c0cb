#include "util/codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvra::util {
namespace {

std::string Bytes(std::initializer_list<unsigned char> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// ---- DetectEncoding ----

struct DetectCase {
    const char* what;
    std::string text;
    Encoding expected;
};

class DetectEncodingTest : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectEncodingTest, Classifies) {
    EXPECT_EQ(DetectEncoding(GetParam().text), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetectEncodingTest,
    ::testing::Values(
        // Plain ASCII is valid UTF-8.
        DetectCase{"ascii", "Hello, world", Encoding::Utf8},
        // An empty text is valid UTF-8 too.
        DetectCase{"empty", "", Encoding::Utf8},
        // An ESC anywhere means ISO-2022-JP, even after high bytes.
        DetectCase{"esc late", Bytes({0xE6, 0x97, 0xA5, 'a', 0x1B, '$', 'B'}), Encoding::Jis},
        DetectCase{"esc first", "\x1b(Babc", Encoding::Jis},
        // Proper UTF-8 Japanese.
        DetectCase{"utf-8", "日本語のテキスト", Encoding::Utf8},
        // An unfinished last sequence still counts as UTF-8.
        DetectCase{"cut utf-8", Bytes({'a', 0xE6, 0x97}), Encoding::Utf8},
        // Shift_JIS "あ" (82 A0): 0x82 is a continuation where a lead is expected, so the text
        // turns invalid, and 0x82 itself is a Shift_JIS lead.
        DetectCase{"sjis 82", Bytes({0x82, 0xA0, 0x82, 0xA2}), Encoding::ShiftJis},
        // A byte 0x82 after an invalid UTF-8 sequence decides Shift_JIS at once.
        DetectCase{"82 after invalid", Bytes({0xC3, 'x', 0xC3, 0x82}), Encoding::ShiftJis},
        // EUC-JP "日本" (C6 FC CB DC): invalid UTF-8, bytes in A1-FE, no 81-9F.
        DetectCase{"euc-jp", Bytes({0xC6, 0xFC, 0xCB, 0xDC}), Encoding::EucJp},
        // EUC-JP half-width katakana prefix 0x8E does not decide Shift_JIS.
        DetectCase{"euc ss2", Bytes({0xC6, 0xFC, 0x8E, 0xB1}), Encoding::EucJp},
        // Invalid UTF-8 without any A1-FE byte is Shift_JIS.
        DetectCase{"invalid, no euc", Bytes({0xFF, 0x80}), Encoding::ShiftJis},
        // The text ends at its first NUL: the ESC after it is not seen.
        DetectCase{"nul ends text", std::string("abc\0\x1b$B", 7), Encoding::Utf8}));

// ---- ToShiftJis ----

struct ConvertCase {
    const char* what;
    std::string source;
    std::string expected;
};

class ToShiftJisTest : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ToShiftJisTest, Converts) {
    std::string out = "previous";
    ASSERT_TRUE(ToShiftJis(out, GetParam().source)) << GetParam().what;
    EXPECT_EQ(out, GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Jis, ToShiftJisTest,
    ::testing::Values(
        // JIS X 0208 0x30 0x21 ("亜") is Shift_JIS 88 9F.
        ConvertCase{"kanji", "\x1b$B\x30\x21\x1b(B", Bytes({0x88, 0x9F})},
        // "日本" is 46 7C 4B 5C in JIS, 93 FA 96 7B in Shift_JIS (odd and even rows).
        ConvertCase{"nihon", "a\x1b$B\x46\x7C\x4B\x5C\x1b(Bz",
                    Bytes({'a', 0x93, 0xFA, 0x96, 0x7B, 'z'})},
        // An odd row with a cell byte of 0x60 or more gets the extra 1: 3B 7A -> 8E 9A.
        ConvertCase{"odd row high cell", "\x1b$B\x3B\x7A\x1b(B", Bytes({0x8E, 0x9A})},
        // A lead of 0xA0 or more skips the half-width katakana range: 0x5F 0x21 -> 0xE0 0x40.
        ConvertCase{"lead above 9F", "\x1b$B\x5F\x21\x1b(B", Bytes({0xE0, 0x40})},
        // ESC $ @ and ESC K also select double-byte mode; ESC H returns to single-byte.
        ConvertCase{"old escapes", "\x1b$@\x30\x21\x1bH!\x1bK\x30\x21",
                    Bytes({0x88, 0x9F, '!', 0x88, 0x9F})},
        // ESC & @ is dropped without changing the mode.
        ConvertCase{"esc & @", "x\x1b&@y", "xy"},
        // An unknown escape loses its ESC; the next byte is ordinary text.
        ConvertCase{"unknown escape", "a\x1bZb", "aZb"},
        // SO/SI switch half-width katakana: 0x31 becomes 0xB1 and the controls vanish.
        ConvertCase{"shift out", "\x1b(B\x0e\x31\x0f\x31", Bytes({0xB1, 0x31})},
        // In double-byte mode a control byte as second byte drops the lead and is kept.
        ConvertCase{"broken pair", "\x1b$B\x30\r\n\x1b(B", "\r\n"},
        // Control bytes and space are copied in double-byte mode.
        ConvertCase{"space in kanji", "\x1b$B \x30\x21\x1b(B", Bytes({' ', 0x88, 0x9F})}));

INSTANTIATE_TEST_SUITE_P(
    Euc, ToShiftJisTest,
    ::testing::Values(
        // "日本" in EUC-JP.
        ConvertCase{"nihon", Bytes({'<', 0xC6, 0xFC, 0xCB, 0xDC, '>'}),
                    Bytes({'<', 0x93, 0xFA, 0x96, 0x7B, '>'})},
        // SS2 + byte: half-width katakana, the 0x8E goes.
        ConvertCase{"ss2", Bytes({0xC6, 0xFC, 0x8E, 0xB1}), Bytes({0x93, 0xFA, 0xB1})},
        // SS3 + two bytes: the 0x8F goes, the two bytes stay as they are.
        ConvertCase{"ss3", Bytes({0xC6, 0xFC, 0x8F, 0xB0, 0xA1}), Bytes({0x93, 0xFA, 0xB0, 0xA1})},
        // A lead in range followed by a byte outside it is copied as a pair.
        ConvertCase{"half pair", Bytes({0xC6, 0xFC, 0xC6, 'a'}), Bytes({0x93, 0xFA, 0xC6, 'a'})}));

INSTANTIATE_TEST_SUITE_P(Utf8, ToShiftJisTest,
                         ::testing::Values(
                             // UTF-8 Japanese to CP932.
                             ConvertCase{"nihon", "日本", Bytes({0x93, 0xFA, 0x96, 0x7B})},
                             // ASCII, hiragana and the full-width yen sign U+FFE5 (81 8F in CP932).
                             ConvertCase{"kana and yen", "aあ￥",
                                         Bytes({'a', 0x82, 0xA0, 0x81, 0x8F})},
                             // Half-width katakana U+FF71 is the single byte B1.
                             ConvertCase{"half-width", "ｱ", Bytes({0xB1})},
                             // Plain ASCII passes unchanged.
                             ConvertCase{"ascii", "Title", "Title"},
                             // A title cut inside its last character keeps what was whole.
                             ConvertCase{"cut last", Bytes({'a', 0xE6, 0x97, 0xA5, 0xE6, 0x9C}),
                                         Bytes({'a', 0x93, 0xFA})}));

INSTANTIATE_TEST_SUITE_P(ShiftJis, ToShiftJisTest,
                         ::testing::Values(
                             // Shift_JIS is copied as it is.
                             ConvertCase{"copy", Bytes({0x82, 0xA0, 0x93, 0xFA}),
                                         Bytes({0x82, 0xA0, 0x93, 0xFA})}));

TEST(ToShiftJisFailure, UnconvertibleUtf8LeavesTargetAlone) {
    struct Case {
        const char* what;
        std::string source;
    };
    const std::vector<Case> cases = {
        // A four-byte sequence (U+1F600) stops the conversion.
        {"four-byte", "a\xF0\x9F\x98\x80"},
        // U+00E9 has no CP932 form.
        {"no cp932 form", "caf\xC3\xA9"},
        // An overlong NUL would cut the text short.
        {"overlong nul", "a\xC0\x80z"},
    };
    for (const Case& c : cases) {
        std::string out = "previous";
        EXPECT_FALSE(ToShiftJis(out, c.source)) << c.what;
        EXPECT_EQ(out, "previous") << c.what;
    }
}

// ---- Base64 ----

TEST(Base64, EncodesWithPadding) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"abc", "YWJj"},  // one full group
        {"ab", "YWI="},   // one pad
        {"a", "YQ=="},    // two pads
        {"", ""},         // nothing
        {"user:pass", "dXNlcjpwYXNz"},
        {Bytes({0xFF, 0xFE, 0xFD}), "//79"},  // the last two alphabet characters
    };
    for (const auto& [plain, encoded] : cases) EXPECT_EQ(Base64Encode(plain), encoded) << plain;
}

TEST(Base64, DecodesUntilPaddingOrEnd) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"YWJj", "abc"},
        {"YWI=", "ab"},
        {"YQ==", "a"},
        {"YQ", "a"},               // padding may be missing
        {"YWJj=garbage!", "abc"},  // decoding stops at '='
        {"dXNlcjpwYXNz", "user:pass"},
    };
    for (const auto& [encoded, plain] : cases) {
        unsigned char out[32] = {};
        const long n = Base64Decode(encoded, out, sizeof out);
        ASSERT_EQ(n, static_cast<long>(plain.size())) << encoded;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), plain) << encoded;
    }
}

TEST(Base64, RejectsCharactersOutsideTheAlphabet) {
    for (const char* bad : {"YW Jj", "YWJj\r\n", "YW-j", "YW_j", "\tYWJj"}) {
        unsigned char out[16];
        EXPECT_EQ(Base64Decode(bad, out, sizeof out), -1) << bad;
    }
}

TEST(Base64, NeverWritesPastCapacity) {
    // "YWJjZGVm" is "abcdef": six bytes. Guard bytes after the capacity must stay untouched.
    for (std::size_t capacity = 0; capacity <= 6; ++capacity) {
        std::vector<unsigned char> out(capacity + 4, 0xEE);
        const long n = Base64Decode("YWJjZGVm", out.data(), capacity);
        EXPECT_EQ(n, capacity < 6 ? -1 : 6) << "capacity " << capacity;
        for (std::size_t i = capacity; i < out.size(); ++i) {
            EXPECT_EQ(out[i], 0xEE) << "capacity " << capacity << " byte " << i;
        }
    }
}

}  // namespace
}  // namespace kelvra::util
