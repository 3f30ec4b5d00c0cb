// The SWF scanner of the plug-in over arbitrary file images (FWS and CWS).
#include <cstddef>
#include <cstdint>

#include "plugin-flash/swfscanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelvra::florrin::SwfScanner scanner;
    if (!scanner.LoadImage(data, size)) return 0;
    for (const auto& url : scanner.Scan()) {
        if (url.size() > kelvra::florrin::SwfScanner::kMaxUrl) __builtin_trap();
    }
    return 0;
}
