// FTP control replies: the end-of-reply scan over arbitrary received bytes, and the MDTM and
// SIZE values read from the last line.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/net/ftputils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // Replies one after another, as ReadReply takes them from its buffer.
    while (!input.empty()) {
        std::size_t length = 0;
        int reply_class = kelvra::net::ScanReply(input, length);
        if (reply_class == 0) break;
        if (reply_class < 1 || reply_class > 9 || length == 0 || length > input.size()) {
            __builtin_trap();
        }
        std::string_view reply = input.substr(0, length);
        std::size_t last = reply.rfind('\n', length >= 2 ? length - 2 : 0);
        std::string_view line = last == std::string_view::npos ? reply : reply.substr(last + 1);
        if (kelvra::net::ParseModificationTime(line) < 0) __builtin_trap();
        if (kelvra::net::ParseFileSize(line) < -1) __builtin_trap();
        input.remove_prefix(length);
    }
    kelvra::net::ParseModificationTime(input);
    kelvra::net::ParseFileSize(input);
    return 0;
}
