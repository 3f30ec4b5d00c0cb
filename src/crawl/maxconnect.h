#pragma once
// Per-server connection limits read from kelvra.mcf in the data directory.
//
// Line syntax: "<url pattern> [keep-alive/connections/version]", '#' starts a comment. The first
// line whose pattern matches a URL gives its three values.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::store {
class ExtFilterClass;
}

namespace kelvra::crawl {

// Connection setting of one server.
struct ServerLimit {
    static constexpr std::int16_t kDefaultKeepAlive = 1000;
    static constexpr std::int16_t kDefaultConnections = 1;
    static constexpr std::uint16_t kDefaultVersion = 11;
    static constexpr std::int16_t kMaxConnections = 4;

    // The number as kelvra.mcf writes it: 0 no keep-alive; 1 keep and send the next request
    // after the body; 2 send it before the body (pipelining); 3 or more keep and pause that many
    // ms before each request; negative: no keep-alive, pause -value ms. Read it through the
    // methods below.
    std::int16_t keep_alive = kDefaultKeepAlive;
    std::int16_t connections = kDefaultConnections;  // 0: the server's URLs are not fetched
    std::uint16_t version = kDefaultVersion;         // 11 HTTP/1.1, 10 HTTP/1.0

    bool KeepsConnection() const { return keep_alive > 0; }
    // The next request goes out as soon as the header is read, before the body.
    bool Pipelines() const { return keep_alive == 2; }
    // The next request goes out on the kept connection right after the body.
    bool SendsAfterBody() const { return keep_alive == 1; }
    // Pause before each request, in ms (0: none).
    int PauseMs() const;
    // The setting for a worker that comes from another server: a pause is meant for requests
    // in a row to one server, so it is dropped (a negative value gives no keep-alive, 3 or
    // more the plain keep-alive).
    ServerLimit ForNewServer() const;

    bool operator==(const ServerLimit&) const = default;
};

// The value part "a/b/c" of a line; every part is optional.
ServerLimit ParseServerLimit(std::string_view value);

class MaxConnectClass final {
  public:
    static constexpr std::size_t kMaxLine = 2047;

    MaxConnectClass();
    ~MaxConnectClass();
    MaxConnectClass(const MaxConnectClass&) = delete;
    MaxConnectClass& operator=(const MaxConnectClass&) = delete;

    // Replaces the table with the file's lines; a missing or unreadable file gives an empty
    // table (false).
    bool Load(const std::string& path);
    // Same from text already in memory.
    void Parse(std::string_view text);
    // The setting for a URL (scheme optional; patterns see it without scheme).
    ServerLimit Lookup(std::string_view url) const;
    std::size_t size() const { return entries_.size(); }
    // The lines whose values were replaced by defaults, each with what was used instead.
    const std::vector<std::string>& Unclear() const { return unclear_; }

  private:
    struct Entry {
        std::unique_ptr<store::ExtFilterClass> pattern;
        ServerLimit limit;
    };
    void ParseLine(std::string_view line);

    std::vector<Entry> entries_;
    std::vector<std::string> unclear_;
};

}  // namespace kelvra::crawl
