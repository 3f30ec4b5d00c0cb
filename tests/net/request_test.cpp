// The request writer: exact bytes on the wire, direct and through a proxy, and connecting.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "net/http_test_util.h"
#include "net/url.h"
#include "support/test_origin.h"

namespace kelvra::net {
namespace {

using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::TestOrigin;
using testing::ClientFixture;

TestOrigin OkOrigin() {
    return TestOrigin([](const kelvra::test::Request&) {
        return Reply().Send(HttpResponse("HTTP/1.1 200 OK", "ok"));
    });
}

struct RequestTest : ClientFixture {
    // Sends one request and returns the bytes the origin received.
    std::string Sent(TestOrigin& origin, int method, const std::string& url,
                     const ConnectionSetting* setting = nullptr, std::string_view extra = "") {
        EXPECT_EQ(client.SendRequest(method, url, setting, extra), ChannelCode::kOk);
        EXPECT_EQ(client.ReadStatus().status, 200);
        EXPECT_TRUE(origin.WaitForRequests(1));
        return origin.Requests().empty() ? std::string() : origin.Requests().back().bytes;
    }
    ProxySetting proxy;
    void UseProxy(const TestOrigin& origin) {
        proxy.host = "127.0.0.1";
        proxy.port = origin.Port();
        client.SetProxy(&proxy, kHttpPort);
    }
};

TEST_F(RequestTest, UserInfoSpacesAndPortDirect) {
    TestOrigin origin = OkOrigin();
    std::string url = "http://u:p@127.0.0.1:" + std::to_string(origin.Port()) + "/a b?x";
    EXPECT_EQ(Sent(origin, kMethodGet, url),
              "GET /a%20b?x HTTP/1.1\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(origin.Port()) +
                  "\r\n"
                  "Authorization: Basic dTpw\r\n"
                  "\r\n");
}

TEST_F(RequestTest, PostSendsTheQueryAsBody) {
    TestOrigin origin = OkOrigin();
    std::string sent =
        Sent(origin, kMethodPost, origin.Url("/cgi?a=1"), nullptr, "Content-length: 3\r\n");
    EXPECT_EQ(sent, "POST /cgi HTTP/1.1\r\nHost: " + origin.HostPort() +
                        "\r\nContent-length: 3\r\n\r\na=1");
}

TEST_F(RequestTest, HeadWithSettingAndExtraLines) {
    TestOrigin origin = OkOrigin();
    ConnectionSetting setting{1, 10};
    EXPECT_EQ(Sent(origin, kMethodHead, origin.Url("/h"), &setting, "Accept: */*\r\n"),
              "HEAD /h HTTP/1.0\r\nHost: " + origin.HostPort() +
                  "\r\nConnection: Keep-Alive\r\nAccept: */*\r\n\r\n");
}

struct VersionCase {
    int keep_alive;
    int version;
    const char* line;
};

class VersionTest : public RequestTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTest, RequestLineVersion) {
    TestOrigin origin = OkOrigin();
    ConnectionSetting setting{GetParam().keep_alive, GetParam().version};
    std::string sent = Sent(origin, kMethodGet, origin.Url("/"), &setting);
    EXPECT_EQ(sent.substr(0, sent.find('\r')), GetParam().line);
    EXPECT_EQ(sent.find("Connection:") != std::string::npos, GetParam().keep_alive >= 1);
}

INSTANTIATE_TEST_SUITE_P(Settings, VersionTest,
                         ::testing::Values(VersionCase{0, 11, "GET / HTTP/1.1"},    // 1.1
                                           VersionCase{1, 10, "GET / HTTP/1.0"},    // 1.0, kept
                                           VersionCase{-5, 150, "GET / HTTP/9.9"},  // capped at 99
                                           VersionCase{2, 11, "GET / HTTP/1.1"}));

struct AuthCase {
    const char* name;
    const char* extra;
    bool basic_added;
};

class AuthLineTest : public RequestTest, public ::testing::WithParamInterface<AuthCase> {};

TEST_P(AuthLineTest, BasicOnlyWithoutAnAuthorizationLine) {
    TestOrigin origin = OkOrigin();
    std::string url = "http://user:pw@" + origin.HostPort() + "/";
    std::string sent = Sent(origin, kMethodGet, url, nullptr, GetParam().extra);
    EXPECT_EQ(sent.find("Authorization: Basic dXNlcjpwdw==\r\n") != std::string::npos,
              GetParam().basic_added);
}

INSTANTIATE_TEST_SUITE_P(
    Extra, AuthLineTest,
    ::testing::Values(AuthCase{"none", "", true},
                      // credentials of the caller win
                      AuthCase{"own_authorization", "Authorization: Digest x\r\n", false},
                      // proxy credentials are a different field
                      AuthCase{"proxy_authorization", "Proxy-Authorization: Basic eA==\r\n", true}),
    [](const auto& info) { return std::string(info.param.name); });

struct ProxyCase {
    const char* url;
    const char* host_line;
};

class ProxyRequestTest : public RequestTest, public ::testing::WithParamInterface<ProxyCase> {};

TEST_P(ProxyRequestTest, WholeUrlAndHostThroughProxy) {
    TestOrigin origin = OkOrigin();
    UseProxy(origin);
    ConnectionSetting setting{1, 11};
    std::string sent = Sent(origin, kMethodGet, GetParam().url, &setting);
    EXPECT_EQ(sent, std::string("GET ") + GetParam().url + " HTTP/1.1\r\n" + GetParam().host_line +
                        "\r\nProxy-Connection: Keep-Alive\r\n\r\n");
    EXPECT_TRUE(client.ViaProxy());
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, ProxyRequestTest,
    ::testing::Values(ProxyCase{"http://www.example.invalid/p?q", "Host: www.example.invalid"},
                      // the scheme's default port stays out of Host
                      ProxyCase{"http://www.example.invalid:80/p", "Host: www.example.invalid"},
                      ProxyCase{"http://www.example.invalid:8080/p",
                                "Host: www.example.invalid:8080"}));

TEST_F(RequestTest, RequestBeyondItsBufferFailsWithoutSending) {
    TestOrigin origin = OkOrigin();
    std::string head = "GET / HTTP/1.1\r\nHost: " + origin.HostPort() + "\r\n\r\n";
    std::string extra =
        "X-Long: " + std::string(kRequestBufferSize - head.size() - 10, 'a') + "\r\n";
    ASSERT_EQ(head.size() + extra.size(), kRequestBufferSize);
    // exactly the buffer: sent
    EXPECT_EQ(client.SendRequest(kMethodGet, origin.Url("/"), nullptr, extra), ChannelCode::kOk);
    EXPECT_EQ(client.ReadStatus().status, 200);
    // one byte more: refused before connecting
    client.Close();
    EXPECT_EQ(client.SendRequest(kMethodGet, origin.Url("/"), nullptr, extra + "b"),
              ChannelCode::kSendFailed);
    EXPECT_EQ(origin.Connections(), 1);
}

TEST_F(RequestTest, UnresolvableHost) {
    EXPECT_EQ(client.SendRequest(kMethodGet, "http://no-such-host.invalid/", nullptr, ""),
              ChannelCode::kHostUnknown);
}

TEST_F(RequestTest, RefusedConnection) {
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length), 0);
    ::close(probe);  // nobody listens on that port now
    std::string url = "http://127.0.0.1:" + std::to_string(ntohs(local.sin_port)) + "/";
    EXPECT_EQ(client.SendRequest(kMethodGet, url, nullptr, ""), ChannelCode::kConnectFailed);
    EXPECT_TRUE(client.IsClosed());
}

TEST_F(RequestTest, OpenConnectionToTheSamePeerIsReused) {
    TestOrigin origin = OkOrigin();
    ConnectionSetting keep{1, 11};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(client.SendRequest(kMethodGet, origin.Url("/"), &keep, ""), ChannelCode::kOk);
        EXPECT_EQ(client.WasReused(), i > 0);
        EXPECT_EQ(client.ReadStatus().status, 200);
        testing::ReadToEnd(client);
    }
    EXPECT_EQ(origin.Connections(), 1);
    // an explicit close is never followed by reuse
    client.Close();
    ASSERT_EQ(client.SendRequest(kMethodGet, origin.Url("/"), &keep, ""), ChannelCode::kOk);
    EXPECT_FALSE(client.WasReused());
    EXPECT_EQ(client.ReadStatus().status, 200);
    EXPECT_EQ(origin.Connections(), 2);
}

TEST_F(RequestTest, SendingToAClosedPeerFailsWithoutSignal) {
    TestOrigin origin([](kelvra::test::Connection& connection) {
        std::string request;
        connection.ReadRequest(request);
        connection.Close();
    });
    ASSERT_EQ(client.SendRequest(kMethodGet, origin.Url("/"), nullptr, ""), ChannelCode::kOk);
    ASSERT_TRUE(origin.WaitForConnections(1));
    ASSERT_EQ(client.Peek(2000000), -1);  // the peer has gone
    std::string big(1 << 20, 'x');
    ChannelCode code = ChannelCode::kOk;
    bool sent = true;
    for (int i = 0; i < 8 && sent; ++i) sent = client.SendAll(big.data(), big.size(), code);
    EXPECT_FALSE(sent);
    EXPECT_EQ(code, ChannelCode::kSendFailed);
}

}  // namespace
}  // namespace kelvra::net
