#include "store/store_names.h"

#include <cstdio>

#include "net/url.h"

namespace kelvra::store {

namespace {

constexpr std::string_view kDigits36 = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr std::uint32_t kSeedRange = 36u * 36u * 36u * 36u * 36u * 36u;

bool IsDotSegment(std::string_view segment) {
    return segment == "." || segment == "..";
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

void AppendEscape(std::string& out, unsigned char c) {
    char escape[4];
    std::snprintf(escape, sizeof escape, "%%%02x", c);
    out += escape;
}

template <class Visit>
void ForEachSegment(std::string_view path, Visit visit) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        const bool last = slash == std::string_view::npos;
        visit(path.substr(start, last ? std::string_view::npos : slash - start), last);
        if (last) return;
        start = slash + 1;
    }
}

}  // namespace

std::string KeyOfUrl(std::string_view url) {
    std::string key = net::PercentDecode(url);
    net::NormalizeUrl(key);
    key.erase(0, net::HostStart(key));
    return key;
}

std::string DecodedKeyOfUrl(std::string_view url) {
    return net::PercentDecode(url.substr(net::HostStart(url)));
}

std::size_t KeySplitEnd(std::string_view key) {
    return net::PathEnd(key);
}

bool IsConfinedName(std::string_view name) {
    if (name.empty() || name.size() > kMaxLocalName || name.front() == '/') return false;
    if (name.find('/') == std::string_view::npos) return false;
    for (const char c : name) {
        if (c == '\\' || c == ':' || IsControl(static_cast<unsigned char>(c))) return false;
    }
    bool confined = true;
    ForEachSegment(name, [&confined](std::string_view segment, bool last) {
        if (IsDotSegment(segment) || (segment.empty() && !last)) confined = false;
    });
    return confined;
}

void ConfineName(std::string& name) {
    std::string out;
    out.reserve(name.size());
    std::string_view rest(name);
    if (rest.starts_with('/')) {
        out += "%2f";
        rest.remove_prefix(1);
    }
    ForEachSegment(rest, [&out](std::string_view segment, bool last) {
        if (IsDotSegment(segment)) {
            for (std::size_t i = 0; i < segment.size(); ++i) out += "%2e";
        } else {
            // Runs of bytes that stay as they are go over at once.
            while (!segment.empty()) {
                std::size_t run = 0;
                while (run < segment.size() && segment[run] != '\\' &&
                       !IsControl(static_cast<unsigned char>(segment[run]))) {
                    ++run;
                }
                out.append(segment.substr(0, run));
                if (run == segment.size()) break;
                AppendEscape(out, static_cast<unsigned char>(segment[run]));
                segment.remove_prefix(run + 1);
            }
        }
        if (!last) out += '/';
    });
    name = std::move(out);
}

bool HasParentSegment(std::string_view path) {
    bool found = false;
    ForEachSegment(path, [&found](std::string_view segment, bool) {
        if (segment == "..") found = true;
    });
    return found;
}

std::string Base36Seed(std::uint32_t seed) {
    std::uint32_t value = seed % kSeedRange;
    std::string digits(6, '0');
    for (char& d : digits) {
        d = kDigits36[value % 36];
        value /= 36;
    }
    return digits;
}

}  // namespace kelvra::store
