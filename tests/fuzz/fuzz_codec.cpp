// Encoding detection and conversion to Shift_JIS on arbitrary bytes, and Base64 decoding into
// a small buffer that must never be overrun.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/codec.h"

namespace {

constexpr std::size_t kSmallCapacity = 7;

void CheckConversion(std::string_view text) {
    (void)kelvra::util::DetectEncoding(text);
    std::string converted = "unchanged";
    if (!kelvra::util::ToShiftJis(converted, text) && converted != "unchanged") {
        __builtin_trap();  // a failed conversion must leave the target alone
    }
}

void CheckBase64(std::string_view text) {
    // Exactly kSmallCapacity bytes on the heap, so ASan catches a write past the end.
    auto small = std::make_unique<unsigned char[]>(kSmallCapacity);
    const long written = kelvra::util::Base64Decode(text, small.get(), kSmallCapacity);
    if (written < -1 || written > static_cast<long>(kSmallCapacity)) __builtin_trap();

    // Whatever decodes must encode and decode back to the same bytes.
    std::vector<unsigned char> big(text.size() + 1);
    const long full = kelvra::util::Base64Decode(text, big.data(), big.size());
    if (full < 0) return;
    const std::string again = kelvra::util::Base64Encode(std::string_view(
        reinterpret_cast<const char*>(big.data()), static_cast<std::size_t>(full)));
    std::vector<unsigned char> round(again.size() + 1);
    const long back = kelvra::util::Base64Decode(again, round.data(), round.size());
    if (back != full || !std::equal(big.begin(), big.begin() + full, round.begin())) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<char> bytes(data, data + size);
    const std::string_view text(bytes.data(), bytes.size());
    CheckConversion(text);
    CheckBase64(text);
    return 0;
}
