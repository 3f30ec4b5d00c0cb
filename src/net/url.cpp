#include "net/url.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "util/ascii.h"

namespace kelvra::net {
namespace {

constexpr std::string_view kSchemeMark = "://";

// What a path byte means to PathEnd. Boundary bytes cannot appear in a Windows file name; from
// the first of them on, a path counts as query for joining and normalisation. A table: it is
// asked for every byte of every path.
enum PathByte : unsigned char { kPlainPathByte, kBoundaryByte, kSlashByte };
constexpr std::array<PathByte, 256> kPathBytes = [] {
    std::array<PathByte, 256> table{};
    for (const unsigned char c : {'\0', '\\', ':', '*', '?', '"', '<', '>', '|'}) {
        table[c] = kBoundaryByte;
    }
    table['/'] = kSlashByte;
    return table;
}();

bool IsQueryBoundaryByte(unsigned char c) {
    return kPathBytes[c] == kBoundaryByte;
}

bool IsSchemeByte(unsigned char c) {
    return c > '@' || c == '*';
}

// Unreserved bytes: copied as they are in form data, decoded from %xx in URLs.
bool IsUnreserved(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::strchr(".-_*!~()'", c) != nullptr && c != '\0';
}

void AppendEscape(std::string& dst, unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    dst.push_back('%');
    dst.push_back(kHex[c >> 4]);
    dst.push_back(kHex[c & 0x0F]);
}

// Offset of the first '/' of the path (after scheme and host), or npos.
std::size_t PathStart(std::string_view url) {
    return url.find('/', SkipScheme(url));
}

// End of the host: the first '/' or ':' from start.
std::size_t HostEnd(std::string_view url, std::size_t start) {
    // A loop, not find_first_of: that searches its set once per byte of the host.
    std::size_t end = std::min(start, url.size());
    while (end < url.size() && url[end] != '/' && url[end] != ':') ++end;
    return end;
}

int DefaultPortOf(std::string_view url) {
    if (url.starts_with("http://")) return kHttpPort;
    if (url.starts_with("https://")) return kHttpsPort;
    if (url.starts_with("ftp://")) return kFtpPort;
    return 0;
}

// Both passes below work in place on s[begin, end) in one walk, writing at out while reading at
// in, and return the new end; each gives what removing the first match again and again from the
// start gives, without the searches from the start and the moves of the rest that costs.

// Removes "/." from every "/./"; there is none before from.
std::size_t RemoveDotSegments(std::string& s, std::size_t from, std::size_t end) {
    std::size_t out = from;
    for (std::size_t in = from; in < end;) {
        if (s[in] == '/' && in + 2 < end && s[in + 1] == '.' && s[in + 2] == '/') {
            in += 2;
            continue;
        }
        s[out++] = s[in++];
    }
    return out;
}

// Folds every "/name/../" into "/"; a "/../" with nothing before it loses its "/..". The path
// begins at begin, and there is no "/../" before from.
std::size_t FoldParentSegments(std::string& s, std::size_t begin, std::size_t from,
                               std::size_t end) {
    std::size_t out = from;
    for (std::size_t in = from; in < end;) {
        if (s[in] == '/' && in + 3 < end && s[in + 1] == '.' && s[in + 2] == '.' &&
            s[in + 3] == '/') {
            if (out > begin) {
                do {
                    --out;
                } while (out > begin && s[out] != '/');
            }
            in += 3;
            continue;
        }
        s[out++] = s[in++];
    }
    return out;
}

// Offset of the first "/./" or "/../" in the path, or npos: the bytes before it stay as they are.
std::size_t FirstDotSegment(std::string_view path) {
    for (std::size_t i = 0; i + 2 < path.size(); ++i) {
        if (path[i] != '/' || path[i + 1] != '.') continue;
        const std::string_view rest = path.substr(i + 2);
        if (rest.starts_with('/') || rest.starts_with("./")) return i;
    }
    return std::string_view::npos;
}

// Keeps one of the slashes that start the path at offset start.
void CollapseLeadingSlashes(std::string& url, std::size_t start) {
    std::size_t run = 0;
    while (start + 1 + run < url.size() && url[start + 1 + run] == '/') ++run;
    url.erase(start + 1, run);
}

bool SchemeIs(std::string_view name, std::string_view scheme) {
    return name == scheme;
}

// PathEnd of text whose path starts at slash (npos: none).
std::size_t PathEndFrom(std::string_view text, std::size_t slash) {
    if (slash == std::string_view::npos) {
        std::size_t nul = text.find('\0');
        return nul == std::string_view::npos ? text.size() : nul;
    }
    for (std::size_t i = slash + 1; i < text.size(); ++i) {
        const PathByte kind = kPathBytes[static_cast<unsigned char>(text[i])];
        if (kind == kPlainPathByte) continue;
        if (kind == kBoundaryByte) return i;
        if (i + 1 < text.size() && text[i + 1] == '/') return i;
    }
    return text.size();
}

// True when the text before offset (as returned by SkipScheme) ends in "://".
bool EndsWithSchemeMark(std::string_view url, std::size_t offset) {
    return offset >= kSchemeMark.size() &&
           url.substr(offset - kSchemeMark.size(), kSchemeMark.size()) == kSchemeMark;
}

}  // namespace

std::size_t SkipScheme(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ') ++start;
    std::size_t end = start;
    while (end < text.size() && IsSchemeByte(static_cast<unsigned char>(text[end]))) ++end;
    if (text.substr(end).starts_with(kSchemeMark)) return end + kSchemeMark.size();
    return start;
}

std::size_t SkipUserInfo(std::string_view text) {
    std::size_t at = text.find('@');
    if (at == std::string_view::npos) return 0;
    std::size_t slash = text.find('/');
    return (slash == std::string_view::npos || at < slash) ? at + 1 : 0;
}

std::size_t HostStart(std::string_view url) {
    std::size_t after_scheme = SkipScheme(url);
    return after_scheme + SkipUserInfo(url.substr(after_scheme));
}

std::string_view HostSpan(std::string_view url) {
    std::size_t start = HostStart(url);
    return url.substr(start, HostEnd(url, start) - start);
}

int GetHostAndPort(std::string_view url, std::string& host) {
    std::size_t start = HostStart(url);
    std::size_t end = HostEnd(url, start);
    host.assign(url.substr(start, end - start));
    if (end >= url.size() || url[end] != ':') return 0;
    int port = 0;
    for (std::size_t i = end + 1; i < url.size() && url[i] >= '0' && url[i] <= '9'; ++i) {
        port = port * 10 + (url[i] - '0');
        if (port > 0xFFFF) return 0;
    }
    return port;
}

std::string GetPath(std::string_view url) {
    std::size_t start = PathStart(url);
    if (start == std::string_view::npos) return "/";
    return std::string(url.substr(start));
}

UrlParts SplitUrl(std::string_view url) {
    UrlParts parts;
    std::size_t after_scheme = SkipScheme(url);
    if (EndsWithSchemeMark(url, after_scheme)) {
        std::size_t start = 0;
        while (url[start] == ' ') ++start;
        parts.scheme = url.substr(start, after_scheme - kSchemeMark.size() - start);
    }
    std::size_t user_length = SkipUserInfo(url.substr(after_scheme));
    if (user_length > 0) parts.user_info = url.substr(after_scheme, user_length - 1);
    parts.host = HostSpan(url);
    std::string ignored;
    parts.port = GetHostAndPort(url, ignored);
    std::size_t path = PathStart(url);
    parts.path = path == std::string_view::npos ? std::string_view("/") : url.substr(path);
    return parts;
}

int SchemeLength(std::string_view link) {
    for (std::size_t i = 0; i < link.size(); ++i) {
        char c = link[i];
        if (c == ':') return static_cast<int>(i + 1);
        if (c == '?' || c == '/' || c == '\0') return -1;
    }
    return -1;
}

bool HasScheme(std::string_view text) {
    std::size_t mark = text.find(kSchemeMark);
    return mark != std::string_view::npos && mark < 7;
}

std::size_t PathEnd(std::string_view text) {
    return PathEndFrom(text, PathStart(text));
}

std::size_t DirectoryEnd(std::string_view url) {
    std::size_t start = PathStart(url);
    if (start == std::string_view::npos) return url.size();
    std::size_t end = PathEnd(url);
    return url.substr(0, end).rfind('/');  // never below start: url[start] is '/'
}

namespace {

// StripDefaultPort for a URL whose host (after any user information) begins at host_start.
void StripDefaultPortAt(std::string& url, std::size_t host_start) {
    int default_port = DefaultPortOf(url);
    if (default_port == 0) return;
    std::size_t host_end = HostEnd(url, host_start);
    if (host_end >= url.size() || url[host_end] != ':') return;
    std::size_t digits_end = url.find('/', host_end);
    if (digits_end == std::string::npos) digits_end = url.size();
    std::string_view digits(url.data() + host_end + 1, digits_end - host_end - 1);
    if (digits.empty() || digits.size() > 5) return;
    int port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return;
        port = port * 10 + (c - '0');
    }
    if (port == default_port) url.erase(host_end, digits_end - host_end);
}

}  // namespace

void StripDefaultPort(std::string& url) {
    StripDefaultPortAt(url, HostStart(url));
}

std::size_t NormalizeUrl(std::string& url) {
    while (!url.empty() && static_cast<unsigned char>(url.back()) < 0x21) url.pop_back();
    DecodeEntities(url);
    // Where the scheme ends and the host begins is found once and kept through the changes
    // below, which all lie past the scheme.
    const std::size_t host = SkipScheme(url);
    std::size_t lower_from = host + SkipUserInfo(std::string_view(url).substr(host));
    StripDefaultPortAt(url, lower_from);
    if (EndsWithSchemeMark(url, host)) {
        std::size_t extra = 0;
        while (host + extra < url.size() && url[host + extra] == '/') ++extra;
        if (extra > 0) {
            url.erase(host, extra);
            lower_from = host + SkipUserInfo(std::string_view(url).substr(host));
        }
    }

    std::size_t path = url.find('/', host);
    std::size_t lower_to = path == std::string::npos ? url.size() : path;
    for (std::size_t i = lower_from; i < lower_to; ++i) {
        if (url[i] >= 'A' && url[i] <= 'Z') url[i] = static_cast<char>(url[i] - 'A' + 'a');
    }
    if (path == std::string::npos) {
        url.push_back('/');
        return host;
    }

    const std::size_t query = PathEndFrom(url, path);
    // Most links name no dot segment; they keep their path as it is, without a copy.
    const std::size_t dot = FirstDotSegment(std::string_view(url.data() + path, query - path));
    if (dot != std::string_view::npos) {
        const std::size_t from = path + dot;
        const std::size_t end =
            FoldParentSegments(url, path, from, RemoveDotSegments(url, from, query));
        url.erase(end, query - end);
    }
    CollapseLeadingSlashes(url, path);
    return host;
}

void MakeBaseUrl(BaseUrl& base, std::string_view url) {
    base.text.assign(url);
    std::size_t end = DirectoryEnd(base.text);
    if (end >= base.text.size() || base.text[end] != '/') {
        base.text.resize(end);
        base.text.push_back('/');
    }
    base.directory_length = end + 1;
}

void JoinToBase(std::string& dst, const BaseUrl& base, std::string_view relative) {
    std::size_t keep;
    if (relative.starts_with('/')) {
        keep = PathStart(base.text);
        if (keep == std::string::npos) keep = base.text.size();
    } else if (relative.starts_with('?')) {
        keep = PathEnd(base.text);
    } else {
        keep = std::min(base.directory_length, base.text.size());
    }
    dst.assign(base.text, 0, keep);
    dst.append(relative);
}

int ResolveLink(std::string& dst, const BaseUrl& base, std::string_view link) {
    if (link.empty() || link.front() == '#') {
        dst = base.text;
        return kResolved;
    }
    int scheme_length = SchemeLength(link);
    if (scheme_length == -1) {
        JoinToBase(dst, base, link);
        return kResolved;
    }
    if (scheme_length == 1) return kNotFollowable;
    // Only the fetched schemes, spelled exactly; a prefix ("f:", "ht:") is no scheme of ours.
    std::string_view name = link.substr(0, scheme_length - 1);
    if (!SchemeIs(name, "http") && !SchemeIs(name, "https") && !SchemeIs(name, "ftp")) {
        return kNotFollowable;
    }
    std::string_view rest = link.substr(scheme_length);
    if (!rest.starts_with("//")) {
        JoinToBase(dst, base, rest);
        return kResolved;
    }
    dst.assign(link);
    return kAbsolute;
}

std::string GetExtension(std::string_view url) {
    constexpr std::size_t kMaxWalk = 16;
    std::size_t end = url.find('?');
    if (end == std::string_view::npos) end = url.size();
    for (std::size_t k = 1; k <= kMaxWalk && k <= end; ++k) {
        char c = url[end - k];
        if (c == '/') break;
        if (c == '.') return std::string(url.substr(end - k + 1, k - 1));
    }
    return {};
}

long FormEncode(std::string& dst, std::size_t capacity, std::string_view src) {
    std::size_t start = dst.size();
    for (unsigned char c : src) {
        std::size_t need = (IsUnreserved(c) || c == ' ') ? 1 : 3;
        if (dst.size() - start + need > capacity) {
            dst.resize(start);
            return -1;
        }
        if (c == ' ') {
            dst.push_back('+');
        } else if (need == 1) {
            dst.push_back(static_cast<char>(c));
        } else {
            AppendEscape(dst, c);
        }
    }
    return static_cast<long>(dst.size() - start);
}

namespace {

// Length of the leading bytes PercentDecode copies unchanged: no escape, control byte or NUL.
// Eight bytes are looked at together while none of them is either: a URL rarely holds one.
std::size_t PlainRun(std::string_view text) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    std::size_t n = 0;
    for (; n + sizeof(std::uint64_t) <= text.size(); n += sizeof(std::uint64_t)) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + n, sizeof word);
        // A byte below 0x20, or a byte equal to '%' (zero after the exclusive or), sets its
        // high bit in the test; no other byte does.
        const std::uint64_t percent = word ^ (kOnes * '%');
        const std::uint64_t below_space = (word - kOnes * 0x20) & ~word;
        const std::uint64_t is_percent = (percent - kOnes) & ~percent;
        if (((below_space | is_percent) & kHighBits) != 0) break;
    }
    while (n < text.size() && text[n] != '%' && static_cast<unsigned char>(text[n]) >= 0x20) ++n;
    return n;
}

}  // namespace

std::string PercentDecode(std::string_view src, std::size_t capacity) {
    std::string dst;
    PercentDecode(dst, src, capacity);
    return dst;
}

void PercentDecode(std::string& dst, std::string_view src, std::size_t capacity) {
    const std::size_t limit = (capacity < 1 ? kUrlBuffer : capacity) - 1;
    dst.clear();
    dst.reserve(std::min(src.size(), limit));
    for (std::size_t i = 0; i < src.size() && src[i] != '\0' && dst.size() < limit; ++i) {
        // Runs of bytes that stay as they are go over at once.
        const std::size_t run = PlainRun(src.substr(i, limit - dst.size()));
        if (run > 0) {
            dst.append(src.data() + i, run);
            i += run - 1;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(src[i]);
        if (c < 0x20) {
            if (dst.size() + 3 > limit) break;
            AppendEscape(dst, c);
            continue;
        }
        if (c == '%' && i + 2 < src.size() && util::HexDigitValue(src[i + 1]) >= 0 &&
            util::HexDigitValue(src[i + 2]) >= 0) {
            unsigned char decoded = static_cast<unsigned char>(
                util::HexDigitValue(src[i + 1]) * 16 + util::HexDigitValue(src[i + 2]));
            if (IsUnreserved(decoded) || decoded == ' ' || decoded >= 0x80) {
                dst.push_back(static_cast<char>(decoded));
                i += 2;
                continue;
            }
        }
        dst.push_back(static_cast<char>(c));
    }
}

std::string EscapeUnsafeBytes(std::string_view src) {
    std::string dst;
    dst.reserve(src.size());
    for (unsigned char c : src) {
        if (static_cast<signed char>(c) <= 0x20 || c == 0x7F) {
            AppendEscape(dst, c);
        } else {
            dst.push_back(static_cast<char>(c));
        }
    }
    return dst;
}

namespace {

// The byte a reference name stands for, or -1 to leave the reference alone. Names are compared
// over their own length, as the pages we meet in the wild expect.
int EntityByte(std::string_view name) {
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}};
    if (name.starts_with('#')) {
        int value = 0;
        std::size_t digits = 0;
        while (1 + digits < name.size() && name[1 + digits] >= '0' && name[1 + digits] <= '9') {
            value = (value * 10 + (name[1 + digits] - '0')) & 0xFFFF;
            ++digits;
        }
        // A hexadecimal or empty reference, or one that would give NUL, would cut the text.
        if (digits == 0 || (value & 0xFF) == 0) return -1;
        return value & 0xFF;
    }
    for (const auto& [entity, byte] : kNamed) {
        if (name.size() <= entity.size() && entity.substr(0, name.size()) == name) return byte;
    }
    return -1;
}

}  // namespace

void DecodeEntities(std::string& text) {
    std::size_t pos = 0;
    while ((pos = text.find('&', pos)) != std::string::npos) {
        std::size_t semicolon = text.find(';', pos + 1);
        if (semicolon == std::string::npos) return;
        int byte = EntityByte(std::string_view(text).substr(pos + 1, semicolon - pos - 1));
        if (byte >= 0) text.replace(pos, semicolon - pos + 1, 1, static_cast<char>(byte));
        ++pos;
    }
}

std::string FileSafeName(std::string_view url_without_scheme, std::size_t capacity) {
    std::string dst;
    if (capacity == 0) return dst;
    const std::size_t limit = capacity - 1;
    dst.reserve(std::min(url_without_scheme.size(), limit));
    std::size_t slash = url_without_scheme.find('/');
    if (slash == std::string_view::npos) slash = url_without_scheme.size();
    for (std::size_t i = 0; i < url_without_scheme.size() && dst.size() < limit; ++i) {
        unsigned char c = static_cast<unsigned char>(url_without_scheme[i]);
        if (c == '\0') break;
        if (i < slash) {
            dst.push_back(c == ':' ? '_' : static_cast<char>(c));
        } else if ((c == ' ' || IsQueryBoundaryByte(c)) && limit - dst.size() >= 3) {
            AppendEscape(dst, c);
        } else {
            dst.push_back(static_cast<char>(c));
        }
    }
    return dst;
}

void ColonToUnderscore(std::string& text) {
    std::size_t colon = text.find(':');
    std::size_t slash = text.find('/');
    if (colon != std::string::npos && colon < slash) text[colon] = '_';
}

}  // namespace kelvra::net
