#include "server/answers.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <utility>

namespace kelvra::server {
namespace {

constexpr std::string_view kSignature =
    "<HR><I>Orvane 5.3.0(Win32; GUI; ix86)<BR>by Tesmarin</I></BODY></HTML>";

constexpr std::string_view kRedirect =
    "HTTP/1.0 301 Moved Permanently\r\nLocation: %s\r\nContent-type: text/html\r\n\r\n"
    "<HTML><HEAD><TITLE>301 Moved Permanently</TITLE></HEAD><BODY><H1>Moved Permanently</H1>"
    "<HR>The document has moved to <A HREF=\"%s\">%s</A>.<BR>";

constexpr std::string_view kNotModified =
    "HTTP/1.0 304 Not Modified\r\nLast-modified: %s\r\nProxy-Connection: Close\r\n\r\n";

constexpr std::string_view kNotInSpool =
    "HTTP/1.0 %s Object Not Found\r\nContent-type: text/html\r\n\r\n"
    "<HTML><HEAD><base href=\"http://%s\"><TITLE>%s Object Not Found</TITLE></HEAD><BODY>"
    "<H1>Object Not Found</H1><HR>This page <A HREF=\"%s\">%s</A> is not found in the local "
    "spool.<BR><BR><A HREF=\"/get?%s%s\">Get the WebPage data</A> | "
    "<A HREF=\"/proxysetting?%s\">Pop-up proxy server setting</A><BR>"
    "<A HREF=\"/mode=*2?%s\">Change to ProxyMode 1</A> | "
    "<A HREF=\"/mode=*3?%s\">Change to ProxyMode 2</A><BR>";

constexpr std::string_view kRelayFailed =
    "HTTP/1.0 502 Bad Gateway\r\nContent-type: text/html\r\n\r\n"
    "<HTML><HEAD><base href=\"http://%s\"><TITLE>502 Bad Gateway</TITLE></HEAD><BODY>"
    "<H1>Bad Gateway</H1><HR>Can't connect to Web/Proxy Server.<BR>Please check URL or "
    "connection to internet.<BR><BR><A HREF=\"/mode=*1?%s\">Change to LocalMode</A> | "
    "<A HREF=\"/proxysetting?%s\">Pop-up proxy server setting</A><BR>";

constexpr std::string_view kAccepted =
    "HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n"
    "<HTML><HEAD><base href=\"http://%s\"><TITLE>202 Request Success</TITLE></HEAD><BODY>"
    "<H1>Request Success</H1><HR>Your request is accepted.(<A HREF=\"/reload?%s\">URL</A>)<BR>";

constexpr std::string_view kRefused =
    "HTTP/1.0 403 \r\nContent-type: text/html\r\n\r\n"
    "<HTML><HEAD><base href=\"http://%s\"><TITLE>403 Request Denied</TITLE></HEAD><BODY>"
    "<H1>Request Denied</H1><HR>Your request is denied.(<A HREF=\"/reload?%s\">URL</A>)<BR>";

constexpr std::string_view kReloadQuestion =
    "HTTP/1.0 400 \r\nContent-type: text/html\r\n\r\n"
    "<HTML><HEAD><base href=\"http://%s\"><TITLE>Which is your request ?</TITLE></HEAD><BODY>"
    "<H1>Which is your request ?</H1><HR>You pushed the \"Reload\" button on the WWWBrowser."
    "<BR><BR><A HREF=\"/reload?%s\">Only Reload</A> | <A HREF=\"/get?%s\">Get the WebPage "
    "data</A> | <A HREF=\"/proxysetting?%s\">Pop-up proxy server setting</A><BR>"
    "<A HREF=\"/mode=*2?%s\">Change to ProxyMode 1</A> | "
    "<A HREF=\"/mode=*3?%s\">Change to ProxyMode 2</A><BR>";

constexpr std::string_view kProhibited =
    "HTTP/1.0 %s \r\nContent-type: text/html\r\n\r\n"
    "<HTML><HEAD><TITLE>%s This URL access is prohibited(Orvane 5.3.0/by Tesmarin)</TITLE>"
    "</HEAD><BODY></BODY></HTML>";

// A fill-in holding one of these could end a header line early (and so add lines of its
// own) or cut the page short in a reader that stops at NUL: it is left out of the page.
constexpr std::string_view kBreakingBytes("\r\n\0", 3);

// Fill-ins in the body are request data echoed into HTML: escaped, so that a target can
// never become markup or script under the site's origin.
constexpr std::pair<char, std::string_view> kHtmlEntities[] = {
    {'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&#39;"}};

void AppendHtmlEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto* entity = std::find_if(std::begin(kHtmlEntities), std::end(kHtmlEntities),
                                          [c](const auto& pair) { return pair.first == c; });
        if (entity == std::end(kHtmlEntities)) {
            out.push_back(c);
        } else {
            out.append(entity->second);
        }
    }
}

// Replaces each "%s" of the template in turn. Arguments are bytes, never format text, so a
// request target with '%' cannot disturb the page. Fill-ins of the header stay as they are,
// those after the blank line are HTML-escaped.
std::string Fill(std::string_view page, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(page.size() + 256);
    const std::size_t body = page.find("\r\n\r\n");
    auto arg = args.begin();
    std::size_t at = 0;
    for (std::size_t mark = page.find("%s"); mark != std::string_view::npos;
         mark = page.find("%s", at)) {
        out.append(page.substr(at, mark - at));
        at = mark + 2;
        if (arg == args.end()) continue;
        const std::string_view value = *arg++;
        if (value.find_first_of(kBreakingBytes) != std::string_view::npos) continue;
        if (mark < body) {
            out.append(value);
        } else {
            AppendHtmlEscaped(out, value);
        }
    }
    out.append(page.substr(at));
    return out;
}

std::string WithSignature(std::string page) {
    page.append(kSignature);
    return page;
}

std::string ThreeDigits(int status) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", status);
    return text;
}

// What a stored object's head takes besides the record's values: the status line, the names of
// the record's lines and the length and keep-alive lines (BodyLines) with their line ends.
constexpr std::size_t kHeadLinesRoom = 160;

void AppendLine(std::string& out, std::string_view name, std::string_view value) {
    if (value.empty()) return;
    out.append(name).append(value).append("\r\n");
}

}  // namespace

std::string OwnAddress(std::uint32_t local_address, int port) {
    const auto* octet = reinterpret_cast<const unsigned char*>(&local_address);
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d:%d", octet[0], octet[1], octet[2], octet[3],
                  port);
    return text;
}

std::string RedirectPage(std::string_view target) {
    return WithSignature(Fill(kRedirect, {target, target, target}));
}

std::string NotModifiedPage(std::string_view last_modified) {
    return Fill(kNotModified, {last_modified});
}

std::string NotInSpoolPage(int status, std::string_view own, std::string_view target,
                           std::string_view get_prefix, std::string_view get_url) {
    const std::string code = ThreeDigits(status);
    return WithSignature(Fill(kNotInSpool, {code, own, code, target, target, get_prefix, get_url,
                                            target, target, target}));
}

std::string CertificateRefusedPage(std::string_view target, std::string_view reason) {
    const std::string text =
        "The certificate of " + std::string(target) + " was refused: " + std::string(reason);
    return "HTTP/1.0 502 Certificate refused (" + std::string(reason) +
           ")\r\nContent-type: text/plain\r\n\r\n" + text + "\r\n";
}

std::string RelayFailedPage(std::string_view own, std::string_view target) {
    return WithSignature(Fill(kRelayFailed, {own, target, target}));
}

std::string CommandAcceptedPage(std::string_view own, std::string_view reload_url) {
    return WithSignature(Fill(kAccepted, {own, reload_url}));
}

std::string CommandRefusedPage(std::string_view own, std::string_view reload_url) {
    return WithSignature(Fill(kRefused, {own, reload_url}));
}

std::string ReloadQuestionPage(std::string_view own, std::string_view target) {
    return WithSignature(Fill(kReloadQuestion, {own, target, target, target, target, target}));
}

std::string ProhibitedPage(std::string_view status) {
    std::string padded;
    if (status.size() < 3) padded.assign(3 - status.size(), ' ');
    padded.append(status);
    return Fill(kProhibited, {padded, padded});
}

std::string StoredObjectHead(const StoredHeaderFields& fields) {
    std::string out;
    out.reserve(kHeadLinesRoom + fields.status.size() + fields.last_modified.size() +
                fields.location.size() + fields.content_type.size() +
                fields.content_encoding.size());
    out.append("HTTP/1.0 ");
    if (fields.status.empty()) {
        out.append("200 OK\r\n");
    } else {
        out.append(fields.status).append(" \r\n");
    }
    AppendLine(out, "Last-modified: ", fields.last_modified);
    AppendLine(out, "Location: ", fields.location);
    AppendLine(out, "Content-type: ", fields.content_type);
    AppendLine(out, "Content-Encoding: ", fields.content_encoding);
    return out;
}

std::string BodyLines(std::int64_t size, bool keep_alive, bool in_tunnel) {
    std::string out;
    AppendBodyLines(out, size, keep_alive, in_tunnel);
    return out;
}

void AppendBodyLines(std::string& out, std::int64_t size, bool keep_alive, bool in_tunnel) {
    // Without a length the body ends when the connection closes, so it cannot be kept.
    if (size >= 1) {
        out.append("Content-length: ").append(std::to_string(size)).append("\r\n");
        // Inside an intercepted CONNECT the browser takes this server for the origin.
        if (keep_alive)
            out.append(in_tunnel ? "Connection" : "Proxy-Connection").append(": Keep-Alive\r\n");
    }
    out.append("\r\n");
}

}  // namespace kelvra::server
