#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvra::util {

// Reflected CRC-32 (ISO 3309 / IEEE 802.3, polynomial 0xEDB88320).
std::uint32_t Crc32(const void* bytes, std::size_t length);

}  // namespace kelvra::util
