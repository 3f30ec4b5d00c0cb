#pragma once
// Credentials for servers (401) and proxies (407): small "$AuthCode$" files in the spool
// directories, each a list of two-line entries (challenge key, stored value), newest first;
// a URL's credentials are searched from its own directory up to its host directory. Basic
// values are sent as stored; NTLM values hold the user and password from which each message
// of the three-message handshake is built with libntlm.

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::crawl {

class CrawlDisplay;

inline constexpr std::string_view kAuthCodeFile = "$AuthCode$";
inline constexpr std::string_view kProxyScopeUrl = ".";  // proxy credentials: the data directory
inline constexpr std::size_t kMaxCredentialLength = 32;  // user ID and password, each
inline constexpr std::size_t kMaxScopeName = 256;
inline constexpr std::size_t kMaxNtlmSecret = 511;  // decoded NTLM value
inline constexpr std::string_view kDefaultNtlmDomain = "@WORKGROUP";

// A challenge (or prompt) whose first four bytes are "NTLM" is NTLM; anything else is Basic.
bool IsNtlm(std::string_view text);

// The spool directory of a URL's credentials, relative to the data directory, without a
// trailing '/' (empty for the proxy scope "."); none for a name that would leave the data
// directory.
std::optional<std::string> CredentialScope(std::string_view url);

// The value stored for user and password: "NTLM " + Base64 of the bit-rotated "user\npassword"
// for an NTLM prompt, else "Basic " + Base64 of "user:password".
std::string StoredValue(std::string_view prompt, std::string_view user, std::string_view password);

// The header value of the next NTLM message for a stored NTLM value: the negotiation message
// (type 1) when the challenge is the bare "NTLM", the response (type 3) to the server's
// challenge message otherwise. None when the value or the challenge cannot be decoded.
std::optional<std::string> BuildNtlmValue(std::string_view value, std::string_view challenge);

// libntlm's version, for the About box.
std::string NtlmVersion();

// Asks for user ID and password through the display and builds the stored value; false when
// the user cancels or an entry is too long.
bool AskCredentials(CrawlDisplay& display, std::string_view prompt, std::string& value);

// The "$AuthCode$" files of one data directory.
class AuthCodeStore final {
  public:
    using Asker = std::function<bool(std::string_view prompt, std::string& value)>;

    // data_directory ends in '/'.
    explicit AuthCodeStore(std::string data_directory);

    // Finds stored credentials for the challenge, from the URL's scope upward (for "." only
    // the data directory). With out, also the header value to send. NTLM only while an
    // authorization attempt is under way.
    bool MakeAuthorization(std::string* out, std::string_view url, std::string_view challenge,
                           bool attempt) const;
    // Makes sure credentials exist, asking when needed (always with give_up); the new entry
    // goes first in the scope's file, replacing one for the same challenge. False when the
    // user cancels or the file cannot be written.
    bool PrepareAuthorization(std::string_view url, std::string_view challenge, bool give_up,
                              const Asker& ask) const;

    // The path of the file in a scope directory.
    std::string FilePath(std::string_view scope) const;
    // The scope directory, from the URL's own upward, whose file holds the stored value.
    std::optional<std::string> ScopeHolding(std::string_view url, std::string_view value) const;

  private:
    struct Found {
        std::string scope;
        std::string value;
    };
    using EntryTest = std::function<bool(std::string_view key, std::string_view value)>;
    // The first entry that passes the test, from scope up to the host directory.
    std::optional<Found> FindUpward(std::string scope, const EntryTest& test) const;
    bool WriteEntry(std::string_view scope, std::string_view challenge,
                    std::string_view value) const;

    std::string data_directory_;
};

// Basic credentials a server accepted in this crawl, by the directory of the "$AuthCode$" file
// that holds them: they go with every later request below that directory before any challenge
// (RFC 7617 §2.2), but only over the scheme they were accepted on. Safe from any thread.
class AcceptedCredentials final {
  public:
    void Note(std::string_view url, std::string scope, std::string value);
    // The value noted for the deepest directory at or above the URL's own.
    std::optional<std::string> For(std::string_view url) const;
    void Clear();

  private:
    struct Entry {
        std::string scheme;
        std::string scope;
        std::string value;
    };

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace kelvra::crawl
