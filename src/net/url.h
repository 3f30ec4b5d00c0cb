#pragma once
// URLs as plain 8-bit text: the canonical form, joining links to their page, and the escapes
// used on the wire, in form data and in local file names. URL texts are at most kMaxUrl bytes
// (the Windows build keeps them in 2048-byte buffers; data directories stay exchangeable).

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvra::net {

inline constexpr std::size_t kUrlBuffer = 2048;
inline constexpr std::size_t kMaxUrl = kUrlBuffer - 1;
inline constexpr int kHttpPort = 80;
inline constexpr int kHttpsPort = 443;
inline constexpr int kFtpPort = 21;

// The pieces of a URL as views into its text.
struct UrlParts {
    std::string_view scheme;     // without "://"; empty when there is none
    std::string_view user_info;  // without the '@'; empty when absent
    std::string_view host;
    int port = 0;           // 0 when the URL names none
    std::string_view path;  // "/" when the URL has none; the query stays part of it
};
UrlParts SplitUrl(std::string_view url);

// The canonical form under which URLs are queued, stored and compared. Returns the offset of
// the text after "scheme://" (0 when there is no scheme).
std::size_t NormalizeUrl(std::string& url);

// Removes ":80" from an http URL, ":443" from an https URL and ":21" from an ftp URL.
void StripDefaultPort(std::string& url);

// Offsets into text.
std::size_t SkipScheme(std::string_view text);    // after "scheme://", or after leading spaces
std::size_t SkipUserInfo(std::string_view text);  // after "user:password@" (text after scheme)
std::size_t HostStart(std::string_view url);      // SkipUserInfo(SkipScheme(url))

// The host (up to '/', ':' or the end).
std::string_view HostSpan(std::string_view url);
// The port (0 if none); host receives the host name.
[[nodiscard]] int GetHostAndPort(std::string_view url, std::string& host);
// The path with its query ("/" if none).
std::string GetPath(std::string_view url);

// Length of the scheme including its ':', or -1 when '?', '/' or the end comes first.
int SchemeLength(std::string_view link);
// True when "://" occurs and begins within the first 7 bytes.
bool HasScheme(std::string_view text);
// Offset of the query boundary (see the .cpp), or text.size() when there is none.
std::size_t PathEnd(std::string_view text);
// Offset of the last '/' before the query boundary, or the URL length when there is none.
std::size_t DirectoryEnd(std::string_view url);

// The page that links are resolved against.
struct BaseUrl {
    std::string text;
    std::size_t directory_length = 0;  // leading bytes up to and including the directory's '/'
};
void MakeBaseUrl(BaseUrl& base, std::string_view url);
void JoinToBase(std::string& dst, const BaseUrl& base, std::string_view relative);

enum ResolveResult { kNotFollowable = -1, kResolved = 0, kAbsolute = 1 };
// -1 (not followable), 0 (resolved against the base), 1 (absolute, copied).
[[nodiscard]] int ResolveLink(std::string& dst, const BaseUrl& base, std::string_view link);

// The file extension (at most 15 bytes, case kept; possibly empty).
std::string GetExtension(std::string_view url);

// application/x-www-form-urlencoded bytes appended to dst; the number of bytes written, or -1
// (dst unchanged) when they would exceed capacity.
[[nodiscard]] long FormEncode(std::string& dst, std::size_t capacity, std::string_view src);

// Decodes the escapes of unreserved bytes only. Output is at most capacity - 1 bytes; a
// capacity below 1 means the URL buffer size, so no caller's buffer is ever exceeded.
std::string PercentDecode(std::string_view src, std::size_t capacity = 0);
// The same into dst, which is written over.
void PercentDecode(std::string& dst, std::string_view src, std::size_t capacity = 0);

// Escapes control bytes, the space, 0x7F and bytes of 0x80 or more as "%xx".
std::string EscapeUnsafeBytes(std::string_view src);

// &amp; &lt; &gt; &quot; and decimal &#NN; in place.
void DecodeEntities(std::string& text);

// A relative spool path for a URL without its scheme: "host:port" becomes "host_port", bytes
// illegal in file names are escaped; at most capacity - 1 bytes.
std::string FileSafeName(std::string_view url_without_scheme, std::size_t capacity);

// Replaces the first ':' before the first '/' by '_'.
void ColonToUnderscore(std::string& text);

}  // namespace kelvra::net
