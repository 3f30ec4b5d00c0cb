#include "util/crc32.h"

#include <array>

namespace kelvra::util {

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// One byte's worth of the bitwise algorithm, precomputed for every byte value.
constexpr std::array<std::uint32_t, 256> MakeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

}  // namespace

std::uint32_t Crc32(const void* bytes, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) crc = kTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

}  // namespace kelvra::util
