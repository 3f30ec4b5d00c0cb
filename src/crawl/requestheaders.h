#pragma once
// The extra request header lines of one fetch: what the crawl's condition and the stored state
// of the URL ask the server for (update check, resume, credentials, cookies, referrer).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kelvra::crawl {

inline constexpr std::string_view kUserAgentLine =
    "User-Agent: Tamble-Kelvra/5.3.0TR7 (Win32; GUI; ix86)\r\n";
inline constexpr std::string_view kAcceptLine = "Accept: */*\r\n";

// What the header-information store knows about the URL.
struct StoredState {
    bool has_record = false;
    std::optional<std::string> xrange;         // "XRange:" of a partial local file
    std::int64_t local_size = -1;              // size of the local file, -1 when there is none
    std::optional<std::string> last_modified;  // "LM:"
    bool has_server_challenge = false;         // "WA:"
    bool has_proxy_challenge = false;          // "PA:"
    std::string cookie_header;                 // complete lines, CR LF each; may be empty
};

struct RequestInputs {
    std::string_view url;
    std::optional<std::string_view> referrer;  // the linking page's URL
    std::string_view extra_header;             // the crawl's own header text
    bool attempt = false;                      // an authorization exchange is under way
    // Header value for the URL (or "." for the proxy); false without credentials.
    std::function<bool(std::string& value, std::string_view url, bool attempt)> authorization;
    // Credentials the server accepted for a directory above the URL; sent when the record
    // holds no challenge of the server's.
    std::optional<std::string_view> accepted_authorization;
};

// Fills the header text and may set the job's plain-GET bit in flags (nothing to compare by
// HEAD). Every line ends in CR LF.
std::string BuildRequestHeaders(const RequestInputs& inputs, const StoredState& stored,
                                std::uint32_t& flags);

// The request method for a job's flags: POST, HEAD (strict update check, first stage) or GET.
int ChooseMethod(std::uint32_t flags);

// Calls line(text) for each line of a free-form header text: leading bytes of 0x20 and below
// skipped, each line cut at its first control byte.
void ForEachHeaderLine(std::string_view text, const std::function<void(std::string_view)>& line);

}  // namespace kelvra::crawl
