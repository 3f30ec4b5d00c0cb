// PatternMatch on an arbitrary pattern and subject (split at the first NUL), with captures.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "util/patternmatch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvra::util;
    if (size == 0) return 0;
    const unsigned options = data[0] & 3;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t nul = input.find('\0');
    const std::string_view pattern = input.substr(0, nul);
    const std::string_view subject = nul == std::string_view::npos ? "" : input.substr(nul + 1);
    CaptureTable captures;
    const auto end = PatternMatch(subject, pattern, options, &captures);
    if (end && *end > subject.size()) __builtin_trap();
    for (int n = 1; n <= CaptureTable::kMax; ++n) {
        if (captures.Has(n) && captures.spans[n - 1].end > subject.size()) __builtin_trap();
    }
    // Without capture marks the capture table must not change the answer.
    if (pattern.find("\\(") == std::string_view::npos &&
        pattern.find("\\)") == std::string_view::npos) {
        const auto plain = PatternMatch(subject, pattern, options);
        if (plain != end) __builtin_trap();
    }
    return 0;
}
