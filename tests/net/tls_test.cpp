// https on the channel: certificate checks with their reasons, and the connection behaving as
// over TCP (kept, pipelined, sessions resumed).

#include <gtest/gtest.h>

#include <string>

#include "net/http_test_util.h"
#include "net/tls.h"
#include "support/test_origin.h"

namespace kelvra::net {
namespace {

using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::TestCertificate;
using kelvra::test::TestOrigin;
using testing::ClientFixture;

Reply Ok(const kelvra::test::Request&) {
    return Reply().Send(HttpResponse("HTTP/1.1 200 OK", "ok"));
}

struct TlsTest : ClientFixture {};

struct CertificateCase {
    TestCertificate certificate;
    bool verify;
    ChannelCode code;
    std::string_view problem;
};

TEST_F(TlsTest, CertificatesAreCheckedUnlessAcceptedKnowingly) {
    const CertificateCase cases[] = {
        {TestCertificate::kGood, true, ChannelCode::kOk, ""},
        {TestCertificate::kWrongHost, true, ChannelCode::kCertificateRefused, "wrong host"},
        {TestCertificate::kExpired, true, ChannelCode::kCertificateRefused, "expired"},
        {TestCertificate::kSelfSigned, true, ChannelCode::kCertificateRefused, "unknown issuer"},
        // Accepted knowingly: the bytes are the same as over a checked connection.
        {TestCertificate::kWrongHost, false, ChannelCode::kOk, ""},
        {TestCertificate::kExpired, false, ChannelCode::kOk, ""},
        {TestCertificate::kSelfSigned, false, ChannelCode::kOk, ""},
    };
    for (const CertificateCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.certificate) * 2 + (c.verify ? 1 : 0));
        TestOrigin origin(Ok);
        origin.UseTls(c.certificate);
        client.SetCertificateCheck(c.verify);
        EXPECT_EQ(client.SendRequest(kMethodGet, origin.Url("/a"), nullptr, ""), c.code);
        EXPECT_EQ(CertificateProblemText(client.Tls().Problem()), c.problem);
        if (c.code == ChannelCode::kOk) {
            EXPECT_EQ(client.ReadStatus(), ResponseStatus{200});
            ASSERT_TRUE(origin.WaitForRequests(1));
            EXPECT_EQ(origin.Requests()[0].bytes,
                      "GET /a HTTP/1.1\r\nHost: " + origin.HostPort() + "\r\n\r\n");
        } else {
            EXPECT_TRUE(client.IsClosed());
            EXPECT_TRUE(origin.Requests().empty());
        }
        client.Close();
    }
}

TEST_F(TlsTest, KeptPipelinedAndResumed) {
    TestOrigin origin([](const kelvra::test::Request& request) {
        const std::string body(request.RequestLine().substr(4, 2));
        return Reply().Send(HttpResponse("HTTP/1.1 200 OK", body));
    });
    origin.UseTls(TestCertificate::kGood);
    const ConnectionSetting kept{1, 11};
    ASSERT_EQ(client.SendRequest(kMethodGet, origin.Url("/1"), &kept, ""), ChannelCode::kOk);
    ASSERT_EQ(client.SendRequest(kMethodGet, origin.Url("/2"), &kept, ""), ChannelCode::kOk);
    EXPECT_TRUE(client.WasReused());
    for (const char* body : {"/1", "/2"}) {
        ASSERT_EQ(client.ReadStatus(), ResponseStatus{200});
        EXPECT_EQ(testing::ReadToEnd(client), ChannelCode::kOk);
        EXPECT_TRUE(testing::TempFileText(client).ends_with(body));
    }
    EXPECT_EQ(origin.Connections(), 1);
    EXPECT_FALSE(client.Tls().Resumed());

    client.Close();
    ASSERT_EQ(client.SendRequest(kMethodGet, origin.Url("/3"), &kept, ""), ChannelCode::kOk);
    ASSERT_EQ(client.ReadStatus(), ResponseStatus{200});
    EXPECT_TRUE(client.Tls().Resumed());
    EXPECT_EQ(origin.Connections(), 2);
    EXPECT_EQ(origin.ResumedHandshakes(), 1);
}

TEST_F(TlsTest, ThroughAProxyInATunnelThatCarriesTheProxyCredentials) {
    TestOrigin origin(Ok);
    origin.UseTls(TestCertificate::kGood);
    std::string connect;
    TestOrigin proxy([&](kelvra::test::Connection& client) {
        if (!client.ReadUntil("\r\n\r\n", connect)) return;
        client.Send("HTTP/1.1 200 Connection established\r\n\r\n");
        client.Tunnel(origin.Port());
    });
    ProxySetting setting{0, "127.0.0.1", proxy.Port()};
    client.SetProxy(&setting, kHttpsPort);
    // 127.0.0.1 is always reached directly; 127.0.0.2 goes through the proxy, whose tunnel
    // leads to the origin.
    const std::string url = "https://127.0.0.2:" + std::to_string(origin.Port()) + "/t";
    ASSERT_EQ(client.SendRequest(kMethodGet, url, nullptr, "Proxy-Authorization: Basic cDpx\r\n"),
              ChannelCode::kOk);
    ASSERT_EQ(client.ReadStatus(), ResponseStatus{200});
    const std::string authority = "127.0.0.2:" + std::to_string(origin.Port());
    EXPECT_EQ(connect, "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority +
                           "\r\nProxy-Authorization: Basic cDpx\r\n\r\n");
    ASSERT_TRUE(origin.WaitForRequests(1));
    EXPECT_EQ(origin.Requests()[0].bytes, "GET /t HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
}

}  // namespace
}  // namespace kelvra::net
