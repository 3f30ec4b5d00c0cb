// The choice between the origin and the proxy.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "net/proxy.h"
#include "net/result_codes.h"
#include "net/url.h"

namespace kelvra::net {
namespace {

std::uint32_t Ip(const char* dotted) {
    return ::inet_addr(dotted);
}

struct RouteCase {
    const char* name;
    const char* proxy_host;  // nullptr: no setting attached
    int proxy_port;
    const char* local_network;
    const char* url;
    bool via_proxy;
    const char* target;  // expected target address
    int port;            // expected target port
};

class RouteTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RouteTest, DecideRoute) {
    const RouteCase& c = GetParam();
    ProxySetting setting;
    TCPIPProxyClass channel;
    if (c.proxy_host != nullptr) {
        setting.host = c.proxy_host;
        setting.port = c.proxy_port;
        setting.local_network = c.local_network ? Ip(c.local_network) : 0;
        channel.SetProxy(&setting, kHttpPort);
    }
    channel.DecideRoute(c.url);
    EXPECT_EQ(channel.ViaProxy(), c.via_proxy);
    EXPECT_EQ(channel.TargetAddress(), Ip(c.target));
    EXPECT_EQ(channel.TargetPort(), c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RouteTest,
    ::testing::Values(
        // no setting: direct, the scheme's default port
        RouteCase{"no_setting", nullptr, 0, nullptr, "http://10.1.2.3/", false, "10.1.2.3", 80},
        RouteCase{"explicit_port", nullptr, 0, nullptr, "http://10.1.2.3:81/", false, "10.1.2.3",
                  81},
        // empty (blank) proxy host or port 0: direct
        RouteCase{"blank_host", "   ", 8080, nullptr, "http://10.1.2.3/", false, "10.1.2.3", 80},
        RouteCase{"zero_port", "10.9.9.9", 0, nullptr, "http://10.1.2.3/", false, "10.1.2.3", 80},
        // a configured proxy
        RouteCase{"proxy", "10.9.9.9", 8080, nullptr, "http://10.1.2.3/", true, "10.9.9.9", 8080},
        RouteCase{"proxy_host_blanks", "  10.9.9.9", 8080, nullptr, "http://10.1.2.3/", true,
                  "10.9.9.9", 8080},
        // 127.0.0.1 never goes through the proxy
        RouteCase{"loopback", "10.9.9.9", 8080, nullptr, "http://127.0.0.1:90/", false, "127.0.0.1",
                  90},
        // local network 192.168.1.0: mask 255.255.255.0
        RouteCase{"inside_network", "10.9.9.9", 8080, "192.168.1.0", "http://192.168.1.77/", false,
                  "192.168.1.77", 80},
        RouteCase{"outside_network", "10.9.9.9", 8080, "192.168.1.0", "http://192.168.2.77/", true,
                  "10.9.9.9", 8080},
        // local network 10.0.0.0: mask 255.0.0.0
        RouteCase{"class_a_network", "10.9.9.9", 8080, "10.0.0.0", "http://10.200.1.1/", false,
                  "10.200.1.1", 80},
        // an unresolved target goes to the proxy, with or without a local network
        RouteCase{"unresolved_target", "10.9.9.9", 8080, "192.168.1.0", "http://nowhere.invalid/",
                  true, "10.9.9.9", 8080},
        // direct and unresolved: target 0
        RouteCase{"unresolved_direct", nullptr, 0, nullptr, "http://nowhere.invalid/", false,
                  "0.0.0.0", 80}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RouteTargetTest, UnresolvedTargetIsReportedAsUnknownHost) {
    TCPIPProxyClass channel;
    channel.DecideRoute("http://nowhere.invalid/");
    EXPECT_EQ(channel.ConnectTarget(), ChannelCode::kHostUnknown);
    ProxySetting setting{0, "proxy.invalid", 8080};
    channel.SetProxy(&setting, kHttpPort);
    channel.DecideRoute("http://10.1.2.3/");
    EXPECT_TRUE(channel.ViaProxy());
    EXPECT_EQ(channel.ConnectTarget(), ChannelCode::kHostUnknown);
}

TEST(RouteTargetTest, RequestTargetIsPathDirectAndWholeUrlThroughProxy) {
    TCPIPProxyClass channel;
    channel.DecideRoute("http://10.1.2.3/a?b");
    EXPECT_EQ(channel.RequestTarget("http://10.1.2.3/a?b"), "/a?b");
    ProxySetting setting{0, "10.9.9.9", 8080};
    channel.SetProxy(&setting, kFtpPort);
    channel.DecideRoute("ftp://10.1.2.3/pub/f");
    EXPECT_EQ(channel.RequestTarget("ftp://10.1.2.3/pub/f"), "ftp://10.1.2.3/pub/f");
}

TEST(ResolveTest, DottedInvalidAndEmpty) {
    EXPECT_EQ(ResolveHost("192.0.2.1"), Ip("192.0.2.1"));
    EXPECT_EQ(ResolveHost("x.invalid"), 0u);
    EXPECT_EQ(ResolveHost("X.INVALID."), 0u);
    EXPECT_EQ(ResolveHost(""), 0u);
    EXPECT_EQ(ResolveHost("localhost"), Ip("127.0.0.1"));
}

}  // namespace
}  // namespace kelvra::net
