#pragma once
// One connection worker of the local server: reads a browser's requests on one connection,
// applies the prohibit list, answers server commands, answers from the spool, or relays to
// the origin (storing what it relays in the storing proxy modes).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "net/local_authority.h"
#include "net/message_reader.h"
#include "net/tcpip.h"
#include "platform/ownedfile.h"
#include "server/prohibitlist.h"
#include "server/relay.h"
#include "server/servermonitor.h"
#include "server/serversettings.h"
#include "server/storedfilecache.h"

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
    net::LazyAuthority authority;        // signs the certificates of intercepted hosts
    StoredFileCache stored_files;        // the stored files answered most
};

// Keep-alive results of the answering steps.
inline constexpr int kAnswerClose = -1;
inline constexpr int kAnswerKept = 1;       // answered; keep-alive as the request decided
inline constexpr int kAnswerSpoolKept = 2;  // answered from the spool, keep-alive

// What became of a connection when its worker let go of it.
enum class ConnectionFate {
    kWaiting,  // it waits for the client's next bytes (on Socket(), until WaitDeadline())
    kClosed,
};

// The pool's side of the worker serving a connection.
class WorkerSeat {
  public:
    // Before a step that may hold the worker for long (the origin, a tunnel, a TLS handshake, a
    // client slow to send or to read, a pause): another worker watches for ready connections
    // meanwhile. Once given up, later calls do nothing.
    virtual void LetOthersWatch() = 0;

  protected:
    ~WorkerSeat() = default;
};

// One browser connection. A worker serves it while whole requests are there; while it waits for
// the client it holds no worker, and any worker may take it up again.
class SubServerProc final : public net::TCPIPClass {
  public:
    using Clock = std::chrono::steady_clock;

    explicit SubServerProc(ServerContext& context);

    // Takes over an accepted socket with the client's access level; the connection runs in
    // mode (a "/mode=" command switches the pool itself).
    void AttachSocket(int fd, int level, std::uint32_t mode);
    // Serves every request whose bytes the client has sent, without waiting for more: kWaiting
    // when the connection is to wait for its client, kClosed when it was closed. seat is told
    // before anything that may block.
    ConnectionFate ServeReady(WorkerSeat& seat);
    // The last look at the socket found every byte the client had sent: bytes there now came
    // after it.
    bool Drained() const { return drained_; }
    // When a waiting connection gives up on its client: "KeepAlive" seconds (at least one)
    // after it began to wait, and again after the first bytes of a request came.
    Clock::time_point WaitDeadline() const { return deadline_; }
    // Closes a waiting connection that is given up, without a word to the monitor: its row
    // belongs to whatever the worker there does now.
    void Drop();
    // From another thread: ends the current connection at once (waits and blocking I/O return).
    void Abort();
    // The monitor row of the worker serving the connection.
    void SetRow(int row) { row_ = row; }
    int Row() const { return row_; }

  private:
    // The relay answers through the connection's own steps (status, client I/O, spool lookups).
    friend class ProxyRelay;

    // What the answer of a stored object takes from its record.
    struct StoredRecord {
        std::string head;  // status line and record lines (StoredObjectHead)
        std::time_t modified = 0;
        std::string path;  // the local file
    };
    // Where a request's object lives in the spool.
    struct Lookup {
        store::treelistnode* node = nullptr;  // a record whose file exists
        StoredRecord record;                  // node's
        // node's file, opened once for the answer: none when it lies outside the data
        // directory (or cannot be read), and the object is refused.
        platform::UniqueFd file;
        StoredFileCache::Contents contents;  // node's whole file, when kept: no file then
        std::int64_t size = 0;
        std::string h;             // host-start form of the URL (with form data for a POST)
        std::string url;           // the target (with form data for a POST)
        bool body_unread = false;  // the browser's body did not fit: no object
        bool with_form = false;
    };

    // ---- service loop (subserverproc.cpp) ------------------------------------------------------
    ConnectionFate ServeRequests();
    void Status(int column, std::string_view text);
    // Tells the seat, while a worker serves the connection, that the next step may block.
    void MayBlock();
    // How far the next request has come in.
    enum class RequestProgress { kComplete, kIncomplete, kFailed };
    // Starts waiting for the next request: the client has the "KeepAlive" time to send it.
    void BeginWait();
    std::chrono::seconds WaitTime() const;
    RequestProgress ReadRequest();
    // Hands the bytes the client has sent back to the channel without waiting: 1 some, 0 none
    // yet, -1 the client closed, -2 failed.
    int ReceiveAvailable();
    // A receive of up to capacity bytes without waiting (Transport::Receive's results); notes
    // whether it left the socket empty.
    long ReceiveWithoutWaiting(char* buffer, std::size_t capacity);
    // The request's body bytes that must be there before it is served: the part that fits
    // the request area beside the header.
    std::size_t BodyInArea() const;
    RequestProgress ReadBodyInArea();
    void TakeRequest();
    // false when the prohibit list answered (the connection closes).
    [[nodiscard]] bool ApplyProhibit(std::uint32_t& request_mode);
    [[nodiscard]] int AnswerRequest(std::uint32_t request_mode);
    // CONNECT host:port answered here rather than tunnelled: TLS is ended with a certificate
    // for the host from the local authority, and the requests inside are served as plain ones
    // for https://host[:port]/...
    bool Intercepts(std::uint32_t request_mode, const std::string& host, int port);
    [[nodiscard]] int Intercept(std::uint32_t request_mode);
    [[nodiscard]] bool OriginReached(std::uint32_t request_mode, const std::string& host, int port);
    void CloseConnection();
    bool ClientGone();
    // Sends head and then body (two parts spare the copy of a block behind its header).
    [[nodiscard]] bool SendToClient(std::string_view head, std::string_view body = {});
    // What a plain connection's socket takes of head and body at once: the count, -1 when it
    // failed.
    long SendWithoutWaiting(std::string_view head, std::string_view body);
    // Sends an answer the connection closes after: a failed send needs no handling of its own.
    void SendClosingAnswer(std::string_view bytes);
    bool PauseFor(long milliseconds);

    // ---- spool answers and commands (spoolanswer.cpp) ------------------------------------------
    std::string OwnAddressText() const;
    // True when a command (or the reload question) was answered.
    [[nodiscard]] bool TryCommands(std::uint32_t mode);
    [[nodiscard]] bool AnswerCommand(std::string_view path);
    [[nodiscard]] int AnswerFromSpool(bool is_get);
    Lookup FindStoredObject();
    [[nodiscard]] bool ReceiveBodyIntoBuffer();
    void DiscardBody();
    // Bytes the browser sent within GetTimeout; 0 when none came (closed, failed, timed out).
    [[nodiscard]] long ReceiveFromClient(char* buffer, std::size_t capacity);
    std::string KeyOf(std::string_view url) const;
    [[nodiscard]] int AnswerFileWithoutRecord(const Lookup& lookup, bool is_get);
    // The head of a stored object is handed over to its answer.
    [[nodiscard]] bool ConditionalAnswer(Lookup& lookup, bool is_get, int& result);
    StoredRecord ReadStoredRecord(store::treelistnode* node);
    // Opens record's file for lookup, or leaves the node out when there is no file.
    void OpenStoredFile(store::treelistnode* node, Lookup& lookup);
    [[nodiscard]] int SendStoredObject(store::treelistnode* node, bool is_get);
    // 0 when the file cannot be read (nothing was sent).
    [[nodiscard]] int SendFileWithoutRecord(const std::string& full, bool is_get);
    // Sends head and size bytes of file (only head for a HEAD request).
    // The address the client reached this server at (network byte order), 0 if unknown.
    std::uint32_t LocalAddress() const;
    [[nodiscard]] int SendHeaderAndBody(int file, std::int64_t size, std::string head, bool is_get);
    // The same for a file whose contents are in memory.
    [[nodiscard]] int SendHeaderAndContents(const std::string& contents, std::string head,
                                            bool is_get);
    const std::string& ResolvedDataDirectory();
    void SendNotInSpool(const Lookup& lookup);
    [[nodiscard]] int RefusalAnswer(const ProhibitEntry& entry);
    bool StoredRecordExists(const std::string& key);

    // Whether the store holds https objects of host:port (what Local Mode can answer inside
    // a CONNECT).
    bool HoldsHttpsObjects(const std::string& host, int port);

    int row_ = 0;
    WorkerSeat* seat_ = nullptr;  // while a worker serves the connection
    ServerContext& context_;
    int level_ = 0;
    mutable std::optional<std::uint32_t> local_address_;  // network byte order, found on first use
    std::uint32_t mode_ = 0;                              // the connection's mode
    Clock::time_point deadline_;
    bool drained_ = false;
    net::InvestHeaderClass request_reader_;
    ClientRequest request_;
    ProxyRelay proxy_relay_;
    // "https://host[:port]" while the connection is an intercepted CONNECT, else empty.
    std::string tunnel_origin_;

    std::string data_directory_;           // as the store names it
    std::string resolved_data_directory_;  // with every link resolved

    std::mutex abort_mutex_;
    std::condition_variable abort_cv_;
    bool aborting_ = false;
};

}  // namespace kelvra::server
