#pragma once
// The TLS layer of a channel (https): OpenSSL 3 over the channel's own transport, so that
// interruption and the stall guard of the transport below keep working for encrypted bytes.
//
// The layer is transparent until Prepare names the server of the next connection; then the
// handshake runs when the connection is established (or, through a proxy tunnel, when the
// caller starts it after CONNECT). SNI, ALPN "http/1.1", TLS 1.2 at least, the certificate
// checked against the system store (SSL_CERT_FILE / SSL_CERT_DIR as OpenSSL reads them) and
// against the host name or address; sessions are resumed between connections to one server.

#include <openssl/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "net/transport.h"
#include "net/url.h"

namespace kelvra::net {

// Why a server's certificate was refused (kNone: it was not, or there was no handshake).
enum class CertificateProblem { kNone, kExpired, kWrongHost, kUnknownIssuer, kOther };
// "expired", "wrong host", "unknown issuer", "not trusted"; empty for kNone.
std::string_view CertificateProblemText(CertificateProblem problem);

class TlsTransport final : public Transport {
  public:
    // inner: the transport the encrypted bytes pass through (a plain one when null).
    explicit TlsTransport(std::unique_ptr<Transport> inner = nullptr);
    ~TlsTransport() override;
    TlsTransport(const TlsTransport&) = delete;
    TlsTransport& operator=(const TlsTransport&) = delete;

    // The next connection speaks TLS to host (name or dotted address) and port; verify false
    // accepts any certificate knowingly. on_connect false: the handshake waits for Handshake
    // (a tunnel through a proxy is set up first).
    void Prepare(std::string host, int port, bool verify, bool on_connect = true);
    // The next connection is plain.
    void PreparePlain();
    // Runs the handshake on the connected socket fd: kOk, kCertificateRefused (see Problem),
    // kTimedOut, or kConnectFailed.
    [[nodiscard]] ChannelCode Handshake(int fd);
    // The server side: a handshake on the accepted socket fd presenting context's certificate,
    // within timeout_ms (kOk, kTimedOut, or kConnectFailed); from then on the connection's
    // bytes are encrypted until Close.
    [[nodiscard]] ChannelCode Accept(int fd, SSL_CTX* context, int timeout_ms);

    // Whether the prepared connection is TLS, and to which server ("host:port", empty: plain).
    bool Secure() const { return !server_.empty(); }
    const std::string& Server() const { return server_; }
    bool Verifies() const { return verify_; }
    // Server and checking of the connection open now / of the next one; empty when plain.
    std::string OpenKey() const;
    std::string PreparedKey() const;
    CertificateProblem Problem() const { return problem_; }
    // Whether the last handshake resumed an earlier session.
    bool Resumed() const { return resumed_; }
    Transport& Inner() { return *inner_; }

    bool Connect(int fd, const sockaddr_in& peer) override;
    ChannelCode Established(int fd) override;
    long Send(int fd, const char* data, std::size_t length) override;
    long Receive(int fd, char* data, std::size_t capacity, bool dont_wait) override;
    int Wait(int fd, short events, int timeout_ms) override;
    int Peek(int fd) override;
    int Close(int fd) override;
    void AwaitAnswer() override;

    // One open TLS connection (defined in the .cpp; OpenSSL's callbacks reach it).
    struct Session;

  private:
    // A new session on fd: an SSL of context that reads and writes through the inner transport.
    // False, and no session, when OpenSSL cannot make it.
    [[nodiscard]] bool OpenSession(int fd, SSL_CTX* context, std::string key);
    [[nodiscard]] ChannelCode RunHandshake(int fd, int (*step)(SSL*), int timeout_ms);

    std::unique_ptr<Transport> inner_;
    std::unique_ptr<Session> session_;  // while a TLS connection is open
    std::string host_;
    std::string server_;
    bool verify_ = true;
    bool on_connect_ = true;
    bool resumed_ = false;
    CertificateProblem problem_ = CertificateProblem::kNone;
};

}  // namespace kelvra::net
