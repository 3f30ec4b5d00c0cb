#include "store/headerlist_cookie.h"

#include "net/url.h"
#include "store/store_names.h"
#include "store/store_record.h"
#include "util/header.h"
#include "util/strutil.h"

namespace kelvra::store {

namespace {

constexpr std::string_view kCookieNode = "#";
// Secure cookies (RFC 6265 §4.1.2.5) have a jar of their own beside the plain one, so that a
// data directory read by a copy that knows nothing of https never sends them over http.
constexpr std::string_view kSecureCookieNode = "#s";

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool IsHttps(std::string_view url) {
    return url.starts_with("https://");
}

// Whether the attributes hold the value-less attribute name (case ignored).
bool HasFlagAttribute(std::string_view attributes, std::string_view name) {
    while (!attributes.empty()) {
        const std::size_t end = std::min(attributes.find(';'), attributes.size());
        if (util::EqualsNoCase(TrimBlanks(attributes.substr(0, end)), name)) return true;
        attributes.remove_prefix(std::min(end + 1, attributes.size()));
    }
    return false;
}

// The value of attribute name among "; name=value" attributes; none when absent.
std::optional<std::string_view> CookieAttribute(std::string_view attributes,
                                                std::string_view name) {
    while (!attributes.empty()) {
        const std::size_t end = std::min(attributes.find(';'), attributes.size());
        std::string_view attribute = attributes.substr(0, end);
        attributes.remove_prefix(std::min(end + 1, attributes.size()));
        while (!attribute.empty() && util::IsWhite(static_cast<unsigned char>(attribute[0])))
            attribute.remove_prefix(1);
        if (!util::StartsWithNoCase(attribute, name)) continue;
        attribute.remove_prefix(name.size());
        while (!attribute.empty() && (attribute[0] == ' ' || attribute[0] == '\t'))
            attribute.remove_prefix(1);
        if (attribute.empty() || attribute[0] != '=') continue;
        return TrimBlanks(attribute.substr(1));
    }
    return std::nullopt;
}

std::string CookieDirectory(std::string_view key, std::string_view attributes) {
    if (const auto path = CookieAttribute(attributes, "path")) {
        net::BaseUrl base;
        net::MakeBaseUrl(base, key);
        std::string joined;
        net::JoinToBase(joined, base, *path);
        net::NormalizeUrl(joined);
        return joined;
    }
    return std::string(key.substr(0, net::DirectoryEnd(key)));
}

std::string_view CookieName(std::string_view cookie) {
    return cookie.substr(0, cookie.find('='));
}

}  // namespace

headerlist_cookie::~headerlist_cookie() = default;

treelistnode* headerlist_cookie::Add(std::string_view url, std::string_view text, bool overwrite) {
    treelistnode* node = headerlistex::Add(url, text, overwrite);
    if (!node || !CookiesEnabled()) return node;
    for (std::size_t from = 0; from < text.size();) {
        const std::string_view value = util::FindHeader(text.substr(from), "Set-Cookie:");
        if (value.empty()) break;
        // A cookie refused (malformed, or not the URL's to set) leaves the others alone.
        static_cast<void>(StoreCookie(value, url));
        from = static_cast<std::size_t>(value.data() - text.data()) + value.size();
    }
    return node;
}

bool headerlist_cookie::StoreCookie(std::string_view set_cookie_value, std::string_view url) {
    std::size_t end = 0;
    while (end < set_cookie_value.size() && set_cookie_value[end] != ';' &&
           static_cast<unsigned char>(set_cookie_value[end]) >= 0x20) {
        ++end;
    }
    const std::string_view cookie = set_cookie_value.substr(0, end);
    if (cookie.empty()) return true;
    const std::string_view attributes =
        set_cookie_value.find(';') == std::string_view::npos
            ? std::string_view()
            : set_cookie_value.substr(set_cookie_value.find(';') + 1);
    const bool secure = HasFlagAttribute(attributes, "secure");
    if (secure && !IsHttps(url)) return true;  // only https may set it
    std::string key = CookieDirectory(KeyOfUrl(url), attributes);
    key.erase(0, net::HostStart(key));
    if (key.empty() || key.back() != '/') key += '/';
    key += secure ? kSecureCookieNode : kCookieNode;

    util::MutexLock lock(Mutex());
    std::string text = "#\n";
    if (const treelistnode* node = FindRecordByKey(key); node && node->value().text()) {
        std::string_view lines(node->value().text());
        lines.remove_prefix(std::min<std::size_t>(2, lines.size()));
        while (!lines.empty()) {
            const std::size_t lf = std::min(lines.find('\n'), lines.size());
            const std::string_view line = lines.substr(0, lf);
            if (!line.empty() && CookieName(line) != CookieName(cookie))
                text.append(line).push_back('\n');
            lines.remove_prefix(std::min(lf + 1, lines.size()));
        }
    }
    text.append(cookie).push_back('\n');
    if (text.size() > kMaxRecordText) return true;  // a record that could not be loaded again
    headerlistex::Add(key, text, true);
    return true;
}

std::string& headerlist_cookie::BuildCookieHeader(std::string_view url, std::string& out) {
    return BuildCookieHeader(url, KeyOfUrl(url), out);
}

std::string& headerlist_cookie::BuildCookieHeader(std::string_view url, std::string_view key,
                                                  std::string& out) {
    util::MutexLock lock(Mutex());
    if (!CookieRecordAdded()) return out;
    std::string_view path = key.substr(0, KeySplitEnd(key));
    const treelistnode* node = FindKey(path);
    while (!node) {
        const std::size_t slash = path.rfind('/');
        if (slash == std::string_view::npos) return out;
        path = path.substr(0, slash);
        node = FindKey(path);
    }
    const bool secure = IsHttps(url);
    bool any = false;
    for (; node && !node->IsRoot(); node = node->parent()) {
        AppendJar(node->FindChild(kCookieNode), out, any);
        if (secure) AppendJar(node->FindChild(kSecureCookieNode), out, any);
    }
    if (any) out += "\r\n";
    return out;
}

void headerlist_cookie::AppendJar(const treelistnode* jar, std::string& out, bool& any) {
    const char* text = jar ? jar->value().text() : nullptr;
    if (!text || text[0] != '#') return;
    std::string_view lines(text + 1);
    while (!lines.empty()) {
        const std::size_t lf = std::min(lines.find('\n'), lines.size());
        const std::string_view line = lines.substr(0, lf);
        if (!line.empty()) {
            out += any ? "; " : "Cookie: ";
            out.append(line);
            any = true;
        }
        lines.remove_prefix(std::min(lf + 1, lines.size()));
    }
}

}  // namespace kelvra::store
