// The local certificate authority: made once and kept, and leaf certificates that a client
// trusting only it accepts for the host they were made for (and no other), through the
// server side of the TLS channel.

#include "net/local_authority.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <string>

#include "net/tls.h"
#include "platform/rawfile.h"
#include "util/tempdir.h"

namespace kelvra::net {
namespace {

std::string Directory(const kelvra::testing::TempDir& dir) {
    return dir.Path("settings/");
}

TEST(LocalAuthorityTest, MadeOnceWithAPrivateKeyAndKeptAfterwards) {
    kelvra::testing::TempDir dir;
    std::string error;
    ASSERT_TRUE(LocalAuthority::Open(Directory(dir), error)) << error;
    const std::string key = Directory(dir) + kAuthorityKeyName;
    struct stat info {};
    ASSERT_EQ(::stat(key.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const auto pem = platform::ReadFileContents(Directory(dir) + kAuthorityCertificateName);
    ASSERT_TRUE(pem && pem->starts_with("-----BEGIN CERTIFICATE-----"));

    // Opened again: the same authority, not a new one the browser never imported.
    ASSERT_TRUE(LocalAuthority::Open(Directory(dir), error));
    EXPECT_EQ(platform::ReadFileContents(Directory(dir) + kAuthorityCertificateName), pem);

    // A key that does not belong to the certificate is refused, not silently replaced.
    kelvra::testing::TempDir other;
    ASSERT_TRUE(LocalAuthority::Open(Directory(other), error));
    ASSERT_TRUE(platform::ReplaceFileContents(
        key, *platform::ReadFileContents(Directory(other) + kAuthorityKeyName), 0600));
    EXPECT_FALSE(LocalAuthority::Open(Directory(dir), error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos);
}

// Client handshake trusting only the authority's certificate, checking the name host; the
// server side runs TlsTransport::Accept with the leaf made for leaf_host.
bool ClientAccepts(LocalAuthority& authority, const std::string& leaf_host,
                   const std::string& host) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return false;
    SSL_CTX* server_context = authority.ServerContextFor(leaf_host);
    auto server = std::async(std::launch::async, [&] {
        TlsTransport tls;
        const ChannelCode code = tls.Accept(fds[1], server_context, 10000);
        tls.Close(fds[1]);
        return code;
    });
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(SSL_CTX_new(TLS_client_method()),
                                                         SSL_CTX_free);
    SSL_CTX_load_verify_locations(context.get(), authority.CertificatePath().c_str(), nullptr);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    std::unique_ptr<SSL, void (*)(SSL*)> ssl(SSL_new(context.get()), SSL_free);
    SSL_set_fd(ssl.get(), fds[0]);
    if (host.find_first_not_of("0123456789.") == std::string::npos) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host.c_str());
    } else {
        SSL_set1_host(ssl.get(), host.c_str());
    }
    const bool accepted = SSL_connect(ssl.get()) == 1;
    ::close(fds[0]);
    static_cast<void>(server.get());
    return accepted;
}

TEST(LocalAuthorityTest, LeafCertificatesHoldForTheirHostOnly) {
    kelvra::testing::TempDir dir;
    std::string error;
    auto authority = LocalAuthority::Open(Directory(dir), error);
    ASSERT_TRUE(authority) << error;
    struct Case {
        const char* leaf;
        const char* asked;
        bool accepted;
    };
    for (const Case& c :
         {Case{"shop.example", "shop.example", true}, Case{"127.0.0.1", "127.0.0.1", true},
          Case{"shop.example", "other.example", false}, Case{"127.0.0.1", "127.0.0.2", false}}) {
        EXPECT_EQ(ClientAccepts(*authority, c.leaf, c.asked), c.accepted)
            << c.leaf << " " << c.asked;
    }
    // One context per host, made once.
    EXPECT_EQ(authority->ServerContextFor("shop.example"),
              authority->ServerContextFor("shop.example"));
}

}  // namespace
}  // namespace kelvra::net
