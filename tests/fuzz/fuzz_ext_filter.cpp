// Filter text compiled and applied: the first line is the URL, the rest the filter text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "store/extfilter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lf = input.find('\n');
    const std::string_view url = input.substr(0, lf);
    const std::string_view text = lf == std::string_view::npos ? "" : input.substr(lf + 1);
    kelvra::store::ExtFilterClass filter(text);
    const int c = filter.ClassOf(url);
    if (c < 0 || c > 15) __builtin_trap();
    return 0;
}
