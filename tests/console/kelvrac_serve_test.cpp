// kelvrac serve as a real process: the local server answers from the stored copies while the
// origin is gone, the proxy script follows the server, a signal ends it cleanly, and a second
// instance with the same settings is refused.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <regex>

#include "kelvrac_fixture.h"
#include "support/test_origin.h"

namespace kelvra::testing {
namespace {

// Sends one request to 127.0.0.1:port and returns everything the server answered.
std::string Ask(int port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return answer;
}

class KelvracServe : public KelvracTest {
  protected:
    // Mirrors one page from an origin that is gone afterwards; returns its URL.
    std::string MirrorOnePage() {
        test::TestOrigin origin([](const test::Request& request) {
            if (request.RequestLine().find("/robots.txt") != std::string_view::npos) {
                return test::Reply().Send(test::HttpResponse("HTTP/1.1 404 Not Found", "")).Close();
            }
            return test::Reply()
                .Send(test::HttpResponse("HTTP/1.1 200 OK", "stored page",
                                         "Content-Type: text/plain\r\n"))
                .Close();
        });
        const std::string url = origin.Url("/page.txt");
        std::string out;
        EXPECT_EQ(Run({"get", url}, &out), 0) << out;
        return url;
    }

    // Starts serve and reads the port it listens on.
    std::unique_ptr<ChildProcess> Serve(const std::vector<std::string>& args, int& port) {
        auto child = Start(args);
        port = 0;
        if (!child->WaitForOutput("\n", 30000) || !child->WaitForOutput(" on port ", 30000)) {
            return child;
        }
        child->WaitForOutput("\n", 30000);
        std::smatch match;
        if (std::regex_search(child->Out(), match, std::regex(" on port ([0-9]+)\n"))) {
            port = std::stoi(match[1]);
        }
        return child;
    }

    std::string PacPath() const { return config_ + "/kelvraw/proxycfg.pac"; }
};

TEST_F(KelvracServe, AnswersFromTheStoredCopiesAndEndsCleanlyOnASignal) {
    const std::string url = MirrorOnePage();
    int port = 0;
    auto child = Serve({"serve", "1"}, port);
    ASSERT_GT(port, 0) << child->Out() << child->Err();
    EXPECT_NE(child->Out().find("Orvane: Local Mode\n"), std::string::npos) << child->Out();
    EXPECT_NE(ReadWhole(PacPath()).find("PROXY 127.0.0.1:" + std::to_string(port)),
              std::string::npos)
        << "browsers are sent to the running server";

    const std::string answer = Ask(port, "GET " + url + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.0 200", 0), 0u) << answer;
    EXPECT_NE(answer.find("\r\n\r\nstored page"), std::string::npos) << answer;

    child->Signal(SIGTERM);
    EXPECT_EQ(child->Wait(kRunTimeoutMs), 0) << child->Err();
    EXPECT_EQ(ReadWhole(PacPath()).find("127.0.0.1:" + std::to_string(port)), std::string::npos)
        << "no local proxy once it is stopped";
    EXPECT_TRUE(DataExists("kelvra.hif"));
}

// A port nobody listens on now.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

constexpr char kCrawlDone[] = "[終了報告] 取得作業が完了しました\n";

TEST_F(KelvracServe, FetchesWhatABrowserAsksForAndServesIt) {
    test::TestOrigin origin([](const test::Request&) {
        return test::Reply().Send(
            test::HttpResponse("HTTP/1.1 200 OK", "fetched", "Content-Type: text/plain\r\n"));
    });
    const std::string url = origin.Url("/asked.txt");
    int port = 0;
    auto child = Serve({"serve", "local"}, port);
    ASSERT_GT(port, 0) << child->Out() << child->Err();
    // The link of the page a browser gets for what is not stored.
    const std::string answer = Ask(port, "GET /get?" + url + " HTTP/1.0\r\n\r\n");
    EXPECT_NE(answer.find("202 Request Success"), std::string::npos) << answer;
    ASSERT_TRUE(child->WaitForOutput(kCrawlDone, kRunTimeoutMs)) << child->Out();
    EXPECT_NE(Ask(port, "GET " + url + " HTTP/1.0\r\n\r\n").find("\r\n\r\nfetched"),
              std::string::npos);
    child->Signal(SIGTERM);
    EXPECT_EQ(child->Wait(kRunTimeoutMs), 0) << child->Err();
}

TEST_F(KelvracServe, AGetWhileServeRunsHandsItsUrlsOver) {
    test::TestOrigin origin([](const test::Request&) {
        return test::Reply().Send(
            test::HttpResponse("HTTP/1.1 200 OK", "handed", "Content-Type: text/plain\r\n"));
    });
    const int fixed = FreePort();
    ASSERT_GT(fixed, 0);
    WriteIni("[General]\nBaseDirectory=" + data_ + "\n[Orvane]\nPort=" + std::to_string(fixed) +
             "\n");
    int port = 0;
    auto child = Serve({"serve", "1"}, port);
    ASSERT_EQ(port, fixed) << child->Out() << child->Err();

    std::string out;
    std::string err;
    EXPECT_EQ(Run({"get", "-c", "2", origin.Url("/a.txt")}, &out, &err), 2);
    EXPECT_NE(err.find("per-run options"), std::string::npos) << err;
    EXPECT_EQ(Run({"serve", "1"}, &out, &err), 2);
    EXPECT_NE(err.find("another instance"), std::string::npos) << err;

    ASSERT_EQ(Run({"get", origin.Url("/a.txt")}, &out, &err), 0) << out << err;
    EXPECT_NE(out.find("1 of 1 URLs handed to it on port " + std::to_string(fixed)),
              std::string::npos)
        << out;
    ASSERT_TRUE(child->WaitForOutput(kCrawlDone, kRunTimeoutMs)) << child->Out();
    EXPECT_NE(Ask(port, "GET " + origin.Url("/a.txt") + " HTTP/1.0\r\n\r\n").find("\r\n\r\nhanded"),
              std::string::npos);
    child->Signal(SIGINT);
    EXPECT_EQ(child->Wait(kRunTimeoutMs), 0) << child->Err();
}

TEST_F(KelvracServe, AStoppedModeIsNothingToServe) {
    std::string err;
    EXPECT_EQ(Run({"serve", "0"}, nullptr, &err), 2);
    EXPECT_EQ(Run({"serve"}, nullptr, &err), 2) << "RunAtStart is 0 by default";
    EXPECT_NE(err.find("serve needs a server mode"), std::string::npos) << err;
    WriteIni("[General]\nBaseDirectory=" + data_ + "\n[Orvane]\nPort=0\nRunAtStart=7\n");
    EXPECT_EQ(Run({"serve"}, nullptr, &err), 2) << "7 is no mode, so nothing is served";
}

}  // namespace
}  // namespace kelvra::testing
