// ParseHttpDate on arbitrary bytes: it must never read outside the text (the input is copied
// into a buffer of exactly its size so ASan sees any overrun) and must always return.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "util/httpdate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<char> text(data, data + size);
    const std::tm time = kelvra::util::ParseHttpDate(std::string_view(text.data(), text.size()));
    // A parsed month is 0-11 or the "unknown" 12; the clock fields hold at most two digits.
    if (time.tm_mon < 0 || time.tm_mon > 12 || time.tm_hour > 99 || time.tm_min > 99 ||
        time.tm_sec > 99 || time.tm_mday > 99) {
        __builtin_trap();
    }
    // Formatting whatever came out must be safe too.
    (void)kelvra::util::FormatHttpDate(time);
    return 0;
}
