// The channel itself: temporary file and tee, Peek, receive time-out, held-back bytes.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "net/http_test_util.h"
#include "net/proxy.h"
#include "net/tcpip_server.h"
#include "support/test_origin.h"

namespace kelvra::net {
namespace {

using kelvra::test::Reply;
using kelvra::test::TestOrigin;
using testing::TempDir;
using testing::TempFileText;

struct ChannelTest : ::testing::Test {
    ChannelTest() {
        channel.SetTempDirectory(dir.Path());
        channel.SetTimeout(5);
    }
    ChannelCode ConnectTo(const TestOrigin& origin) {
        return channel.Connect(ResolveHost("127.0.0.1"), origin.Port(), false);
    }
    TempDir dir;
    TCPIPClient channel;
};

TEST_F(ChannelTest, TemporaryFileNameAndLifetime) {
    std::string path;
    {
        TCPIPClass own;
        own.SetTempDirectory(dir.Path());
        ASSERT_TRUE(own.OpenTempFile());
        path = own.TempPath();
        std::filesystem::path file(path);
        EXPECT_EQ(file.parent_path(), std::filesystem::path(dir.Path()));
        // five lower-case hex digits, then the six characters mkstemp chose
        std::string name = file.filename().string();
        ASSERT_EQ(name.size(), 11u);
        EXPECT_EQ(name.substr(0, 5).find_first_not_of("0123456789abcdef"), std::string::npos);
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);  // mkstemp: only the owner
        // reopening keeps the name and empties the file; a shorter response written over a
        // longer one leaves nothing of it
        ASSERT_TRUE(own.AppendToTemp("abcdef", 6));
        ASSERT_TRUE(own.OpenTempFile());
        EXPECT_EQ(own.TempPath(), path);
        EXPECT_EQ(TempFileText(own), "");
        ASSERT_TRUE(own.AppendToTemp("abcdef", 6));
        ASSERT_TRUE(own.OpenTempFile());
        ASSERT_TRUE(own.AppendToTemp("xy", 2));
        // The response's own stream leaves the old tail; its length tells where "xy" ends.
        ASSERT_NE(own.ResponseStream(), nullptr);
        EXPECT_EQ(own.ResponseLength(), 2);
        EXPECT_EQ(std::filesystem::file_size(path), 6u);
        EXPECT_EQ(TempFileText(own), "xy");
        EXPECT_EQ(std::filesystem::file_size(path), 2u);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

// A response nobody asked the file for (a 304's header) is dropped from the stream's buffer
// and never written; one too long for the buffer, or one that was asked for, is written over.
// Either way the next response reads back alone.
TEST_F(ChannelTest, AResponseNobodyAskedForNeverReachesTheFile) {
    struct Case {
        const char* what;
        std::size_t unasked;  // bytes of the earlier response
        bool asked;           // its stream was asked for
        std::uintmax_t size_before_cut;
    };
    const std::vector<Case> cases = {
        {"short, not asked", 40, false, 2},
        {"short, asked", 40, true, 40},
        {"longer than the buffer", 70000, false, 70000},
    };
    for (const Case& c : cases) {
        TCPIPClass own;
        own.SetTempDirectory(dir.Path());
        ASSERT_TRUE(own.OpenTempFile()) << c.what;
        const std::string earlier(c.unasked, 'e');
        ASSERT_TRUE(own.AppendToTemp(earlier.data(), earlier.size())) << c.what;
        if (c.asked) {
            ASSERT_NE(own.ResponseStream(), nullptr) << c.what;
        }
        ASSERT_TRUE(own.OpenTempFile()) << c.what;
        ASSERT_TRUE(own.AppendToTemp("xy", 2)) << c.what;
        ASSERT_NE(own.ResponseStream(), nullptr) << c.what;
        EXPECT_EQ(std::filesystem::file_size(own.TempPath()), c.size_before_cut) << c.what;
        EXPECT_EQ(TempFileText(own), "xy") << c.what;
    }
}

TEST_F(ChannelTest, TeeCopiesReceivedBytesOnlyWhileOn) {
    TestOrigin origin([](kelvra::test::Connection& c) {
        c.Send("first");
        std::string ack;
        c.ReadUntil("\n", ack);
        c.Send("second");
        c.WaitForClientClose();
    });
    ASSERT_EQ(ConnectTo(origin), ChannelCode::kOk);
    ASSERT_TRUE(channel.OpenTempFile());
    char buffer[64];
    ASSERT_EQ(channel.Receive(buffer, 5).count, 5);
    EXPECT_EQ(std::string(buffer, 5), "first");
    channel.SetTee(false);
    ChannelCode code;
    ASSERT_TRUE(channel.SendAll("\n", 1, code));
    const Received second = channel.Receive(buffer, sizeof buffer);
    ASSERT_TRUE(second.Got());
    EXPECT_EQ(std::string(buffer, second.count), "second");
    EXPECT_EQ(TempFileText(channel), "first");
}

TEST_F(ChannelTest, ReceiveWithoutTemporaryFileIsFine) {
    TestOrigin origin([](kelvra::test::Connection& c) { c.Send("x"); });
    ASSERT_EQ(ConnectTo(origin), ChannelCode::kOk);
    char byte;
    EXPECT_EQ(channel.Receive(&byte, 1).count, 1);
    EXPECT_TRUE(channel.Receive(&byte, 1).PeerClosed());  // then the peer closed
}

TEST_F(ChannelTest, PeekStates) {
    TestOrigin origin([](kelvra::test::Connection& c) {
        std::string go;
        c.ReadUntil("\n", go);
        c.Send("d");
        c.ReadUntil("\n", go);
    });
    ASSERT_EQ(ConnectTo(origin), ChannelCode::kOk);
    EXPECT_EQ(channel.Peek(0), 0);  // nothing yet
    EXPECT_EQ(channel.Peek(50000), 0);
    ChannelCode code;
    ASSERT_TRUE(channel.SendAll("\n", 1, code));
    EXPECT_EQ(channel.Peek(2000000), 1);  // data waiting, not consumed
    EXPECT_EQ(channel.Peek(0), 1);
    char byte;
    ASSERT_TRUE(channel.Receive(&byte, 1).Got());
    ASSERT_TRUE(channel.SendAll("\n", 1, code));
    EXPECT_EQ(channel.Peek(2000000), -1);  // the peer closed
    channel.Close();
    EXPECT_EQ(channel.Peek(0), -2);  // no socket
}

TEST_F(ChannelTest, HeldBackBytesComeFirstAndCloseDropsThem) {
    TestOrigin origin([](kelvra::test::Connection& c) {
        c.Send("wire");
        c.WaitForClientClose();
    });
    ASSERT_EQ(ConnectTo(origin), ChannelCode::kOk);
    ASSERT_TRUE(channel.OpenTempFile());
    channel.Unread("held", 4);
    EXPECT_EQ(channel.Peek(0), 1);
    char buffer[16];
    // held-back bytes first, never joined with the socket's in one Receive
    for (const std::string_view expected : {"hel", "d", "wire"}) {
        const std::size_t capacity = expected == "hel" ? 3 : sizeof buffer;
        const Received received = channel.Receive(buffer, capacity);
        ASSERT_TRUE(received.Got());
        EXPECT_EQ(std::string(buffer, received.count), expected);
    }
    EXPECT_EQ(TempFileText(channel), "heldwire");
    channel.Unread("x", 1);
    channel.Close();
    EXPECT_EQ(channel.HeldBackBytes(), 0u);
}

TEST_F(ChannelTest, ReceiveTimesOut) {
    TestOrigin origin([](kelvra::test::Connection& c) { c.WaitForClientClose(); });
    ASSERT_EQ(ConnectTo(origin), ChannelCode::kOk);
    channel.SetTimeout(1);
    char byte;
    EXPECT_EQ(channel.Receive(&byte, 1).code, ChannelCode::kTimedOut);
}

TEST_F(ChannelTest, CutTempFileRemovesTheTail) {
    ASSERT_TRUE(channel.OpenTempFile());
    ASSERT_TRUE(channel.AppendToTemp("header+body", 11));
    ASSERT_TRUE(channel.CutTempFile(4));
    ASSERT_TRUE(channel.AppendToTemp("x", 1));
    EXPECT_EQ(TempFileText(channel), "header+x");
    EXPECT_FALSE(channel.CutTempFile(100));  // more than there is
}

// A listener whose accept queue is full drops further connection requests, so the connection
// stays pending until the periods run out.
TEST_F(ChannelTest, ConnectTimesOutAfterItsPeriods) {
    // A listener with the shortest queue that never accepts: once it is full, the kernel drops
    // further SYNs and a connect can only time out.
    const int full = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(full, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = kLoopbackAddress;
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(full, 1), 0);
    ASSERT_EQ(::getsockname(full, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int port = ntohs(address.sin_port);
    std::vector<std::unique_ptr<TCPIPClient>> queued;
    ChannelCode code = ChannelCode::kOk;
    channel.SetTimeout(1);
    for (int i = 0; i < 16 && code == ChannelCode::kOk; ++i) {
        queued.push_back(std::make_unique<TCPIPClient>());
        queued.back()->SetTimeout(1);
        code = queued.back()->Connect(kLoopbackAddress, port, false);
    }
    EXPECT_EQ(code, ChannelCode::kTimedOut);
    ::close(full);
}

TEST_F(ChannelTest, ConnectWithoutAddress) {
    EXPECT_EQ(channel.Connect(0, 80, false), ChannelCode::kNoSocket);
}

}  // namespace
}  // namespace kelvra::net
