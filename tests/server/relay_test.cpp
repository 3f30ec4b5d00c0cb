// The proxy modes: relaying to the test origin (or through an upstream proxy) and storing.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "server/answers.h"
#include "server_fixture.h"
#include "support/test_origin.h"

namespace kelvra::server::testing {
namespace {

using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::TestOrigin;

const char kDate[] = "Sun, 06 Nov 1994 08:49:37 GMT";

class RelayTest : public ServerTest {
  protected:
    std::string Own() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Stored(const std::string& url) {
        store::treelistnode* node = store_->FindRecord(url);
        if (node == nullptr) return "<none>";
        std::string path;
        store_->GetNodeLocalPath(node, path);
        return ReadFileText(path);
    }
};

TEST_F(RelayTest, ConnectionLinesAreRewrittenBothWays) {
    TestOrigin origin({Reply().Send(
        HttpResponse("HTTP/1.1 200 OK", "hello", "Connection: keep-alive\r\nX-A: 1\r\n"))});
    Start(kModeProxy);
    RawClient client(port_);
    ASSERT_TRUE(client.Send("GET " + origin.Url("/a?q") +
                            " HTTP/1.0\r\nHost: " + origin.HostPort() +
                            "\r\nProxy-Connection: Keep-Alive\r\nConnection: close\r\nX-B: "
                            "2\r\n\r\n"));
    const std::string answer =
        "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 5\r\nProxy-Connection: "
        "Keep-Alive\r\n\r\nhello";
    std::string got;
    ASSERT_TRUE(client.ReadAtLeast(got, answer.size()));
    EXPECT_EQ(got, answer);
    ASSERT_TRUE(origin.WaitForRequests(1));
    EXPECT_EQ(origin.Requests().at(0).bytes, "GET /a?q HTTP/1.0\r\nHost: " + origin.HostPort() +
                                                 "\r\nX-B: 2\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST_F(RelayTest, WithoutKeepAliveNothingIsAddedAndTheBrowserIsClosed) {
    TestOrigin origin({Reply().Send(HttpResponse("HTTP/1.0 200 OK", "x"))});
    Start(kModeProxy);
    EXPECT_EQ(Ask("GET " + origin.Url("/") + " HTTP/1.0\r\nConnection: close\r\n\r\n"),
              "HTTP/1.0 200 OK\r\nContent-Length: 1\r\nProxy-Connection: Close\r\n\r\nx");
    EXPECT_EQ(origin.Requests().at(0).bytes, "GET / HTTP/1.0\r\n\r\n");
}

TEST_F(RelayTest, UnreachableOriginGivesTheBadGatewayPage) {
    int free_port;
    {
        TestOrigin gone(std::vector<Reply>{});
        free_port = gone.Port();
    }
    Start(kModeProxy);
    const std::string target = "http://127.0.0.1:" + std::to_string(free_port) + "/x";
    EXPECT_EQ(Ask("GET " + target + " HTTP/1.0\r\n\r\n"), RelayFailedPage(Own(), target));
    // a name that does not resolve, likewise
    EXPECT_EQ(Ask("GET http://nohost.invalid/ HTTP/1.0\r\n\r\n"),
              RelayFailedPage(Own(), "http://nohost.invalid/"));
}

TEST_F(RelayTest, ARequestForTheServerItselfIsNotRelayedToItself) {
    Start(kModeProxy);
    const std::string target = "http://127.0.0.1:" + std::to_string(port_) + "/page";
    EXPECT_EQ(Ask("GET " + target + " HTTP/1.0\r\n\r\n"), RelayFailedPage(Own(), target));
}

TEST_F(RelayTest, OriginThatHangsIsGivenUpAfterGetTimeout) {
    settings_.get_timeout = 1;
    TestOrigin origin({Reply().Hold()});
    Start(kModeProxy);
    const std::string target = origin.Url("/slow");
    EXPECT_EQ(Ask("GET " + target + " HTTP/1.0\r\n\r\n"), RelayFailedPage(Own(), target));
}

TEST_F(RelayTest, OriginThatNeverReadsTheBodyIsGivenUpAfterGetTimeout) {
    settings_.get_timeout = 1;
    // The origin accepts and then reads nothing until the test lets it go.
    struct Gate {
        std::mutex mutex;
        std::condition_variable cv;
        bool open = false;
    } gate;
    TestOrigin origin([&gate](kelvra::test::Connection&) {
        std::unique_lock lock(gate.mutex);
        gate.cv.wait(lock, [&] { return gate.open; });
    });
    struct Opener {
        Gate& gate;
        ~Opener() {
            std::lock_guard lock(gate.mutex);
            gate.open = true;
            gate.cv.notify_all();
        }
    } opener{gate};
    Start(kModeProxy);
    constexpr std::size_t kBody = 64 << 20;  // far more than both socket buffers hold
    RawClient client(port_);
    ASSERT_TRUE(client.Send("POST " + origin.Url("/upload") +
                            " HTTP/1.0\r\nContent-Length: " + std::to_string(kBody) + "\r\n\r\n"));
    std::thread uploader([&] {
        const std::string block(1 << 16, 'u');
        for (std::size_t sent = 0; sent < kBody && client.Send(block); sent += block.size()) {
        }
    });
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(monitor_.WaitForText(kColumnState, "Closed", 15000));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
    uploader.join();  // the server closed, so the uploader's sends fail
}

TEST_F(RelayTest, BytesWithoutACompleteHeaderArePassedOnUnchanged) {
    TestOrigin origin({Reply().Send("HTTP/1.0 200 OK\r\nX-Cut").Close()});
    Start(kModeProxy);
    EXPECT_EQ(Ask("GET " + origin.Url("/") + " HTTP/1.0\r\n\r\n"), "HTTP/1.0 200 OK\r\nX-Cut");
}

TEST_F(RelayTest, RequestBodyIsRelayed) {
    TestOrigin origin({Reply().Send(HttpResponse("HTTP/1.0 200 OK", "posted"))});
    Start(kModeProxy);
    RawClient client(port_);
    // The body comes in two pieces; the request is relayed once it is all there.
    ASSERT_TRUE(
        client.Send("POST " + origin.Url("/form") + " HTTP/1.0\r\nContent-Length: 14\r\n\r\nname"));
    ASSERT_TRUE(client.Send("=value&x=1"));
    EXPECT_NE(client.ReadAll().find("posted"), std::string::npos);
    EXPECT_EQ(origin.Requests().at(0).Body(), "name=value&x=1");
}

TEST_F(RelayTest, UnknownMethodIsRelayedEvenInLocalMode) {
    TestOrigin origin({Reply().Send(HttpResponse("HTTP/1.0 200 OK", ""))});
    Start(kModeLocal);
    Ask("OPTIONS " + origin.Url("/o") + " HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(origin.WaitForRequests(1));
    EXPECT_EQ(origin.Requests().at(0).RequestLine(), "OPTIONS /o HTTP/1.0");
}

TEST_F(RelayTest, UpstreamProxyGetsTheAbsoluteTarget) {
    TestOrigin proxy({Reply().Send(HttpResponse("HTTP/1.0 200 OK", "via proxy"))});
    settings_.http_proxy.host = "127.0.0.1";
    settings_.http_proxy.port = proxy.Port();
    Start(kModeProxy);
    const std::string answer =
        Ask("GET http://www.example.invalid/p HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n\r\n");
    EXPECT_NE(answer.find("via proxy"), std::string::npos);
    ASSERT_TRUE(proxy.WaitForRequests(1));
    EXPECT_EQ(proxy.Requests().at(0).bytes,
              "GET http://www.example.invalid/p HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n\r\n");
}

TEST_F(RelayTest, ProxyModeTwoStoresWhatItRelays) {
    TestOrigin origin({Reply().Send(HttpResponse("HTTP/1.0 200 OK", "<b>fresh</b>",
                                                 std::string("Content-Type: text/html\r\n"
                                                             "Last-Modified: ") +
                                                     kDate + "\r\n"))});
    Start(kModeProxy2);
    // read up to the close: the commit follows the last byte to the browser
    EXPECT_NE(Ask("GET " + origin.Url("/s.html") + " HTTP/1.0\r\n\r\n").find("<b>fresh</b>"),
              std::string::npos);
    EXPECT_EQ(Stored(origin.Url("/s.html")), "<b>fresh</b>");
    // Local Mode now answers it without the origin
    server_->SetMode(kModeLocal);
    EXPECT_EQ(Curl(port_, origin.Url("/s.html")), "<b>fresh</b>");
    EXPECT_EQ(origin.Requests().size(), 1u);
}

TEST_F(RelayTest, AnAnswerThatCannotBeStoredIsStillRelayedAndReported) {
    TestOrigin origin({Reply().Send(HttpResponse("HTTP/1.0 200 OK", "kept"))});
    // a plain file where the data directory was: nothing can be stored
    std::filesystem::remove_all(dir_.Path());
    WriteFileText(dir_.Path(), "not a directory");
    Start(kModeProxy2);
    EXPECT_NE(Ask("GET " + origin.Url("/d/y.txt") + " HTTP/1.0\r\n\r\n").find("kept"),
              std::string::npos);
    EXPECT_TRUE(monitor_.WaitForStoreFailure(origin.Url("/d/y.txt")));
    EXPECT_EQ(Stored(origin.Url("/d/y.txt")), "<none>");
}

TEST_F(RelayTest, OneWorkerStoresAShortAnswerAfterALongOneWithNothingOfTheFirst) {
    const std::string long_body(20000, 'L');
    TestOrigin origin({Reply().Send(HttpResponse("HTTP/1.0 200 OK", long_body)),
                       // no length: the body is whatever the file holds after the header
                       Reply().Send("HTTP/1.0 200 OK\r\n\r\nshort").Close()});
    settings_.threads = 1;  // the same worker, and so the same temporary file, stores both
    Start(kModeProxy2);
    Ask("GET " + origin.Url("/long.txt") + " HTTP/1.0\r\n\r\n");
    Ask("GET " + origin.Url("/short.txt") + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Stored(origin.Url("/long.txt")), long_body);
    EXPECT_EQ(Stored(origin.Url("/short.txt")), "short");
}

TEST_F(RelayTest, ChunkedAnswerIsPassedOnRawAndStoredDecoded) {
    const std::string body = kelvra::test::ChunkedBody({"abc", "defg"});
    TestOrigin origin(
        {Reply().Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + body)});
    Start(kModeProxy2);
    EXPECT_EQ(
        Ask("GET " + origin.Url("/c.txt") + " HTTP/1.0\r\n\r\n"),
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nProxy-Connection: Close\r\n\r\n" + body);
    EXPECT_EQ(Stored(origin.Url("/c.txt")), "abcdefg");
}

TEST_F(RelayTest, ProxyModeStoresNothingAndTakesNoIfModifiedSinceOut) {
    TestOrigin origin({Reply().Send(HttpResponse("HTTP/1.0 200 OK", "x"))});
    Start(kModeProxy);
    Ask("GET " + origin.Url("/n") + " HTTP/1.0\r\nIf-Modified-Since: " + kDate + "\r\n\r\n");
    EXPECT_EQ(Stored(origin.Url("/n")), "<none>");
    EXPECT_NE(origin.Requests().at(0).bytes.find("If-Modified-Since"), std::string::npos);
}

TEST_F(RelayTest, ProxyModeTwoRemovesIfModifiedSinceSoTheBodyCanBeStored) {
    TestOrigin origin({Reply().Send(HttpResponse("HTTP/1.0 200 OK", "x"))});
    Start(kModeProxy2);
    Ask("GET " + origin.Url("/n") + " HTTP/1.0\r\nIf-Modified-Since: " + kDate + "\r\n\r\n");
    EXPECT_EQ(origin.Requests().at(0).bytes, "GET /n HTTP/1.0\r\n\r\n");
}

TEST_F(RelayTest, PostIsStoredOnlyWithSavePost) {
    TestOrigin origin([](const kelvra::test::Request&) {
        return Reply().Send(HttpResponse("HTTP/1.0 200 OK", "form answer"));
    });
    Start(kModeProxy2);
    const std::string post =
        "POST " + origin.Url("/cgi") + " HTTP/1.0\r\nContent-Length: 3\r\n\r\na=1";
    EXPECT_NE(Ask(post).find("form answer"), std::string::npos);
    EXPECT_EQ(Stored(origin.Url("/cgi?a=1")), "<none>");

    server_.reset();
    settings_.save_post = true;
    Start(kModeProxy2);
    Ask(post);
    EXPECT_EQ(Stored(origin.Url("/cgi?a=1")), "form answer");
}

// An answer that names its local file, even one of another host stored before, is stored
// under the name its own URL gives; the other host's copy stays.
TEST_F(RelayTest, AnOriginMayNotChooseTheLocalFileName) {
    TestOrigin victim({Reply().Send(HttpResponse("HTTP/1.0 200 OK", "victim"))});
    const std::string victim_file = "127.0.0.1_" + std::to_string(victim.Port()) + "/a.html";
    Start(kModeProxy2);
    Ask("GET " + victim.Url("/a.html") + " HTTP/1.0\r\n\r\n");
    for (const std::string line : {"XF: ", "X-Fn: "}) {
        TestOrigin origin(
            {Reply().Send(HttpResponse("HTTP/1.0 200 OK", line, line + victim_file + "\r\n"))});
        EXPECT_NE(Ask("GET " + origin.Url("/fn") + " HTTP/1.0\r\n\r\n").find(victim_file),
                  std::string::npos);
        EXPECT_EQ(Stored(origin.Url("/fn")), line);
        EXPECT_EQ(Stored(victim.Url("/a.html")), "victim") << line;
    }
}

class DataUseTest : public RelayTest {
  protected:
    void SetUp() override {
        RelayTest::SetUp();
        origin_ = std::make_unique<TestOrigin>(
            [this](const kelvra::test::Request&) { return Reply().Send(next_answer_); });
        url_ = origin_->Url("/d.html");
        Put(url_, std::string("CT:text/html\nLM:") + kDate + "\n", "<i>stored</i>");
    }
    std::unique_ptr<TestOrigin> origin_;
    std::string next_answer_ = HttpResponse("HTTP/1.0 200 OK", "<i>new</i>");
    std::string url_;
};

TEST_F(DataUseTest, AlwaysUseAnswersStoredObjectsWithoutTheOrigin) {
    Start(kModeProxy | kUseSpoolAlways);
    EXPECT_EQ(Curl(port_, url_), "<i>stored</i>");
    EXPECT_EQ(origin_->Connections(), 0);
    // a reload from the browser still relays
    EXPECT_EQ(Curl(port_, "-H 'Pragma: no-cache' " + url_), "<i>new</i>");
    EXPECT_EQ(origin_->Requests().size(), 1u);
}

TEST_F(DataUseTest, UpdateCheckSendsTheStoredDateAndAnswers304WithTheStoredObject) {
    next_answer_ = "HTTP/1.0 304 Not Modified\r\n\r\n";
    Start(kModeProxy2 | kUseSpoolCheck);
    EXPECT_EQ(Curl(port_, url_), "<i>stored</i>");
    ASSERT_EQ(origin_->Requests().size(), 1u);
    const std::string sent = origin_->Requests().at(0).bytes;
    EXPECT_EQ(sent.substr(0, sent.find("\r\n") + 2), "GET /d.html HTTP/1.1\r\n");
    EXPECT_EQ(sent.substr(sent.find("\r\n") + 2, 50),
              std::string("If-Modified-Since: ") + kDate + "\r\n");
}

TEST_F(DataUseTest, UpdateCheckPassesOnAndStoresANewerObject) {
    Start(kModeProxy2 | kUseSpoolCheck);
    EXPECT_NE(Ask("GET " + url_ + " HTTP/1.0\r\n\r\n").find("<i>new</i>"), std::string::npos);
    EXPECT_EQ(Stored(url_), "<i>new</i>");
}

TEST_F(DataUseTest, ProxyModeThreeKeepsTheOldVersion) {
    Start(kModeProxy3);
    EXPECT_NE(Ask("GET " + url_ + " HTTP/1.0\r\n\r\n").find("<i>new</i>"), std::string::npos);
    EXPECT_EQ(Stored(url_), "<i>new</i>");
    int backups = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.Path())) {
        if (entry.path().filename().string().rfind("d_", 0) == 0) {
            ++backups;
            EXPECT_EQ(ReadFileText(entry.path()), "<i>stored</i>");
        }
    }
    EXPECT_EQ(backups, 1);
}

TEST_F(RelayTest, ConnectTunnelsInProxyModesOnly) {
    TestOrigin origin([](kelvra::test::Connection& connection) {
        std::string got;
        if (connection.ReadUntil("ping", got)) connection.Send("pong");
        connection.WaitForClientClose();
    });
    settings_.connect_ports = {origin.Port()};
    Start(kModeProxy);
    RawClient client(port_);
    ASSERT_TRUE(client.Send("CONNECT " + origin.HostPort() +
                            " HTTP/1.1\r\nHost: " + origin.HostPort() + "\r\n\r\n"));
    const std::string established = "HTTP/1.0 200 Connection established\r\n\r\n";
    std::string got;
    ASSERT_TRUE(client.ReadAtLeast(got, established.size()));
    EXPECT_EQ(got, established);
    ASSERT_TRUE(client.Send("ping"));
    got.clear();
    ASSERT_TRUE(client.ReadAtLeast(got, 4));
    EXPECT_EQ(got, "pong");
    client.Close();

    server_->SetMode(kModeLocal);
    EXPECT_EQ(Ask("CONNECT " + origin.HostPort() + " HTTP/1.1\r\n\r\n"),
              RelayFailedPage(Own(), origin.HostPort()));
}

TEST_F(RelayTest, ConnectReachesNoPortButTheTlsOneAndTheListed) {
    TestOrigin origin({Reply().Send("not TLS")});
    Start(kModeProxy);
    EXPECT_EQ(Ask("CONNECT " + origin.HostPort() + " HTTP/1.1\r\n\r\n"), ProhibitedPage("403"));
    EXPECT_EQ(origin.Connections(), 0);
}

TEST_F(RelayTest, ATunnelIdleBothWaysIsClosedAfterGetTimeout) {
    settings_.get_timeout = 1;
    TestOrigin origin(
        [](kelvra::test::Connection& connection) { connection.WaitForClientClose(); });
    settings_.connect_ports = {origin.Port()};
    Start(kModeProxy);
    RawClient client(port_);
    ASSERT_TRUE(client.Send("CONNECT " + origin.HostPort() + " HTTP/1.1\r\n\r\n"));
    std::string got;
    ASSERT_TRUE(client.ReadAtLeast(got, 10));
    EXPECT_EQ(client.WaitForClose(5000), 1);
}

}  // namespace
}  // namespace kelvra::server::testing
