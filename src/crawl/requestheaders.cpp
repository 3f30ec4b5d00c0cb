#include "crawl/requestheaders.h"

#include "net/httputils.h"
#include "store/fetchjob.h"

namespace kelvra::crawl {

namespace {

using namespace store::JobFlag;

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kProxyScope = ".";

bool ControlOrBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

void AddLine(std::string& text, std::string_view name, std::string_view value) {
    text.append(name);
    text.append(value);
    text.append(kCrLf);
}

// Whether the stored object can be compared with the server's: a complete local file, or a
// partial one that is exactly as long as the record says (then resumed when the job asks).
bool AddResumeOrCompare(std::string& text, const StoredState& stored, std::uint32_t flags) {
    if (!stored.xrange) return true;
    if (stored.local_size < 0 || std::to_string(stored.local_size) != *stored.xrange) {
        return false;
    }
    if ((flags & kResume) == 0) return true;
    AddLine(text, "Range: bytes=", *stored.xrange + "-");
    return false;
}

bool AddUpdateCheck(std::string& text, const StoredState& stored, std::uint32_t flags,
                    bool comparable) {
    if (!comparable || (flags & kModifyCheck) == 0 || (flags & (kPost | kPlainGet)) != 0) {
        return comparable;
    }
    if (!stored.last_modified) return false;
    AddLine(text, "If-Modified-Since: ", *stored.last_modified);
    return true;
}

void AddAuthorization(std::string& text, const RequestInputs& inputs, const StoredState& stored,
                      std::uint32_t flags) {
    std::string value;
    if ((flags & kAuthentication) != 0) {
        if (!stored.has_server_challenge) {
            if (inputs.accepted_authorization) {
                AddLine(text, "Authorization: ", *inputs.accepted_authorization);
            }
        } else if (inputs.authorization &&
                   inputs.authorization(value, inputs.url, inputs.attempt)) {
            AddLine(text, "Authorization: ", value);
        }
    }
    value.clear();
    if (stored.has_proxy_challenge && inputs.authorization &&
        inputs.authorization(value, kProxyScope, inputs.attempt)) {
        AddLine(text, "Proxy-Authorization: ", value);
    }
}

void AddStoredState(std::string& text, const RequestInputs& inputs, const StoredState& stored,
                    std::uint32_t& flags) {
    bool comparable = false;
    if (stored.has_record) {
        comparable = AddResumeOrCompare(text, stored, flags);
        comparable = AddUpdateCheck(text, stored, flags, comparable);
    }
    // Also for a URL never fetched before: a session cookie set on one page has to reach
    // the pages it links to.
    if ((flags & kSendCookie) != 0) text.append(stored.cookie_header);
    AddAuthorization(text, inputs, stored, flags);
    if (!comparable && (flags & kStrictModifyCheck) != 0) flags |= kPlainGet;
}

void AddRequestContext(std::string& text, const RequestInputs& inputs, std::uint32_t flags) {
    if ((flags & kNoCache) != 0) AddLine(text, "Pragma: no-cache", "");
    if (inputs.referrer) {
        AddLine(text, "Referer: ", inputs.referrer->substr(0, inputs.referrer->find('?')));
    }
    if ((flags & kPost) != 0) {
        std::size_t query = inputs.url.find('?');
        std::size_t length = query == std::string_view::npos ? 0 : inputs.url.size() - query - 1;
        AddLine(text, "Content-length: ", std::to_string(length));
    }
    ForEachHeaderLine(inputs.extra_header,
                      [&text](std::string_view line) { AddLine(text, line, ""); });
}

}  // namespace

std::string BuildRequestHeaders(const RequestInputs& inputs, const StoredState& stored,
                                std::uint32_t& flags) {
    std::string text(kUserAgentLine);
    text.append(kAcceptLine);
    AddStoredState(text, inputs, stored, flags);
    AddRequestContext(text, inputs, flags);
    return text;
}

int ChooseMethod(std::uint32_t flags) {
    if ((flags & kPost) != 0) return net::kMethodPost;
    if ((flags & kStrictModifyCheck) != 0 && (flags & kPlainGet) == 0) return net::kMethodHead;
    return net::kMethodGet;
}

void ForEachHeaderLine(std::string_view text, const std::function<void(std::string_view)>& line) {
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && ControlOrBlank(text[i])) ++i;
        std::size_t start = i;
        while (i < text.size() && static_cast<unsigned char>(text[i]) >= 0x20) ++i;
        if (i > start) line(text.substr(start, i - start));
    }
}

}  // namespace kelvra::crawl
