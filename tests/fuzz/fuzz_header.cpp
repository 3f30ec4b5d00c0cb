// Header-field and parameter lookup on arbitrary bytes: the first input byte selects the
// separator flag and the length of the name taken from the input's start, the rest is the text.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "util/header.h"

namespace {

bool Inside(std::string_view outer, std::string_view inner) {
    return inner.data() >= outer.data() &&
           inner.data() + inner.size() <= outer.data() + outer.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool separators = data[0] & 1;
    const std::size_t name_length = (data[0] >> 1) % 16;
    const std::vector<char> bytes(data + 1, data + size);
    const std::string_view input(bytes.data(), bytes.size());
    const std::string_view name = input.substr(0, name_length);
    const std::string_view text = input.substr(name.size());

    for (const std::string_view field : {name, std::string_view("Content-Type:")}) {
        const std::string_view value = kelvra::util::FindHeader(text, field);
        if (!value.empty() && !Inside(text, value)) __builtin_trap();
        if (value.empty() && value.data() != nullptr) __builtin_trap();
    }
    for (const std::string_view keys : {name, std::string_view("http-equiv content")}) {
        std::size_t length = 0;
        const long offset = kelvra::util::FindParameter(text, keys, length, separators);
        if (offset >= 0 && static_cast<std::size_t>(offset) + length > text.size()) {
            __builtin_trap();
        }
    }
    return 0;
}
