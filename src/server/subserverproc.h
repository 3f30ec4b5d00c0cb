#pragma once
// One connection worker of the local server: reads a browser's requests on one connection,
// applies the prohibit list, answers server commands, answers from the spool, or relays to
// the origin (storing what it relays in the storing proxy modes).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/net/message_reader.h"
#include "engine/net/proxy.h"
#include "engine/net/tcpip.h"
#include "server/prohibitlist.h"
#include "server/servermonitor.h"
#include "server/serversettings.h"

namespace kelvra::store {
class headerlistex;
class treelistnode;
}  // namespace kelvra::store

namespace kelvra::server {

// What every worker shares, read-only while the server runs (the listening port is set by
// each start).
struct ServerContext {
    store::headerlistex& store;
    const ServerSettings& settings;
    ServerMonitor& monitor;
    const ProhibitClass& prohibit;
    std::atomic<int> listen_port{0};
    std::atomic<std::uint32_t> mode{0};  // the pool's mode, read by each new connection
};

// Keep-alive results of the answering steps.
inline constexpr int kAnswerClose = -1;
inline constexpr int kAnswerKept = 1;       // answered; keep-alive as the request decided
inline constexpr int kAnswerSpoolKept = 2;  // answered from the spool, keep-alive

// Reads the response of the origin and hands each raw block to the relay as it arrives.
class RelayReader final : public net::InvestHeaderClass {
  public:
    void ConsumeBody(const char* data, std::size_t count) override;
    // Raw body bytes received since the last call (what is to be passed on).
    std::string TakePending();

  private:
    std::string pending_;
};

class SubServerProc final : public net::TCPIPClass {
  public:
    SubServerProc(int row, ServerContext& context);
    ~SubServerProc() override;

    // Takes over an accepted socket with the client's access level.
    void AttachSocket(int fd, int level);
    // Serves every request of the attached connection and closes it. Returns the connection's
    // mode: mode, or the mode a "/mode=" command chose.
    std::uint32_t ServeConnection(std::uint32_t mode);
    // From another thread: ends the current connection at once (waits and blocking I/O return).
    void Abort();
    int Row() const { return row_; }

  private:
    // The request being served, taken out of the reader.
    struct Request {
        int kind = net::kNoMessage;
        std::string header;  // header block as received, with its blank line
        std::string body;    // body bytes received so far
        std::int64_t content_length = -1;
        std::int64_t body_left = 0;  // body bytes still to come from the browser
        std::string target;
        bool keep_alive = false;
    };
    // Where a request's object lives in the spool.
    struct Lookup {
        store::treelistnode* node = nullptr;
        std::string h;             // host-start form of the URL (with form data for a POST)
        std::string url;           // the target (with form data for a POST)
        bool body_unread = false;  // the browser's body did not fit: no object
        bool with_form = false;
    };

    // ---- service loop (subserverproc.cpp) ------------------------------------------------------
    void Status(int column, std::string_view text);
    bool WaitForRequest();
    bool ReadRequestHeader();
    void TakeRequest();
    // false when the prohibit list answered (the connection closes).
    bool ApplyProhibit(std::uint32_t& request_mode);
    int AnswerRequest(std::uint32_t request_mode);
    void CloseConnection();
    bool ClientGone();
    bool SendToClient(std::string_view bytes);
    bool PauseFor(long milliseconds);

    // ---- spool answers and commands (spoolanswer.cpp) ------------------------------------------
    std::string OwnAddressText() const;
    // True when a command (or the reload question) was answered.
    bool TryCommands(std::uint32_t mode);
    bool AnswerCommand(std::string_view path);
    int AnswerFromSpool(bool is_get);
    Lookup FindStoredObject();
    bool ReceiveBodyIntoBuffer();
    void DiscardBody();
    bool ReceiveFromClient(char* buffer, std::size_t capacity, long& count);
    std::string KeyOf(std::string_view url) const;
    int AnswerFileWithoutRecord(const Lookup& lookup, bool is_get);
    bool ConditionalAnswer(const Lookup& lookup, bool is_get, int& result);
    int SendStoredObject(store::treelistnode* node, bool is_get);
    // 0 when the file cannot be read (nothing was sent).
    int SendFileWithoutRecord(const std::string& full, bool is_get);
    // Sends head and size bytes of file (only head for a HEAD request).
    // The address the client reached this server at (network byte order), 0 if unknown.
    std::uint32_t LocalAddress() const;
    int SendHeaderAndBody(int file, std::int64_t size, std::string head, bool is_get);
    const std::string& ResolvedDataDirectory();
    bool SendNotInSpool(const Lookup& lookup);
    int RefusalAnswer(const ProhibitEntry& entry);
    bool StoredRecordExists(const std::string& key);

    // ---- relay (relay.cpp)
    // ------------------------------------------------------------------------
    int Relay(std::uint32_t mode);
    int RelayUsingStored(std::uint32_t mode, store::treelistnode* node);
    int RelayWithStoredDate(std::uint32_t mode, store::treelistnode* node);
    int RelayAndStore(std::uint32_t mode, bool* not_modified);
    int PlainRelay(bool* not_modified);
    int ConnectAndSendRequest();
    int ConnectRelay();
    std::string BuildRelayRequest() const;
    int RelayBodyAndReadHeader();
    int ReadResponseHeader();
    bool WaitForOrigin();
    bool PassResponse(bool suppress);
    void SendRelayedResponseHeader(bool& ok);
    void CloseRelay();
    bool IsLoopToSelf() const;
    int Tunnel(std::uint32_t mode);
    bool TunnelPortAllowed(int port) const;
    std::chrono::milliseconds TunnelIdleLimit() const;
    // Passes bytes both ways until a side closes or the tunnel stays idle too long.
    void PassTunnel();

    const int row_;
    ServerContext& context_;
    int level_ = 0;
    mutable std::optional<std::uint32_t> local_address_;  // network byte order, found on first use
    std::uint32_t mode_ = 0;  // the connection's mode
    net::InvestHeaderClass request_reader_;
    Request request_;
    net::TCPIPProxyClass relay_;
    RelayReader response_reader_;

    std::string data_directory_;           // as the store names it
    std::string resolved_data_directory_;  // with every link resolved

    std::mutex abort_mutex_;
    std::condition_variable abort_cv_;
    bool aborting_ = false;
};

}  // namespace kelvra::server
