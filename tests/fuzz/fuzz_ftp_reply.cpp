// FTP control replies and directory listings: the end-of-reply scan over arbitrary received
// bytes, the MDTM and SIZE values read from the last line, and a listing in each of its forms
// read into entries and turned into links.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/ftplisting.h"
#include "net/ftputils.h"

namespace {

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A link must lead back to exactly the listed name: only the safe bytes and %XX escapes.
void CheckLink(const kelvra::net::FtpListEntry& entry) {
    if (entry.name.empty() || entry.name == "." || entry.name == "..") __builtin_trap();
    std::string href = kelvra::net::ListingHref(entry);
    if (entry.directory) {
        if (href.empty() || href.back() != '/') __builtin_trap();
        href.pop_back();
    }
    std::string decoded;
    for (std::size_t i = 0; i < href.size(); ++i) {
        char c = href[i];
        if (c == '%') {
            if (i + 2 >= href.size() || Hex(href[i + 1]) < 0 || Hex(href[i + 2]) < 0) {
                __builtin_trap();
            }
            decoded += static_cast<char>(Hex(href[i + 1]) * 16 + Hex(href[i + 2]));
            i += 2;
            continue;
        }
        bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::string_view("-._~!$'()*+,;=@").find(c) != std::string_view::npos;
        if (!safe) __builtin_trap();
        decoded += c;
    }
    if (decoded != entry.name) __builtin_trap();
    if (entry.name.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos) {
        __builtin_trap();
    }
}

void FuzzListing(std::string_view input) {
    using kelvra::net::FtpListFormat;
    for (FtpListFormat format :
         {FtpListFormat::kMachine, FtpListFormat::kLong, FtpListFormat::kNames}) {
        kelvra::net::FtpListing listing = kelvra::net::ParseFtpListing(input, format);
        for (const kelvra::net::FtpListEntry& entry : listing.entries) {
            CheckLink(entry);
            if (entry.name.find('\n') != std::string::npos) __builtin_trap();
        }
        std::string page = kelvra::net::ListingPage(input.substr(0, 64), listing.entries);
        if (page.find("</body></html>\n") == std::string::npos) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    FuzzListing(input);
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
