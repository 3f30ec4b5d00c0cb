#pragma once
// FTP directory listings: the three forms a server sends over the data connection (MLSD facts,
// the long "ls -l" form of LIST, bare NLST names), read into entries, and the small HTML page
// that presents a listing to the crawl, so that ordinary link extraction queues its entries.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::net {

// A listing longer than this fails the transfer instead of growing without bound.
inline constexpr std::size_t kMaxListingBytes = 8 * 1024 * 1024;

enum class FtpListFormat {
    kMachine,  // MLSD (RFC 3659 §7): "fact=value;... name"
    kLong,     // LIST in the common Unix form: "drwxr-xr-x 2 owner group 4096 Nov 14 22:13 name"
    kNames,    // NLST: one name per line
};

struct FtpListEntry {
    std::string name;  // as the server sent it, without any directory part
    bool directory = false;
    // Size and modification time as listed (empty for NLST). Shown on the page, so that the
    // page changes when an entry does and the crawl then looks at its entries again.
    std::string detail;
};

struct FtpListing {
    std::vector<FtpListEntry> entries;
    std::size_t unreadable = 0;  // lines that are not of the format (LIST's "total" excepted)
};

// Reads the lines of a listing (CR LF or LF; an incomplete last line counts). "." and ".."
// and, in MLSD, the listed directory itself and its parent are left out.
FtpListing ParseFtpListing(std::string_view data, FtpListFormat format);

// The name as a relative link: every byte other than letters, digits and "-._~!$'()*+,;=@" is
// written as %XX, so the link can be neither taken for a scheme (':') nor cut at a query or
// fragment, and needs no HTML escape. Directories get a trailing '/'.
std::string ListingHref(const FtpListEntry& entry);

// "<html>...<a href="...">name</a> detail<br>...</html>" for the directory path.
std::string ListingPage(std::string_view path, const std::vector<FtpListEntry>& entries);

}  // namespace kelvra::net
