#include "util/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kelvra::util {
namespace {

TEST(Crc32, KnownCheckValues) {
    const std::vector<std::pair<std::string, std::uint32_t>> cases = {
        {"", 0x00000000u},                                             // nothing
        {"a", 0xE8B7BE43u},                                            // one byte
        {"123456789", 0xCBF43926u},                                    // the standard check value
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},  // a longer text
        {std::string("\0\0\0\0", 4), 0x2144DF1Cu},                     // NUL bytes count
    };
    for (const auto& [text, crc] : cases) EXPECT_EQ(Crc32(text.data(), text.size()), crc) << text;
}

// The ISO 3309 definition, one bit at a time, as the reference for random inputs.
std::uint32_t BitwiseCrc32(const unsigned char* p, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

TEST(Crc32, MatchesTheBitwiseDefinition) {
    std::mt19937 random(12345);
    for (std::size_t length : {1u, 7u, 255u, 256u, 4099u}) {
        std::vector<unsigned char> bytes(length);
        for (auto& b : bytes) b = static_cast<unsigned char>(random());
        EXPECT_EQ(Crc32(bytes.data(), bytes.size()), BitwiseCrc32(bytes.data(), bytes.size()))
            << length;
    }
}

}  // namespace
}  // namespace kelvra::util
