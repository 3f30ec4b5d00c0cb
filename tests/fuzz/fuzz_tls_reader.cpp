// Feeds the response reader arbitrary bytes through the TLS channel's read path: an https
// server inside the harness (OpenSSL over memory buffers, one self-signed certificate for the
// run) sends the input as application data, block by block (so records and reads split the
// bytes anywhere), then closes with or without close_notify. The channel's own TLS layer
// (our BIO, Receive, Peek and Wait over the transport below) decrypts them for the reader.
// Checks as for plain http: the temporary file always holds exactly the header and the body
// the reader reports.

#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "net/httputils.h"
#include "net/result_codes.h"
#include "net/tls.h"
#include "reader_checks.h"

namespace {

using namespace kelvra::net;
using kelvra::fuzz::kFakeSocket;
using kelvra::fuzz::ReadMessages;

constexpr std::size_t kMaxBlock = 20000;  // more than one TLS record

// A server context with a fresh self-signed certificate (the client accepts it knowingly).
SSL_CTX* ServerContext() {
    static SSL_CTX* const context = [] {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* certificate = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 86400);
        X509_set_pubkey(certificate, key);
        X509_NAME* name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("fuzz.test"), -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        X509_sign(certificate, key, EVP_sha256());
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        // Tickets resume sessions; a server-side cache would only grow over the run.
        SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
        SSL_CTX_use_certificate(ctx, certificate);
        SSL_CTX_use_PrivateKey(ctx, key);
        X509_free(certificate);
        EVP_PKEY_free(key);
        return ctx;
    }();
    return context;
}

// The peer below the channel's TLS layer: a TLS server over memory BIOs, driven whenever the
// client sends or reads. After the handshake it writes one block per step; after the last
// one it closes.
class TlsServerTransport final : public Transport {
  public:
    void Start(std::deque<std::string> blocks, bool close_notify) {
        SSL_free(ssl_);
        ssl_ = SSL_new(ServerContext());
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_accept_state(ssl_);
        blocks_ = std::move(blocks);
        close_notify_ = close_notify;
        closed_ = false;
    }
    ~TlsServerTransport() override { SSL_free(ssl_); }

    bool Connect(int, const sockaddr_in&) override { return true; }
    ChannelCode Established(int) override { return ChannelCode::kOk; }
    long Send(int, const char* data, std::size_t length) override {
        BIO_write(in_, data, static_cast<int>(length));
        Drive();
        return static_cast<long>(length);
    }
    long Receive(int, char* data, std::size_t capacity, bool dont_wait) override {
        while (BIO_ctrl_pending(out_) == 0 && Drive()) {
        }
        const int got = BIO_read(out_, data, static_cast<int>(capacity));
        if (got > 0) return got;
        if (closed_) return 0;
        return dont_wait ? -2 : 0;  // nothing would ever come: a closed peer
    }
    int Wait(int, short events, int) override { return events & (POLLIN | POLLOUT); }
    int Peek(int) override {
        while (BIO_ctrl_pending(out_) == 0 && Drive()) {
        }
        return BIO_ctrl_pending(out_) > 0 ? 1 : (closed_ ? -1 : 0);
    }
    int Close(int) override { return 0; }

  private:
    // One step of the server: the handshake while it runs, then the next block, then the end.
    // False when it cannot go on before the client sends something.
    bool Drive() {
        if (closed_) return false;
        if (!SSL_is_init_finished(ssl_)) return SSL_do_handshake(ssl_) == 1;
        // The client's close_notify and other records it sends are read and dropped.
        char sink[256];
        while (SSL_read(ssl_, sink, sizeof sink) > 0) {
        }
        if (!blocks_.empty()) {
            SSL_write(ssl_, blocks_.front().data(), static_cast<int>(blocks_.front().size()));
            blocks_.pop_front();
            return true;
        }
        if (close_notify_) SSL_shutdown(ssl_);
        closed_ = true;
        return true;
    }

    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;
    BIO* out_ = nullptr;
    std::deque<std::string> blocks_;
    bool close_notify_ = false;
    bool closed_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool head = input.ConsumeBool();
    const bool close_notify = input.ConsumeBool();
    std::deque<std::string> blocks;
    while (input.remaining_bytes() > 0) {
        std::size_t length = input.ConsumeIntegralInRange<std::size_t>(1, kMaxBlock);
        blocks.push_back(input.ConsumeBytesAsString(length));
    }

    static httputils* client = nullptr;  // one channel and temporary file for the whole run
    static TlsServerTransport* server = nullptr;
    if (client == nullptr) {
        auto transport = std::make_unique<TlsServerTransport>();
        server = transport.get();
        client = new httputils(std::move(transport));
    }
    server->Start(std::move(blocks), close_notify);
    TlsTransport& tls = client->Tls();
    tls.Prepare("fuzz.test", kHttpsPort, false, false);
    if (tls.Handshake(kFakeSocket) != ChannelCode::kOk) __builtin_trap();
    client->AdoptSocket(kFakeSocket);
    ReadMessages(*client, head);
    tls.Close(kFakeSocket);
    client->ReleaseSocket();
    return 0;
}
