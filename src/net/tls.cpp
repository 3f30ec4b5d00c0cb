#include "net/tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <map>
#include <mutex>

#include "net/openssl_calls.h"  // last: it renames OpenSSL's functions

namespace kelvra::net {

namespace {

// A server that does not finish the handshake within this time is given up.
constexpr int kHandshakeTimeoutMs = 30000;
// ALPN: we speak HTTP/1.1 only (length-prefixed protocol name, RFC 7301 §3.1).
constexpr unsigned char kAlpn[] = "\x08http/1.1";

struct SslDeleter {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
    void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};
using SessionPtr = std::unique_ptr<SSL_SESSION, SslDeleter>;

// The last session of each server, so that the next connection resumes it (one entry per
// server and verification mode: a session of an unchecked connection never serves a checked
// one).
class SessionCache final {
  public:
    void Put(const std::string& key, SSL_SESSION* session) {
        std::lock_guard lock(mutex_);
        sessions_[key].reset(session);
    }
    // A new reference, or null.
    SessionPtr Get(const std::string& key) {
        std::lock_guard lock(mutex_);
        auto found = sessions_.find(key);
        if (found == sessions_.end() || !SSL_SESSION_up_ref(found->second.get())) return nullptr;
        return SessionPtr(found->second.get());
    }

  private:
    std::mutex mutex_;
    std::map<std::string, SessionPtr> sessions_;
};

SessionCache& Sessions() {
    static SessionCache cache;
    return cache;
}

int KeepNewSession(SSL* ssl, SSL_SESSION* session);

// One client context for the process: the system store is read once (OpenSSL's default
// paths, which honour SSL_CERT_FILE and SSL_CERT_DIR).
SSL_CTX* ClientContext() {
    static const std::unique_ptr<SSL_CTX, SslDeleter> context = [] {
        std::unique_ptr<SSL_CTX, SslDeleter> ctx;
        if (!OpenSslLoaded()) return ctx;
        ctx.reset(SSL_CTX_new(TLS_client_method()));
        if (!ctx) return ctx;
        SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(ctx.get());
        SSL_CTX_set_alpn_protos(ctx.get(), kAlpn, sizeof kAlpn - 1);
        // A server that closes without close_notify ends the body as a TCP close does; the
        // message framing (length, chunks) still detects a cut message.
        SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
        SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_AUTO_RETRY);
        SSL_CTX_set_session_cache_mode(ctx.get(),
                                       SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(ctx.get(), KeepNewSession);
        return ctx;
    }();
    return context.get();
}

CertificateProblem ProblemOf(long verify_result) {
    switch (verify_result) {
        case X509_V_OK:
            return CertificateProblem::kNone;
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return CertificateProblem::kExpired;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return CertificateProblem::kWrongHost;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return CertificateProblem::kUnknownIssuer;
        default:
            return CertificateProblem::kOther;
    }
}

int ClampLength(std::size_t length) {
    return static_cast<int>(std::min<std::size_t>(length, INT_MAX));
}

}  // namespace

std::string_view CertificateProblemText(CertificateProblem problem) {
    switch (problem) {
        case CertificateProblem::kNone:
            return {};
        case CertificateProblem::kExpired:
            return "expired";
        case CertificateProblem::kWrongHost:
            return "wrong host";
        case CertificateProblem::kUnknownIssuer:
            return "unknown issuer";
        case CertificateProblem::kOther:
            break;
    }
    return "not trusted";
}

// One TLS connection: OpenSSL's state and the socket its records travel on. OpenSSL reads and
// writes through a BIO that calls the inner transport, so dont_wait says how the next read
// below may behave.
struct TlsTransport::Session {
    Session(Transport& transport, int socket, std::string cache_key)
        : inner(transport), fd(socket), key(std::move(cache_key)) {}
    ~Session() { SSL_free(ssl); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // OpenSSL's answer to a failed call, from a clean error queue.
    int ErrorOf(int rc) const { return SSL_get_error(ssl, rc); }

    Transport& inner;
    int fd;
    std::string key;
    SSL* ssl = nullptr;
    bool dont_wait = false;
    bool peer_closed = false;
};

namespace {

int BioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    auto* session = static_cast<TlsTransport::Session*>(BIO_get_data(bio));
    long sent = session->inner.Send(session->fd, data, static_cast<std::size_t>(length));
    return sent > 0 ? static_cast<int>(sent) : -1;
}

int BioRead(BIO* bio, char* data, int length) {
    BIO_clear_retry_flags(bio);
    auto* session = static_cast<TlsTransport::Session*>(BIO_get_data(bio));
    long got = session->inner.Receive(session->fd, data, static_cast<std::size_t>(length),
                                      session->dont_wait);
    if (got == -2) {
        BIO_set_retry_read(bio);
        return -1;
    }
    if (got == 0) session->peer_closed = true;
    return got >= 0 ? static_cast<int>(got) : -1;
}

long BioControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* ChannelBioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "channel");
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_ctrl(m, BioControl);
        BIO_meth_set_create(m, BioCreate);
        return m;
    }();
    return method;
}

int KeepNewSession(SSL* ssl, SSL_SESSION* session) {
    auto* owner = static_cast<TlsTransport::Session*>(SSL_get_app_data(ssl));
    if (owner == nullptr) return 0;
    Sessions().Put(owner->key, session);
    return 1;  // the cache holds the reference now
}

bool IsDottedAddress(const std::string& host) {
    in_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1;
}

}  // namespace

TlsTransport::TlsTransport(std::unique_ptr<Transport> inner)
    : inner_(inner ? std::move(inner) : std::make_unique<PlainTransport>()) {}

TlsTransport::~TlsTransport() = default;

void TlsTransport::Prepare(std::string host, int port, bool verify, bool on_connect) {
    server_ = host + ":" + std::to_string(port);
    host_ = std::move(host);
    verify_ = verify;
    on_connect_ = on_connect;
    problem_ = CertificateProblem::kNone;
}

void TlsTransport::PreparePlain() {
    host_.clear();
    server_.clear();
    problem_ = CertificateProblem::kNone;
}

std::string TlsTransport::OpenKey() const {
    return session_ ? session_->key : std::string();
}

std::string TlsTransport::PreparedKey() const {
    if (!Secure()) return {};
    return verify_ ? server_ : server_ + " unchecked";
}

bool TlsTransport::OpenSession(int fd, SSL_CTX* context, std::string key) {
    session_ = std::make_unique<Session>(*inner_, fd, std::move(key));
    SSL* ssl = session_->ssl = SSL_new(context);
    BIO* bio = ssl == nullptr ? nullptr : BIO_new(ChannelBioMethod());
    if (bio == nullptr) {
        session_.reset();
        return false;
    }
    BIO_set_data(bio, session_.get());
    SSL_set_bio(ssl, bio, bio);
    return true;
}

ChannelCode TlsTransport::Handshake(int fd) {
    SSL_CTX* context = ClientContext();
    if (context == nullptr || !OpenSession(fd, context, PreparedKey())) {
        return ChannelCode::kConnectFailed;
    }
    SSL* ssl = session_->ssl;
    SSL_set_app_data(ssl, session_.get());
    SSL_set_verify(ssl, verify_ ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
    if (IsDottedAddress(host_)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host_.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, host_.c_str());
        SSL_set1_host(ssl, host_.c_str());
    }
    if (SessionPtr earlier = Sessions().Get(session_->key)) SSL_set_session(ssl, earlier.get());
    return RunHandshake(fd, SSL_connect, kHandshakeTimeoutMs);
}

ChannelCode TlsTransport::Accept(int fd, SSL_CTX* context, int timeout_ms) {
    PreparePlain();
    verify_ = false;
    if (!OpenSession(fd, context, std::string())) return ChannelCode::kConnectFailed;
    return RunHandshake(fd, SSL_accept, timeout_ms);
}

// Drives step (SSL_connect or SSL_accept) until the handshake is done, waiting on the inner
// transport for what OpenSSL needs, within timeout_ms.
ChannelCode TlsTransport::RunHandshake(int fd, int (*step)(SSL*), int timeout_ms) {
    SSL* ssl = session_->ssl;
    session_->dont_wait = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        ERR_clear_error();
        const int rc = step(ssl);
        if (rc == 1) break;
        const int error = session_->ErrorOf(rc);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const short events = error == SSL_ERROR_WANT_READ    ? POLLIN
                             : error == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                             : 0;
        int ready = -1;
        if (events != 0 && left.count() > 0) {
            ready = inner_->Wait(fd, events, static_cast<int>(left.count()));
            if (ready > 0) continue;
        }
        problem_ = verify_ ? ProblemOf(SSL_get_verify_result(ssl)) : CertificateProblem::kNone;
        session_.reset();
        if (problem_ != CertificateProblem::kNone) return ChannelCode::kCertificateRefused;
        return events != 0 && ready == 0 ? ChannelCode::kTimedOut : ChannelCode::kConnectFailed;
    }
    session_->dont_wait = false;
    resumed_ = SSL_session_reused(ssl) == 1;
    return ChannelCode::kOk;
}

bool TlsTransport::Connect(int fd, const sockaddr_in& peer) {
    return inner_->Connect(fd, peer);
}

ChannelCode TlsTransport::Established(int fd) {
    const ChannelCode code = inner_->Established(fd);
    if (code != ChannelCode::kOk || !Secure() || !on_connect_) return code;
    return Handshake(fd);
}

long TlsTransport::Send(int fd, const char* data, std::size_t length) {
    if (!session_ || session_->fd != fd) return inner_->Send(fd, data, length);
    session_->dont_wait = false;
    ERR_clear_error();
    const int sent = SSL_write(session_->ssl, data, ClampLength(length));
    return sent > 0 ? sent : -1;
}

long TlsTransport::Receive(int fd, char* data, std::size_t capacity, bool dont_wait) {
    if (!session_ || session_->fd != fd) return inner_->Receive(fd, data, capacity, dont_wait);
    session_->dont_wait = dont_wait;
    ERR_clear_error();
    const int got = SSL_read(session_->ssl, data, ClampLength(capacity));
    if (got > 0) return got;
    const int error = session_->ErrorOf(got);
    if (error == SSL_ERROR_ZERO_RETURN || session_->peer_closed) return 0;
    return dont_wait && error == SSL_ERROR_WANT_READ ? -2 : -1;
}

int TlsTransport::Wait(int fd, short events, int timeout_ms) {
    // Decrypted bytes waiting inside OpenSSL make the channel readable whatever the socket says.
    if (session_ && session_->fd == fd && (events & POLLIN) != 0 &&
        SSL_pending(session_->ssl) > 0) {
        return POLLIN;
    }
    return inner_->Wait(fd, events, timeout_ms);
}

int TlsTransport::Peek(int fd) {
    if (!session_ || session_->fd != fd) return inner_->Peek(fd);
    if (SSL_pending(session_->ssl) > 0) return 1;
    session_->dont_wait = true;
    ERR_clear_error();
    char byte;
    const int got = SSL_peek(session_->ssl, &byte, 1);
    if (got > 0) return 1;
    const int error = session_->ErrorOf(got);
    if (error == SSL_ERROR_ZERO_RETURN || session_->peer_closed) return -1;
    return error == SSL_ERROR_WANT_READ ? 0 : -2;
}

int TlsTransport::Close(int fd) {
    if (session_ && session_->fd == fd) {
        // close_notify, without waiting for the server's.
        session_->dont_wait = true;
        ERR_clear_error();
        SSL_shutdown(session_->ssl);
        session_.reset();
    }
    return inner_->Close(fd);
}

void TlsTransport::AwaitAnswer() {
    inner_->AwaitAnswer();
}

}  // namespace kelvra::net
