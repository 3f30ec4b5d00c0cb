#include "crawl/auth.h"

#include <ntlm.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <vector>

#include "crawl/crawldisplay.h"
#include "net/url.h"
#include "platform/rawfile.h"
#include "util/codec.h"
#include "util/fileutil.h"
#include "util/strutil.h"

namespace kelvra::crawl {

namespace {

constexpr std::string_view kNtlmWord = "NTLM";
constexpr std::string_view kNtlmPrefix = "NTLM ";
constexpr std::string_view kBasicPrefix = "Basic ";

struct Entry {
    std::string key;
    std::string value;
};

// Entries of a file text: pairs of lines; a CR before the LF (a file written on Windows) is
// not part of the line.
std::vector<Entry> ParseEntries(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t lf = std::min(text.find('\n'), text.size());
        std::string line(text.substr(0, lf));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        text.remove_prefix(std::min(lf + 1, text.size()));
    }
    std::vector<Entry> entries;
    for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
        entries.push_back({std::move(lines[i]), std::move(lines[i + 1])});
    }
    return entries;
}

std::vector<Entry> ReadEntries(const std::string& path) {
    std::optional<std::string> text = util::ReadWholeFile(path);
    return text ? ParseEntries(*text) : std::vector<Entry>();
}

std::size_t KeyLength(std::string_view challenge) {
    return IsNtlm(challenge) ? kNtlmWord.size() : challenge.size();
}

// The entry's key equals the challenge over the key length and ends there.
bool KeyMatches(std::string_view key, std::string_view challenge) {
    std::size_t length = KeyLength(challenge);
    return key.size() == length && key == challenge.substr(0, length);
}

// Scheme names are case-insensitive (RFC 9110 §11.1).
bool ValueHasScheme(std::string_view value, std::string_view challenge) {
    std::string_view word =
        IsNtlm(challenge) ? kNtlmWord : challenge.substr(0, challenge.find(' '));
    return util::StartsWithNoCase(value, word);
}

unsigned char RotateLeft(unsigned char c) {
    return static_cast<unsigned char>((c << 1) | (c >> 7));
}

unsigned char RotateRight(unsigned char c) {
    return static_cast<unsigned char>((c >> 1) | (c << 7));
}

std::string Base64Of(const void* data, std::size_t length) {
    return util::Base64Encode(std::string_view(static_cast<const char*>(data), length));
}

bool HasParentSegment(std::string_view path) {
    while (!path.empty()) {
        std::size_t slash = std::min(path.find('/'), path.size());
        if (path.substr(0, slash) == "..") return true;
        path.remove_prefix(std::min(slash + 1, path.size()));
    }
    return false;
}

struct NtlmLogin {
    std::string user;  // uid@domain
    std::string password;
};

std::optional<NtlmLogin> DecodeNtlmSecret(std::string_view value) {
    std::size_t blank = value.find(' ');
    if (blank == std::string_view::npos) return std::nullopt;
    unsigned char bytes[kMaxNtlmSecret];
    long length = util::Base64Decode(util::Trim(value.substr(blank + 1)), bytes, sizeof(bytes));
    if (length < 0) return std::nullopt;
    std::string secret;
    for (long i = 0; i < length; ++i) secret += static_cast<char>(RotateRight(bytes[i]));
    std::size_t lf = secret.find('\n');
    if (lf == std::string::npos) return std::nullopt;
    NtlmLogin login{secret.substr(0, lf), secret.substr(lf + 1)};
    // With a domain of its own libntlm never reads one out of the server's message.
    if (login.user.find('@') == std::string::npos) login.user += kDefaultNtlmDomain;
    if (login.user.find('\0') != std::string::npos ||
        login.password.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return login;
}

}  // namespace

bool IsNtlm(std::string_view text) {
    return text.starts_with(kNtlmWord);
}

std::optional<std::string> CredentialScope(std::string_view url) {
    if (url == kProxyScopeUrl) return std::string();
    std::string name = net::FileSafeName(url.substr(net::HostStart(url)), kMaxScopeName);
    name.resize(std::min(net::DirectoryEnd(name), name.size()));
    if (name.empty() || HasParentSegment(name)) return std::nullopt;
    return name;
}

std::string StoredValue(std::string_view prompt, std::string_view user, std::string_view password) {
    if (!IsNtlm(prompt)) {
        return std::string(kBasicPrefix) +
               util::Base64Encode(std::string(user) + ":" + std::string(password));
    }
    std::string secret = std::string(user) + "\n" + std::string(password);
    for (char& c : secret) c = static_cast<char>(RotateLeft(static_cast<unsigned char>(c)));
    return std::string(kNtlmPrefix) + util::Base64Encode(secret);
}

std::optional<std::string> BuildNtlmValue(std::string_view value, std::string_view challenge) {
    std::optional<NtlmLogin> login = DecodeNtlmSecret(value);
    if (!login) return std::nullopt;
    std::string_view message =
        util::Trim(challenge.substr(std::min(kNtlmWord.size(), challenge.size())));
    if (message.empty()) {
        tSmbNtlmAuthRequest request;
        std::memset(&request, 0, sizeof(request));
        buildSmbNtlmAuthRequest(&request, login->user.c_str(), nullptr);
        return std::string(kNtlmPrefix) + Base64Of(&request, SmbLength(&request));
    }
    tSmbNtlmAuthChallenge server;
    std::memset(&server, 0, sizeof(server));
    // The decoded message may fill the fixed part and the buffer, never the index behind it.
    constexpr std::size_t kCapacity = offsetof(tSmbNtlmAuthChallenge, buffer) + NTLM_MSG_BUFSIZE;
    if (util::Base64Decode(message, reinterpret_cast<unsigned char*>(&server), kCapacity) < 0) {
        return std::nullopt;
    }
    tSmbNtlmAuthResponse response;
    std::memset(&response, 0, sizeof(response));
    buildSmbNtlmAuthResponse(&server, &response, login->user.c_str(), login->password.c_str());
    return std::string(kNtlmPrefix) + Base64Of(&response, SmbLength(&response));
}

std::string NtlmVersion() {
    const char* version = ntlm_check_version(nullptr);
    return version != nullptr ? version : "";
}

bool AskCredentials(CrawlDisplay& display, std::string_view prompt, std::string& value) {
    std::string user;
    std::string password;
    if (!display.AskCredentials(prompt, user, password)) return false;
    if (user.empty() || user.size() > kMaxCredentialLength ||
        password.size() > kMaxCredentialLength) {
        return false;
    }
    value = StoredValue(prompt, user, password);
    return true;
}

// ---- AuthCodeStore --------------------------------------------------------------------------

AuthCodeStore::AuthCodeStore(std::string data_directory)
    : data_directory_(std::move(data_directory)) {}

std::string AuthCodeStore::FilePath(std::string_view scope) const {
    std::string path = data_directory_;
    if (!scope.empty()) path.append(scope).push_back('/');
    return path.append(kAuthCodeFile);
}

std::optional<AuthCodeStore::Found> AuthCodeStore::FindUpward(std::string scope,
                                                              const EntryTest& test) const {
    for (;;) {
        for (Entry& entry : ReadEntries(FilePath(scope))) {
            if (test(entry.key, entry.value)) return Found{scope, std::move(entry.value)};
        }
        std::size_t slash = scope.rfind('/');
        if (slash == std::string::npos) return std::nullopt;
        scope.resize(slash);
    }
}

std::optional<std::string> AuthCodeStore::ScopeHolding(std::string_view url,
                                                       std::string_view value) const {
    std::optional<std::string> scope = CredentialScope(url);
    if (!scope) return std::nullopt;
    std::optional<Found> found =
        FindUpward(std::move(*scope), [value](std::string_view, std::string_view stored) {
            std::string sent(stored);
            util::TrimRight(sent);
            return sent == value;
        });
    if (!found) return std::nullopt;
    return std::move(found->scope);
}

bool AuthCodeStore::MakeAuthorization(std::string* out, std::string_view url,
                                      std::string_view challenge, bool attempt) const {
    if (IsNtlm(challenge) && !attempt) return false;
    std::optional<std::string> scope = CredentialScope(url);
    if (!scope) return false;
    std::optional<Found> found =
        FindUpward(std::move(*scope), [challenge](std::string_view key, std::string_view value) {
            return KeyMatches(key, challenge) && ValueHasScheme(value, challenge);
        });
    if (!found) return false;
    if (out == nullptr) return true;
    if (!IsNtlm(challenge)) {
        util::TrimRight(found->value);
        *out = std::move(found->value);
        return true;
    }
    std::optional<std::string> message = BuildNtlmValue(found->value, challenge);
    if (!message) return false;
    *out = std::move(*message);
    return true;
}

bool AuthCodeStore::PrepareAuthorization(std::string_view url, std::string_view challenge,
                                         bool give_up, const Asker& ask) const {
    if (!give_up && MakeAuthorization(nullptr, url, challenge, true)) return true;
    std::optional<std::string> scope = CredentialScope(url);
    if (!scope) return false;
    std::string prompt = std::string(challenge) + " (" +
                         std::string(url.substr(url == kProxyScopeUrl ? 0 : net::SkipScheme(url))) +
                         ")";
    std::string value;
    if (!ask || !ask(prompt, value)) return false;
    return WriteEntry(*scope, challenge, value);
}

bool AuthCodeStore::WriteEntry(std::string_view scope, std::string_view challenge,
                               std::string_view value) const {
    const std::string path = FilePath(scope);
    std::string_view key = challenge.substr(0, KeyLength(challenge));
    // One line each: a line feed inside would shift every later entry.
    if (key.find('\n') != std::string_view::npos || value.find('\n') != std::string_view::npos) {
        return false;
    }
    std::string text(key);
    text.append("\n").append(value).append("\n");
    for (const Entry& entry : ReadEntries(path)) {
        if (KeyMatches(entry.key, challenge)) continue;
        text.append(entry.key).append("\n").append(entry.value).append("\n");
    }
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    return platform::ReplaceFileContents(path, text, 0600);  // it holds passwords
}

// ---- AcceptedCredentials --------------------------------------------------------------------

namespace {

std::string SchemeOf(std::string_view url) {
    return util::LowerCopy(url.substr(0, url.find(':')));
}

// A directory at or above another: equal, or a prefix ending at a '/'.
bool Covers(std::string_view directory, std::string_view below) {
    return below.starts_with(directory) &&
           (below.size() == directory.size() || below[directory.size()] == '/');
}

}  // namespace

void AcceptedCredentials::Note(std::string_view url, std::string scope, std::string value) {
    std::string scheme = SchemeOf(url);
    std::lock_guard lock(mutex_);
    for (Entry& entry : entries_) {
        if (entry.scheme == scheme && entry.scope == scope) {
            entry.value = std::move(value);
            return;
        }
    }
    entries_.push_back({std::move(scheme), std::move(scope), std::move(value)});
}

std::optional<std::string> AcceptedCredentials::For(std::string_view url) const {
    std::optional<std::string> scope = CredentialScope(url);
    if (!scope) return std::nullopt;
    const std::string scheme = SchemeOf(url);
    std::lock_guard lock(mutex_);
    const Entry* best = nullptr;
    for (const Entry& entry : entries_) {
        if (entry.scheme != scheme || !Covers(entry.scope, *scope)) continue;
        if (best == nullptr || entry.scope.size() > best->scope.size()) best = &entry;
    }
    if (best == nullptr) return std::nullopt;
    return best->value;
}

void AcceptedCredentials::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

}  // namespace kelvra::crawl
