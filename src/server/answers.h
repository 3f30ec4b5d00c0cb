#pragma once
// The server's own answer pages, byte for byte, and the header of a stored object. Every page
// is HTTP/1.0 and ends the connection. Text filled into a page's body is HTML-escaped, text
// filled into its header is not; a fill-in holding CR, LF or NUL is left out of the page.

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvra::server {

// "%d.%d.%d.%d:%d": the local address of the accepted socket (network byte order) and the
// listening port, as the pages' base addresses name the server.
std::string OwnAddress(std::uint32_t local_address, int port);

std::string RedirectPage(std::string_view target);
// last_modified is an HTTP date.
std::string NotModifiedPage(std::string_view last_modified);
// The "/get?%s%s" link gets get_prefix ("*" for a POST) and get_url.
std::string NotInSpoolPage(int status, std::string_view own, std::string_view target,
                           std::string_view get_prefix, std::string_view get_url);
// The answer to a CONNECT whose origin presented a certificate that does not verify: 502 with
// the reason ("unknown issuer", ...) in the status line and the text.
std::string CertificateRefusedPage(std::string_view target, std::string_view reason);
std::string RelayFailedPage(std::string_view own, std::string_view target);
// reload_url: the text after the '?' of a "get" or "proxysetting" command, else empty.
std::string CommandAcceptedPage(std::string_view own, std::string_view reload_url);
std::string CommandRefusedPage(std::string_view own, std::string_view reload_url);
std::string ReloadQuestionPage(std::string_view own, std::string_view target);
// status is printed as "%3s": right-aligned in three columns, never cut.
std::string ProhibitedPage(std::string_view status);

// The header lines of a stored object, from its record's fields (empty: the line is left out).
struct StoredHeaderFields {
    std::string_view status;  // "XR:"; empty gives "200 OK"
    std::string_view last_modified;
    std::string_view location;
    std::string_view content_type;
    std::string_view content_encoding;
};
// The status line and the record's lines, without the length, keep-alive and blank lines (with
// room for them).
std::string StoredObjectHead(const StoredHeaderFields& fields);
// "Content-length:" and, when asked for, "Proxy-Connection: Keep-Alive" ("Connection:" inside
// an intercepted CONNECT; both only for a size of 1 or more: without a length the connection
// must close), and the blank line.
std::string BodyLines(std::int64_t size, bool keep_alive, bool in_tunnel = false);
// The same lines appended to out.
void AppendBodyLines(std::string& out, std::int64_t size, bool keep_alive, bool in_tunnel);

}  // namespace kelvra::server
