// PercentDecode must never produce more than capacity - 1 bytes, whatever the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::size_t capacity = data[0];
    std::string_view src(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t limit = (capacity < 1 ? kelvra::net::kUrlBuffer : capacity) - 1;
    if (kelvra::net::PercentDecode(src, capacity).size() > limit) std::abort();
    if (kelvra::net::PercentDecode(src).size() > kelvra::net::kMaxUrl) std::abort();
    std::string text(src);
    kelvra::net::DecodeEntities(text);
    return 0;
}
