// Resolves and normalises arbitrary links against an arbitrary page URL; the input's first line
// is the page, the rest the link.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find('\n');
    std::string_view page = input.substr(0, split);
    std::string_view link = split == std::string_view::npos ? "" : input.substr(split + 1);

    kelvra::net::BaseUrl base;
    kelvra::net::MakeBaseUrl(base, page);
    std::string url;
    if (kelvra::net::ResolveLink(url, base, link) >= 0) {
        kelvra::net::NormalizeUrl(url);
        std::string again = url;
        kelvra::net::NormalizeUrl(again);
    }
    std::string host;
    kelvra::net::GetHostAndPort(link, host);
    kelvra::net::GetExtension(link);
    kelvra::net::FileSafeName(link, 256);
    kelvra::net::EscapeUnsafeBytes(link);
    return 0;
}
