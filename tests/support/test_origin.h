#pragma once
// A scriptable HTTP origin on 127.0.0.1 for tests.
//
//   kelvra::test::TestOrigin origin([](const kelvra::test::Request& request) {
//       return kelvra::test::Reply().Send(kelvra::test::HttpResponse("HTTP/1.1 200 OK", "hi"));
//   });
//   ... connect to origin.Port() / origin.Url("/a") ...
//   EXPECT_EQ(origin.Requests().at(0).bytes, "GET /a HTTP/1.1\r\n...");
//
// The origin binds 127.0.0.1:0 (Port() tells the port), accepts on its own thread and serves
// every connection on a thread of its own; it stops when it leaves scope (or on Stop()),
// waking every wait at once. Every byte received is recorded per connection (Received), and
// every request as read (Requests).
//
// Three ways to script it:
//  - a Handler: called for each request with its raw bytes, returns the Reply to play;
//  - canned replies: a list of Replies played for the 1st, 2nd, ... request in arrival order
//    (whatever the connection); after the last one, a further request has its connection
//    dropped without an answer;
//  - a ConnectionHandler: gets the Connection itself, for protocols that talk first or do
//    not speak HTTP (FTP-like exchanges, a greeting, a silent peer).
//
// A Reply is a list of steps: Send (exact bytes), SendFragmented (in pieces, optionally with a
// pause between them), Delay, then either the connection stays for the next request (the
// default), is dropped (Close), is dropped after N bytes of the reply (CutAfter), is held
// silently until the client leaves or the origin stops (Hold), or goes on sending the same
// bytes until then (Repeat: a body without end).
//
// Requests are read up to the blank line that ends the header, plus a Content-Length body.
//
// UseTls makes it an https origin (certificates from support/test_pki.h); what it records is
// then the decrypted bytes, and ResumedHandshakes counts the connections that resumed a session.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/test_pki.h"

struct ssl_st;
struct ssl_ctx_st;

namespace kelvra::test {

// One request as the origin read it.
struct Request {
    int connection = 0;  // 0-based, in accept order
    int index = 0;       // 0-based position on its connection
    std::string bytes;   // header block and body exactly as received
    bool tls = false;    // it came over TLS

    std::string_view Head() const;         // up to and including the blank line
    std::string_view Body() const;         // after the blank line
    std::string_view RequestLine() const;  // first line without its line end
};

class Reply {
  public:
    enum class End { kKeep, kClose, kHold, kRepeat };
    struct Step {
        std::string bytes;      // sent when non-empty
        std::size_t piece = 0;  // > 0: sent in pieces of this size
        int pause_ms = 0;       // before the step (and between pieces of a fragmented send)
    };

    Reply& Send(std::string bytes);
    Reply& SendFragmented(std::string bytes, std::size_t piece, int pause_ms = 0);
    Reply& Delay(int ms);
    // Drop the connection after the reply.
    Reply& Close();
    // Send at most n bytes of the reply in total, then drop the connection.
    Reply& CutAfter(std::size_t n);
    // After the reply send nothing more and read nothing, until the client closes or the
    // origin stops (a silent peer).
    Reply& Hold();
    // After the reply send piece again and again, until the client closes or the origin stops.
    Reply& Repeat(std::string piece);

    const std::vector<Step>& Steps() const { return steps_; }
    End Ending() const { return end_; }
    // SIZE_MAX when not cut.
    std::size_t Cut() const { return cut_; }
    const std::string& Repeated() const { return repeated_; }

  private:
    std::vector<Step> steps_;
    End end_ = End::kKeep;
    std::size_t cut_ = static_cast<std::size_t>(-1);
    std::string repeated_;
};

// The server side of one accepted connection.
class Connection {
  public:
    Connection(int fd, int index, class TestOrigin& origin);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int Index() const { return index_; }
    // Reads one request (header + Content-Length body); false when the client closed, the
    // origin stops, or nothing came within timeout_ms.
    bool ReadRequest(std::string& request, int timeout_ms = 10000);
    // Reads until delimiter (included in out); false as ReadRequest.
    bool ReadUntil(std::string_view delimiter, std::string& out, int timeout_ms = 10000);
    // Plays a reply; false when the connection is to end afterwards.
    bool Play(const Reply& reply);
    bool Send(std::string_view bytes);
    // Waits until the client closes or the origin stops.
    void WaitForClientClose();
    void Close();
    bool Closed() const { return fd_ < 0; }
    bool Secure() const { return ssl_ != nullptr; }
    // Passes bytes both ways between this (plain) connection and a new one to 127.0.0.1:port
    // until either side closes or the origin stops: a proxy's tunnel after CONNECT.
    void Tunnel(int port);
    // The server side of a TLS handshake; false when it failed (the client refused us).
    bool AcceptTls(ssl_ctx_st* context);
    // Whether the client's first byte opens a TLS handshake (waits for it).
    bool StartsWithHandshake();
    bool Resumed() const;

  private:
    long ReceiveSome(char* data, std::size_t capacity);
    long SendSome(std::string_view bytes);
    // 1 readable, 0 time-out, -1 origin stopping.
    int WaitReadable(int timeout_ms);
    // True when bytes can be sent and the origin is not stopping.
    bool WaitWritable();
    bool FillBuffer(int timeout_ms);
    bool Pause(int ms);
    bool SendStep(const Reply::Step& step, std::size_t& budget);

    int fd_;
    int index_;
    TestOrigin& origin_;
    std::string pending_;  // received, not yet handed out
    ssl_st* ssl_ = nullptr;
};

class TestOrigin {
  public:
    using Handler = std::function<Reply(const Request&)>;
    using ConnectionHandler = std::function<void(Connection&)>;

    explicit TestOrigin(Handler handler);
    explicit TestOrigin(std::vector<Reply> canned);
    explicit TestOrigin(ConnectionHandler handler);
    ~TestOrigin();
    TestOrigin(const TestOrigin&) = delete;
    TestOrigin& operator=(const TestOrigin&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" + path ("https://" after UseTls).
    std::string Url(std::string_view path = "/") const;
    // Serves https with certificate from now on (before any client connects); with
    // plain_too, a connection that does not begin with a TLS handshake is served as http.
    TestOrigin& UseTls(TestCertificate certificate, bool plain_too = false);
    // "http://127.0.0.1:<port>" + path, whatever the origin speaks.
    std::string HttpUrl(std::string_view path) const;
    int ResumedHandshakes() const;
    // "127.0.0.1:<port>".
    std::string HostPort() const;

    std::vector<Request> Requests() const;
    // Every byte received on a connection (empty for an unknown index).
    std::string Received(int connection) const;
    int Connections() const;
    // Wait (condition variable, time-out) until at least n requests / connections were seen.
    bool WaitForRequests(std::size_t n, int timeout_ms = 5000) const;
    bool WaitForConnections(int n, int timeout_ms = 5000) const;
    // Stops accepting, wakes every connection and joins all threads. Idempotent.
    void Stop();

  private:
    friend class Connection;
    void Start();
    void AcceptLoop();
    void Serve(int fd, int index);
    void ServeRequests(Connection& connection);
    Reply NextReply(Request request, bool& have);
    void Record(int connection, std::string_view bytes);
    void RecordRequest(Request request);
    int StopFd() const { return stop_fd_; }

    Handler handler_;
    ConnectionHandler connection_handler_;
    std::vector<Reply> canned_;
    std::size_t next_canned_ = 0;
    bool use_canned_ = false;

    int listen_fd_ = -1;
    int stop_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::vector<std::thread> workers_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    ssl_ctx_st* tls_ = nullptr;
    bool plain_too_ = false;
    int resumed_ = 0;
    std::vector<std::string> received_;
    std::vector<Request> requests_;
};

// "status line\r\n" + headers (each ending in CR LF, may be empty) + "Content-Length: n\r\n"
// + "\r\n" + body.
std::string HttpResponse(std::string_view status_line, std::string_view body,
                         std::string_view headers = {});
// A chunked body: each piece as "<hex size><extension>\r\n<piece>\r\n", then "0\r\n",
// the trailer lines (each ending in CR LF) and "\r\n".
std::string ChunkedBody(const std::vector<std::string>& pieces, std::string_view extension = {},
                        std::string_view trailer = {});

}  // namespace kelvra::test
