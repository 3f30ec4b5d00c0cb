// CONNECT answered through the local authority: curl, trusting only that authority, reads
// https pages at their own address through the server.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "net/local_authority.h"
#include "server/answers.h"
#include "server_fixture.h"
#include "support/test_origin.h"
#include "support/test_pki.h"

namespace kelvra::server::testing {
namespace {

constexpr char kEstablished[] = "HTTP/1.0 200 Connection established\r\n\r\n";
constexpr char kStoredPage[] =
    "HTTP/1.0 200 OK\r\n"
    "Last-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
    "Content-type: text/html\r\nContent-length: 13\r\n"
    "Connection: Keep-Alive\r\n\r\n<p>stored</p>";
constexpr char kStoredLastPage[] =
    "HTTP/1.0 200 OK\r\n"
    "Last-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
    "Content-type: text/html\r\nContent-length: 13\r\n\r\n<p>stored</p>";

class InterceptTest : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        settings_.authority_directory = dir_.Path("settings/");
        std::string error;
        ASSERT_TRUE(net::LocalAuthority::Open(settings_.authority_directory, error)) << error;
        Put("http://mirror.test/page.html", "CT:text/html\nLM:Sun, 06 Nov 1994 08:49:37 GMT\n",
            "<p>stored</p>");
        Put("http://mirror.test/dir/index.html", "CT:text/html\n", "<p>dir</p>");
        WriteFileText(dir_.Path("prohibit.orv"), "secret :403\n");
    }
    // curl trusting the local authority only, through the server.
    std::string CurlHttps(const std::string& arguments) {
        return Curl(port_, "--cacert " + settings_.authority_directory +
                               net::kAuthorityCertificateName + " " + arguments);
    }
};

struct LocalCase {
    const char* name;
    std::string arguments;
    std::string expected;  // curl's output from the CONNECT answer on
};

TEST_F(InterceptTest, LocalModeAnswersInsideTheTunnelAsForPlainRequests) {
    Start(kModeLocal);
    const std::string own = "127.0.0.1:" + std::to_string(port_);
    const LocalCase cases[] = {
        // two requests on one kept TLS connection (curl asks the second with HTTP/1.0, as the
        // answer came, so that one is not kept)
        {"stored", "-i https://mirror.test/page.html https://mirror.test/page.html",
         kEstablished + std::string(kStoredPage) + kStoredLastPage},
        {"not modified",
         "-i -H 'If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT' https://mirror.test/page.html",
         kEstablished + NotModifiedPage("Sun, 06 Nov 1994 08:49:37 GMT")},
        {"directory", "-i https://mirror.test/dir",
         kEstablished + RedirectPage("https://mirror.test/dir/index.html")},
        {"not stored", "https://mirror.test/missing.html",
         NotInSpoolPage(404, own, "https://mirror.test/missing.html", "",
                        "https://mirror.test/missing.html")
             .substr(NotInSpoolPage(404, own, "x", "", "x").find("\r\n\r\n") + 4)},
        {"prohibited inside the tunnel", "-i https://mirror.test/secret.html",
         kEstablished + ProhibitedPage("403")},
    };
    for (const LocalCase& c : cases) EXPECT_EQ(CurlHttps(c.arguments), c.expected) << c.name;
}

TEST_F(InterceptTest, OtherHostsAndTunnelLevelsKeepThePlainAnswer) {
    settings_.tunnel_levels = {2};  // the loopback client's level
    Start(kModeLocal);
    const std::string refused = "curl: (56) CONNECT tunnel failed, response ";
    EXPECT_EQ(CurlHttps("-i https://mirror.test/page.html").substr(0, refused.size()), refused);
    server_.reset();
    settings_.tunnel_levels.clear();
    Start(kModeLocal);
    EXPECT_EQ(CurlHttps("-i https://other.test/page.html").substr(0, refused.size()), refused);
    EXPECT_EQ(CurlHttps("-i https://mirror.test:8443/page.html").substr(0, refused.size()),
              refused);
}

// A browser that says nothing after the tunnel stands holds a worker no longer than a kept
// connection may wait for a request ("KeepAlive"), not the crawler's handshake time.
TEST_F(InterceptTest, SilentClientAfterTheConnectIsLetGo) {
    settings_.keep_alive = 1;
    Start(kModeLocal);
    RawClient client(port_);
    ASSERT_TRUE(client.Send("CONNECT mirror.test:443 HTTP/1.1\r\n\r\n"));
    std::string answer;
    ASSERT_TRUE(client.ReadAtLeast(answer, std::strlen(kEstablished)));
    EXPECT_EQ(answer, kEstablished);
    EXPECT_EQ(client.WaitForClose(10000), 1);
}

using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::TestCertificate;
using kelvra::test::TestOrigin;

Reply Relayed(const kelvra::test::Request&) {
    return Reply().Send(HttpResponse("HTTP/1.0 200 OK", "relayed", "X-Origin: 1\r\n")).Close();
}

struct TunnelCase {
    const char* name;
    std::uint32_t mode;
    std::vector<int> tunnel_levels;
    bool intercepted;  // else the origin's own certificate reaches curl through a tunnel
};

TEST_F(InterceptTest, StoringProxyModesInterceptUnlessTurnedOff) {
    const TunnelCase cases[] = {
        {"Proxy Mode 2", kModeProxy2, {}, true},
        {"Proxy Mode 3", kModeProxy3, {}, true},
        {"interception off for the level", kModeProxy2, {2}, false},
        {"Proxy Mode", kModeProxy, {}, false},
    };
    for (const TunnelCase& c : cases) {
        TestOrigin origin(Relayed);
        origin.UseTls(TestCertificate::kGood);
        const std::string url = origin.Url("/fresh");
        settings_.connect_ports = {origin.Port()};
        settings_.tunnel_levels = c.tunnel_levels;
        Start(c.mode);
        const std::string relayed = "HTTP/1.0 200 OK\r\nX-Origin: 1\r\nContent-Length: 7\r\n" +
                                    std::string(c.intercepted ? "Connection: Close\r\n" : "") +
                                    "\r\nrelayed";
        const std::string trusted =
            c.intercepted ? "" : "--cacert " + kelvra::test::TestAuthorityFile() + " ";
        const std::string out =
            c.intercepted ? CurlHttps("-i " + url) : Curl(port_, trusted + "-i " + url);
        EXPECT_EQ(out, kEstablished + relayed) << c.name;
        server_.reset();  // every worker done: whatever was to be stored is
        EXPECT_EQ(store_->FindRecord(url) != nullptr, c.intercepted) << c.name;
    }
}

TEST_F(InterceptTest, RelayedHttpsPageIsReadOfflineAfterwards) {
    auto origin = std::make_unique<TestOrigin>(Relayed);
    origin->UseTls(TestCertificate::kGood);
    const std::string url = origin->Url("/page");
    settings_.connect_ports = {origin->Port()};
    Start(kModeProxy2);
    ASSERT_EQ(CurlHttps(url), "relayed");
    origin.reset();
    server_->SetMode(kModeLocal);
    ASSERT_TRUE(monitor_.WaitForText(kColumnState, "Closed"));
    EXPECT_EQ(CurlHttps(url), "relayed");
}

TEST_F(InterceptTest, OriginCertificateThatDoesNotVerifyRefusesTheConnect) {
    TestOrigin origin(Relayed);
    origin.UseTls(TestCertificate::kSelfSigned);
    settings_.connect_ports = {origin.Port()};
    Start(kModeProxy2);
    const std::string target = origin.HostPort();
    EXPECT_EQ(Ask("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n"),
              CertificateRefusedPage(target, "unknown issuer"));
    EXPECT_TRUE(origin.Requests().empty());
    server_.reset();
    EXPECT_EQ(store_->FindRecord(origin.Url("/")), nullptr);
}

}  // namespace
}  // namespace kelvra::server::testing
