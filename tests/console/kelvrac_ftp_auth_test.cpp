// kelvrac get over FTP and through Basic authentication as a real process: mirroring a
// directory tree from a real FTP server (pyftpdlib), the credential prompt on the console, and
// an abort that must not wait for a stalled FTP transfer. Also the slot connection itself,
// interrupted at each point where an FTP exchange can block.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <future>
#include <mutex>

#include "crawl/slotconnection.h"
#include "net/result_codes.h"
#include "kelvrac_fixture.h"
#include "support/ftp_server.h"
#include "support/test_origin.h"

namespace kelvra::testing {
namespace {

using test::Connection;
using test::HttpResponse;
using test::Reply;
using test::Request;
using test::TestOrigin;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every byte value, line ends included: a transfer in ASCII type would change it.
std::string BinaryBytes() {
    std::string bytes;
    for (int round = 0; round < 12; ++round) {
        for (int value = 0; value < 256; ++value) bytes += static_cast<char>(value);
        bytes += "\r\n\n\r";
    }
    return bytes;
}

// ---- mirroring an FTP tree ------------------------------------------------------------------

class KelvracFtp : public KelvracTest {};

TEST_F(KelvracFtp, MirrorsADirectoryTree) {
    const std::string root = dir_.Path("ftproot");
    struct File {
        std::string name;    // on the server
        std::string stored;  // in the data directory
        std::string bytes;
    };
    const std::vector<File> files = {
        {"pub/readme.txt", "pub/readme.txt", "read me\n"},
        {"pub/data.bin", "pub/data.bin", BinaryBytes()},
        {"pub/docs/guide.txt", "pub/docs/guide.txt", "the guide\n"},
        {"pub/docs/release notes.txt", "pub/docs/release%20notes.txt", "a blank in the name\n"},
    };
    for (const File& file : files) WriteFile(root + "/" + file.name, file.bytes);
    WriteFile(root + "/outside.txt", "not below the start directory\n");
    std::filesystem::create_directory_symlink("docs", root + "/pub/latest");

    struct Row {
        std::vector<std::string> unknown;
        const char* why;
    };
    const std::vector<Row> rows = {
        {{}, "MLSD"},
        {{"MLSD", "MLST"}, "LIST: the link to a directory is redirected to its '/' form"},
    };
    for (const Row& row : rows) {
        test::FtpServerOptions options;
        options.root = root;
        options.anonymous = true;
        options.unknown = row.unknown;
        test::FtpServer server(options);
        ASSERT_TRUE(server.Running()) << "pyftpdlib did not start";

        std::string out;
        ASSERT_EQ(Run({"get", server.Url("/pub/")}, &out), 0) << row.why << out;
        const std::string host = "127.0.0.1_" + std::to_string(server.Port()) + "/";
        for (const File& file : files) {
            EXPECT_EQ(Data(host + file.stored), file.bytes) << row.why << ": " << file.name;
        }
        EXPECT_EQ(Data(host + "pub/latest/guide.txt"), "the guide\n") << row.why << out;
        EXPECT_FALSE(DataExists(host + "outside.txt")) << row.why;
        // The listings are stored as the directories' index pages.
        const std::string top = Data(host + "pub/index.html");
        EXPECT_NE(top.find("<a href=\"docs/\">"), std::string::npos) << row.why << top;
        EXPECT_NE(Data(host + "pub/docs/index.html").find("<a href=\"release%20notes.txt\">"),
                  std::string::npos)
            << row.why;
        std::vector<std::string> commands = server.Commands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER anonymous"), 1)
            << row.why << ": one log-in for the whole tree";
        EXPECT_NE(std::find(commands.begin(), commands.end(), "RETR /pub/docs/release notes.txt"),
                  commands.end())
            << row.why;
    }
}

// ---- Basic authentication on the console -----------------------------------------------------

constexpr const char* kCredentials = "Basic YWxpY2U6czNjcmV0";  // alice:s3cret
constexpr const char* kChallenge = "Basic realm=\"vault\"";

// A kelvrac whose standard input is a FIFO the test writes to, through a shell that opens
// it: the child blocks on the FIFO until the test opens its end.
class StdinFifo final {
  public:
    explicit StdinFifo(std::string path) : path_(std::move(path)) {
        ok_ = ::mkfifo(path_.c_str(), 0600) == 0;
    }
    ~StdinFifo() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }
    // Opens the writing end (returns once the child opened the other end).
    bool Open() {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        return fd_ >= 0;
    }
    bool Write(const std::string& text) {
        return fd_ >= 0 &&
               ::write(fd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

  private:
    std::string path_;
    bool ok_ = false;
    int fd_ = -1;
};

TEST_F(KelvracFtp, BasicCredentialsAreAskedOnTheConsoleAndStored) {
    TestOrigin site([](const Request& request) {
        if (request.RequestLine().find("/robots.txt") != std::string_view::npos) {
            return Reply().Send(HttpResponse("HTTP/1.1 404 Not Found", "")).Close();
        }
        if (request.Head().find(std::string("Authorization: ") + kCredentials + "\r\n") ==
            std::string_view::npos) {
            return Reply()
                .Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: " + std::string(kChallenge) +
                      "\r\nContent-Length: 6\r\nConnection: close\r\n\r\ndenied")
                .Close();
        }
        return Reply().Send(HttpResponse("HTTP/1.1 200 OK", "the vault")).Close();
    });
    StdinFifo input(dir_.Path("stdin"));
    ASSERT_TRUE(input.ok());
    const std::string url = site.Url("/secret/index.html");
    auto child = Start(
        {"-c", "exec \"$0\" get \"$1\" < \"$2\"", BinDirectory() + "/kelvrac", url, input.path()},
        "/bin/sh");
    ASSERT_TRUE(input.Open());

    const std::string prompt = "Input authorization code for " + std::string(kChallenge) + " (" +
                               site.HostPort() + "/secret/index.html)\nUser ID : ";
    ASSERT_TRUE(child->WaitForOutput(prompt, 30000)) << child->Out();
    ASSERT_TRUE(input.Write("alice \n"));  // trailing blanks are removed
    ASSERT_TRUE(child->WaitForOutput(prompt + "Password : ", 30000)) << child->Out();
    ASSERT_TRUE(input.Write("s3cret\n"));
    EXPECT_EQ(child->Wait(kRunTimeoutMs), 0) << child->Out() << child->Err();

    const std::string host = "127.0.0.1_" + std::to_string(site.Port()) + "/";
    EXPECT_EQ(Data(host + "secret/index.html"), "the vault");
    std::vector<Request> requests = site.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests.back().Head().find(std::string("Authorization: ") + kCredentials),
              std::string_view::npos)
        << requests.back().bytes;
    const std::string code_file = data_ + host + "secret/$AuthCode$";
    EXPECT_EQ(ReadWhole(code_file), std::string(kChallenge) + "\n" + kCredentials + "\n");
    struct stat info {};
    ASSERT_EQ(::stat(code_file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "credentials readable by their owner only";
}

// ---- interrupting FTP -----------------------------------------------------------------------

// Where a scripted FTP peer stops answering.
enum class Stall {
    kGreeting,        // never greets: the client waits for a control reply
    kDataConnection,  // answers RETR with 150 but never connects: the client waits to accept
    kTransfer,        // sends part of the file (no SIZE: it would end at the close), then nothing
};

constexpr std::size_t kSentBeforeStall = 3000;

// Set once the peer got to its stall point (by the first connection that gets there).
class StallSignal final {
  public:
    void Set() {
        std::call_once(once_, [this] { reached_.set_value(); });
    }
    bool Wait(int seconds) {
        return reached_.get_future().wait_for(std::chrono::seconds(seconds)) ==
               std::future_status::ready;
    }

  private:
    std::promise<void> reached_;
    std::once_flag once_;
};

// A stalled server closes nothing itself: the data connection stays until the client closes
// it (or a time-out ends a failing test).
void HoldUntilClosed(int data) {
    if (data < 0) return;
    char byte = 0;
    pollfd wait{data, POLLIN, 0};
    while (::poll(&wait, 1, 30000) > 0 && ::recv(data, &byte, 1, 0) > 0) {
    }
    ::close(data);
}

// Answers as a server would up to the stall point, tells the test it got there, then holds
// every connection open until the client closes it.
void StallingPeer(Connection& control, Stall stall, StallSignal& stalled) {
    if (stall == Stall::kGreeting) {
        stalled.Set();
        control.WaitForClientClose();
        return;
    }
    control.Send("220 ready\r\n");
    int data_port = 0;
    for (std::string line; control.ReadUntil("\r\n", line, 30000); line.clear()) {
        if (line.starts_with("USER")) control.Send("230 in\r\n");
        if (line.starts_with("TYPE")) control.Send("200 ok\r\n");
        if (line.starts_with("MDTM") || line.starts_with("SIZE")) control.Send("550 no\r\n");
        if (line.starts_with("PORT")) {
            unsigned h[6] = {};
            std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &h[4],
                        &h[5]);
            data_port = static_cast<int>(h[4] * 256 + h[5]);
            control.Send("200 ok\r\n");
        }
        if (!line.starts_with("RETR")) continue;
        control.Send("150 here it comes\r\n");
        int data = -1;
        if (stall == Stall::kTransfer) {
            data = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in to = net::MakeAddress(net::ResolveHost("127.0.0.1"), data_port);
            if (::connect(data, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) {
                std::string part(kSentBeforeStall, 'x');
                ::send(data, part.data(), part.size(), MSG_NOSIGNAL);
            }
        }
        stalled.Set();
        control.WaitForClientClose();
        HoldUntilClosed(data);
        return;
    }
}

TEST(SlotConnectionFtp, InterruptEndsEveryBlockingStepAtOnce) {
    struct Row {
        Stall stall;
        int timeout;  // seconds; 0: none, so the body is read with blocking receives
    };
    const std::vector<Row> rows = {
        {Stall::kGreeting, 60},  // 60 s: far longer than the test may wait
        {Stall::kDataConnection, 60},
        {Stall::kTransfer, 60},
        {Stall::kTransfer, 0},
    };
    for (const auto& [stall, timeout] : rows) {
        SCOPED_TRACE(std::to_string(static_cast<int>(stall)) + "/" + std::to_string(timeout));
        StallSignal stalled;
        TestOrigin peer{TestOrigin::ConnectionHandler(
            [&](Connection& control) { StallingPeer(control, stall, stalled); })};
        crawl::SlotConnection slot;
        slot.SetTimeout(timeout);
        slot.transport().ArmStallGuard(timeout);
        bool complete = false;
        std::future<int> status = std::async(std::launch::async, [&] {
            net::ConnectionSetting setting;
            std::string url = "ftp://127.0.0.1:" + std::to_string(peer.Port()) + "/f.bin";
            net::ChannelCode code = slot.Request(net::kMethodGet, url, setting, "");
            if (code != net::ChannelCode::kOk) return 0;
            const int result = slot.ReadStatus().status;
            while (slot.State() >= net::kAfterLf && slot.State() <= net::kAfterChunkData) {
                slot.Step(code);
            }
            complete = slot.State() == net::kMessageComplete;
            return result;
        });
        ASSERT_TRUE(stalled.Wait(10));
        // Still blocked: only the interruption can end it before the time-out.
        EXPECT_EQ(status.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
        const auto start = std::chrono::steady_clock::now();
        slot.transport().Interrupt();
        ASSERT_EQ(status.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        const int result = status.get();
        if (stall == Stall::kTransfer) {
            EXPECT_EQ(result, 200);
            EXPECT_FALSE(complete) << "a cut transfer is not a file that ended with its close";
            EXPECT_LE(slot.Consumed(), static_cast<std::int64_t>(kSentBeforeStall));
        } else {
            EXPECT_NE(result, 200);
        }
        slot.Close();
        slot.transport().Rearm();
    }
}

TEST_F(KelvracFtp, AbortDoesNotWaitForAStalledTransfer) {
    StallSignal stalled;
    TestOrigin peer{TestOrigin::ConnectionHandler(
        [&](Connection& control) { StallingPeer(control, Stall::kTransfer, stalled); })};
    const std::string url = "ftp://127.0.0.1:" + std::to_string(peer.Port()) + "/slow.bin";
    auto child = Start({"get", url});
    ASSERT_TRUE(stalled.Wait(30)) << child->Out();
    child->Signal(SIGINT);
    ASSERT_TRUE(child->WaitForOutput("ただいまｽﾚｯﾄﾞ終了待機中....\n", 30000)) << child->Out();
    child->Signal(SIGINT);
    // The transfer would hold the worker for the whole GetTimeout (180 s) otherwise.
    EXPECT_EQ(child->Wait(20000), 1) << child->Out() << child->Err();
    EXPECT_NE(child->Out().find("(No.0)Killed\n"), std::string::npos) << child->Out();
    // Without SIZE the cut body cannot be told from a whole one, so nothing is stored.
    EXPECT_FALSE(DataExists("127.0.0.1_" + std::to_string(peer.Port()) + "/slow.bin"));
}

}  // namespace
}  // namespace kelvra::testing
