// The listening socket, the client access table and reading a request on the server side.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "net/message_reader.h"
#include "net/proxy.h"
#include "net/result_codes.h"
#include "net/tcpip_server.h"

namespace kelvra::net {
namespace {

std::uint32_t Ip(const char* dotted) {
    return ::inet_addr(dotted);
}

TEST(ListenTest, PortZeroReportsTheAssignedPortAndAcceptGivesTheLevel) {
    TCPIPServer server;
    server.SetBindAddress(kLoopbackAddress);
    int port = 0;
    ASSERT_EQ(server.Listen(port, true), ChannelCode::kOk);
    ASSERT_GT(port, 0);

    TCPIPClient client;
    client.SetTimeout(5);
    ASSERT_EQ(client.Connect(kLoopbackAddress, port, false), ChannelCode::kOk);
    int level = -1;
    int fd = server.Accept(&level);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(level, kLoopbackStartLevel);

    // the accepted socket reads a request like any channel
    TCPIPClass accepted;
    accepted.AdoptSocket(fd);
    accepted.SetTimeout(5);
    InvestHeaderClass reader;
    reader.AttachSink(&accepted);
    ChannelCode code;
    const std::string request = "get /where?x HTTP/1.0\r\nConnection: keep-alive\r\n\r\n";
    ASSERT_TRUE(client.SendAll(request.data(), request.size(), code));
    int polled = 0;
    for (int i = 0; i < 50 && polled == 0; ++i) polled = reader.Poll(100000);
    EXPECT_EQ(polled, 1);
    EXPECT_EQ(reader.Kind(), kGetRequest);
    EXPECT_EQ(reader.Buffer().status_token, "/where?x");
    EXPECT_TRUE(reader.Buffer().keep_alive);
}

TEST(ListenTest, TableDecidesTheLevelOfALoopbackClient) {
    TCPIPServer server;
    server.SetBindAddress(kLoopbackAddress);
    server.SetAccessTable(ParseAccessTable("0:127.0.0.1\n"));
    int port = 0;
    ASSERT_EQ(server.Listen(port, false), ChannelCode::kOk);
    TCPIPClient client;
    ASSERT_EQ(client.Connect(kLoopbackAddress, port, false), ChannelCode::kOk);
    int level = -1;
    TCPIPClass accepted;
    accepted.AdoptSocket(server.Accept(&level));
    EXPECT_EQ(level, 0);
}

// Forty browser connections arriving together, before the server accepts any, all complete their
// handshake at once: none waits for a SYN retry.
TEST(ListenTest, ManyConnectionsAtOnceWaitInTheQueue) {
    TCPIPServer server;
    server.SetBindAddress(kLoopbackAddress);
    int port = 0;
    ASSERT_EQ(server.Listen(port, true), ChannelCode::kOk);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = kLoopbackAddress;
    std::vector<pollfd> clients;
    for (int i = 0; i < 40; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        clients.push_back({fd, POLLOUT, 0});
    }
    int connected = 0;
    for (pollfd& client : clients) {
        int error = -1;
        socklen_t length = sizeof error;
        if (::poll(&client, 1, 500) == 1 &&
            ::getsockopt(client.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
            ++connected;
        }
        ::close(client.fd);
    }
    EXPECT_EQ(connected, 40);
}

TEST(ListenTest, PortInUseFailsToBind) {
    TCPIPServer first, second;
    first.SetBindAddress(kLoopbackAddress);
    second.SetBindAddress(kLoopbackAddress);
    int port = 0;
    ASSERT_EQ(first.Listen(port, false), ChannelCode::kOk);
    EXPECT_EQ(second.Listen(port, false), ChannelCode::kBindFailed);
}

struct RequestKind {
    const char* line;
    int kind;
};

class RequestKindTest : public ::testing::TestWithParam<RequestKind> {};

TEST_P(RequestKindTest, FirstLineGivesTheKind) {
    InvestHeaderClass reader;
    std::string header = std::string(GetParam().line) + "\r\n\r\n";
    std::copy(header.begin(), header.end(), reader.Buffer().raw.begin());
    reader.Buffer().filled = header.size();
    EXPECT_EQ(reader.ParseHeader(header.size()), GetParam().kind);
    EXPECT_FALSE(reader.Buffer().keep_alive);  // a request without the field never keeps
}

INSTANTIATE_TEST_SUITE_P(Lines, RequestKindTest,
                         ::testing::Values(RequestKind{"GET / HTTP/1.1", kGetRequest},
                                           RequestKind{"head / HTTP/1.0", kHeadRequest},
                                           RequestKind{"POST /f HTTP/1.0", kPostRequest},
                                           RequestKind{"PUT /f HTTP/1.1", kOtherRequest},
                                           RequestKind{"GETX / HTTP/1.0", kOtherRequest}));

TEST(AccessTableTest, ParsesLevelsMasksNegationAndComments) {
    auto table = ParseAccessTable(
        "# local clients\n"
        "  1:192.168.1.0/255.255.255.0   # office\n"
        "2:!10.0.0.0/255.0.0.0\n"
        "not an entry\n"
        "3:127.0.0.1\n");
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].level, 1);
    EXPECT_EQ(table[0].address, Ip("192.168.1.0"));
    EXPECT_EQ(table[0].mask, Ip("255.255.255.0"));
    EXPECT_EQ(table[1].level, ~2);
    EXPECT_EQ(table[1].mask, Ip("255.0.0.0"));
    EXPECT_EQ(table[2].mask, 0xFFFFFFFFu);
}

TEST(AccessTableTest, UnresolvableHostEndsTheTable) {
    auto table = ParseAccessTable("1:10.0.0.1\n1:nobody.invalid\n2:10.0.0.2\n");
    ASSERT_EQ(table.size(), 1u);
}

struct LevelCase {
    const char* client;
    int level;
};

class AccessLevelTest : public ::testing::TestWithParam<LevelCase> {};

TEST_P(AccessLevelTest, FirstMatchingEntryWins) {
    auto table = ParseAccessTable("1:192.168.1.0/255.255.255.0\n2:!10.0.0.0/255.0.0.0\n");
    EXPECT_EQ(ClientAccessLevel(table, Ip(GetParam().client)), GetParam().level);
}

INSTANTIATE_TEST_SUITE_P(
    Clients, AccessLevelTest,
    ::testing::Values(LevelCase{"192.168.1.9", 1},  // in the office network
                      LevelCase{"10.1.2.3", 0},     // inside 10/8: the negated entry does not apply
                      LevelCase{"172.16.0.1", 2},   // outside 10/8
                      LevelCase{"127.0.0.1", 2}));  // also outside 10/8

TEST(AccessLevelTest, WithoutTableOnlyLoopbackIsAdmitted) {
    EXPECT_EQ(ClientAccessLevel({}, Ip("127.0.0.1")), 2);
    EXPECT_EQ(ClientAccessLevel({}, Ip("192.168.1.9")), 0);
}

}  // namespace
}  // namespace kelvra::net
