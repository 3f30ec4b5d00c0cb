// Load and misbehaving clients: the pool is never exhausted for good and never crashes.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "server_fixture.h"
#include "support/test_origin.h"

namespace kelvra::server::testing {
namespace {

class FaultsTest : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        Put("http://h/ok.html", "CT:text/html\n", "fine");
    }
    bool Works() {
        return Ask("GET http://h/ok.html HTTP/1.0\r\n\r\n").find("\r\n\r\nfine") !=
               std::string::npos;
    }
    // Asks for keep-alive and reads the start of the answer: the client now holds a worker.
    static bool HoldWorker(RawClient& client) {
        std::string got;
        return client.Send(
                   "GET http://h/ok.html HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n\r\n") &&
               client.ReadAtLeast(got, 10);
    }
};

TEST_F(FaultsTest, ThreadsZeroOrAboveTwentyGiveTwenty) {
    EXPECT_EQ(WorkerCount(0), 20);
    EXPECT_EQ(WorkerCount(25), 20);
    EXPECT_EQ(WorkerCount(1), 1);
    EXPECT_EQ(WorkerCount(20), 20);
    settings_.threads = 25;
    Start(kModeLocal);
    EXPECT_EQ(server_->Workers(), 20);
}

// Threads of this process, as the kernel lists them.
int ThreadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

// A console crawl makes the server without ever serving: its workers' threads come with the
// first listener, once, and a restart reuses them.
TEST_F(FaultsTest, WorkerThreadsStartWithTheFirstListenerOnly) {
    const int before = ThreadCount();
    server_ = std::make_unique<HtmlServer>(*store_, settings_, monitor_, dir_.Path("prohibit.orv"));
    EXPECT_EQ(ThreadCount(), before);
    ASSERT_TRUE(server_->Start(0, kModeLocal, {}));
    port_ = server_->Port();
    EXPECT_EQ(ThreadCount(), before + settings_.threads);
    server_->Stop();
    ASSERT_TRUE(server_->Start(0, kModeLocal, {}));
    port_ = server_->Port();
    EXPECT_EQ(ThreadCount(), before + settings_.threads);
    EXPECT_TRUE(Works());
    server_.reset();
    EXPECT_EQ(ThreadCount(), before);
}

TEST_F(FaultsTest, StalledHeaderIsDroppedAfterKeepAlive) {
    settings_.keep_alive = 1;
    Start(kModeLocal);
    RawClient client(port_);
    ASSERT_TRUE(client.Send("GET http://h/ok.html HTTP/1.0\r\nX-Trickle: "));
    EXPECT_EQ(client.WaitForClose(5000), 1);
}

TEST_F(FaultsTest, KeepAliveZeroStillWaitsASecondForTheFirstRequestButNotForever) {
    settings_.keep_alive = 0;
    Start(kModeLocal);
    RawClient silent(port_);
    EXPECT_EQ(silent.WaitForClose(5000), 1);
    RawClient late(port_);
    ASSERT_TRUE(late.Send("GET http://h/ok.html HTTP/1.0\r\n"));
    ASSERT_TRUE(late.Send("\r\n"));
    EXPECT_NE(late.ReadAll().find("fine"), std::string::npos);
}

// A worker is busy only while it does something for its client: here both relay to an
// origin that never answers.
TEST_F(FaultsTest, AllWorkersBusyMakesNewConnectionsWaitInTheBacklog) {
    settings_.threads = 2;
    settings_.get_timeout = 30;
    test::TestOrigin origin({test::Reply().Hold(), test::Reply().Hold()});
    Start(kModeProxy | kUseSpoolAlways);  // stored objects from the spool, the rest relayed
    RawClient a(port_), b(port_);
    ASSERT_TRUE(a.Send("GET " + origin.Url("/a") + " HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(b.Send("GET " + origin.Url("/b") + " HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(origin.WaitForRequests(2));
    RawClient waiting(port_);
    ASSERT_TRUE(waiting.Send("GET http://h/ok.html HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(waiting.WaitForClose(300), 0);  // not served while both workers relay
    a.Close();
    EXPECT_NE(waiting.ReadAll().find("fine"), std::string::npos);
}

// Workers waiting for an origin or for a client that does not read keep no other connection
// from being answered as long as one of the Threads is left, however few processors there are.
TEST_F(FaultsTest, WorkersBlockedInSlowStepsLeaveTheLastOneServing) {
    settings_.threads = 5;
    settings_.get_timeout = 30;
    // Far more than the socket buffers of both ends hold.
    Put("http://h/huge.bin", "CT:application/octet-stream\n", std::string(32 << 20, 'x'));
    test::TestOrigin origin({test::Reply().Hold(), test::Reply().Hold()});
    Start(kModeProxy | kUseSpoolAlways);
    RawClient a(port_), b(port_), reader(port_), other_reader(port_);
    ASSERT_TRUE(a.Send("GET " + origin.Url("/a") + " HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(b.Send("GET " + origin.Url("/b") + " HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(origin.WaitForRequests(2));
    for (RawClient* client : {&reader, &other_reader}) {
        std::string start;
        ASSERT_TRUE(client->Send("GET http://h/huge.bin HTTP/1.0\r\n\r\n"));
        ASSERT_TRUE(client->ReadAtLeast(start, 10));
    }
    EXPECT_TRUE(Works());
}

// Ten clients that send nothing, or stop halfway, against four workers: none holds a worker, so
// a normal request is answered at once, and each of them is answered once its request is whole.
TEST_F(FaultsTest, SlowAndIdleClientsHoldNoWorker) {
    settings_.threads = 4;
    settings_.keep_alive = 30;
    Put("http://h/form?a=1", "CT:text/html\n", "fine");
    Start(kModeLocal);
    const std::string get = "GET http://h/ok.html HTTP/1.0\r\n\r\n";
    const std::string kept =
        "GET http://h/ok.html HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n\r\n";
    struct Halves {
        std::string first, rest;
    };
    const Halves ways[] = {
        {"", get},                                                 // connected, silent
        {"GET http://h/ok.html HT", "TP/1.0\r\n\r\n"},             // stops in the request line
        {"GET http://h/ok.html HTTP/1.0\r\nHost: h\r\n", "\r\n"},  // before the blank line
        {"POST http://h/form HTTP/1.0\r\nContent-Length: 3\r\n\r\na=", "1"},  // mid-body
        {kept, get},  // kept alive after its answer, idle
    };
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 10; ++i) {
        slow.push_back(std::make_unique<RawClient>(port_));
        ASSERT_TRUE(slow.back()->Send(ways[i % std::size(ways)].first));
    }
    EXPECT_TRUE(Works());
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(slow[static_cast<std::size_t>(i)]->Send(ways[i % std::size(ways)].rest));
        EXPECT_NE(slow[static_cast<std::size_t>(i)]->ReadAll().find("\r\n\r\nfine"),
                  std::string::npos)
            << i;
    }
}

TEST_F(FaultsTest, AFullWaitingRoomClosesTheConnectionNearestItsDeadline) {
    settings_.keep_alive = 30;
    Start(kModeLocal);
    const std::string partial = "GET http://h/ok.html HTTP/1.0\r\n";
    RawClient oldest(port_);
    ASSERT_TRUE(oldest.Send(partial));
    ASSERT_TRUE(monitor_.WaitForText(kColumnState, "EndThread"));  // it waits now
    std::vector<std::unique_ptr<RawClient>> later;
    for (int i = 0; i < kMaxWaitingConnections; ++i) {
        later.push_back(std::make_unique<RawClient>(port_));
        ASSERT_TRUE(later.back()->Send(partial));
    }
    EXPECT_EQ(oldest.WaitForClose(5000), 1);
    ASSERT_TRUE(later.back()->Send("\r\n"));
    EXPECT_NE(later.back()->ReadAll().find("fine"), std::string::npos);
    EXPECT_TRUE(Works());
}

// Opens a connection per request to port from one non-blocking loop, at most connecting of
// them still connecting at a time, sends each its request once connected and reads every answer up
// to the server's close. A connection attempt whose SYN the full listen queue dropped is
// started afresh after retry_ms, as a browser does, rather than waiting for the kernel's
// second. All connections stay open until every one is answered or deadline_ms passes.
std::vector<std::string> ConcurrentRequests(int port, const std::vector<std::string>& requests,
                                            int connecting, int deadline_ms) {
    const int count = static_cast<int>(requests.size());
    using Clock = std::chrono::steady_clock;
    constexpr auto kRetry = std::chrono::milliseconds(250);
    struct Client {
        int fd = -1;
        Clock::time_point started;
        bool connected = false;
        bool done = false;
        std::string answer;
    };
    std::vector<Client> clients(static_cast<std::size_t>(count));
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto start = [&](Client& client) {
        if (client.fd >= 0) ::close(client.fd);
        client.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        client.started = Clock::now();
        ::connect(client.fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    };
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadline_ms);
    int opened = 0, in_progress = 0, finished = 0;
    while (finished < count && Clock::now() < deadline) {
        for (; opened < count && in_progress < connecting; ++opened, ++in_progress) {
            start(clients[static_cast<std::size_t>(opened)]);
        }
        std::vector<pollfd> polled;
        std::vector<Client*> owners;
        for (int i = 0; i < opened; ++i) {
            Client& client = clients[static_cast<std::size_t>(i)];
            if (client.done) continue;
            if (!client.connected && Clock::now() - client.started > kRetry) start(client);
            polled.push_back(
                {client.fd, static_cast<short>(client.connected ? POLLIN : POLLOUT), 0});
            owners.push_back(&client);
        }
        if (::poll(polled.data(), polled.size(), 50) < 0) break;
        for (std::size_t i = 0; i < polled.size(); ++i) {
            Client& client = *owners[i];
            if (polled[i].revents == 0) continue;
            if (!client.connected) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(client.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                --in_progress;
                client.connected = true;
                const std::string& request =
                    requests[static_cast<std::size_t>(&client - clients.data())];
                client.done =
                    error != 0 || ::send(client.fd, request.data(), request.size(), MSG_NOSIGNAL) !=
                                      static_cast<ssize_t>(request.size());
                finished += client.done;
                continue;
            }
            char block[4096];
            const ssize_t n = ::recv(client.fd, block, sizeof block, 0);
            if (n > 0) {
                client.answer.append(block, static_cast<std::size_t>(n));
            } else {
                client.done = true;
                ++finished;
            }
        }
    }
    std::vector<std::string> answers;
    for (Client& client : clients) {
        answers.push_back(client.done ? client.answer : "<unanswered>");
        if (client.fd >= 0) ::close(client.fd);
    }
    return answers;
}

TEST_F(FaultsTest, ManyMoreConnectionsThanWorkersAreAllAnswered) {
    settings_.threads = 20;
    Start(kModeLocal);
    // 25 times the workers, up to 30 connecting at once: more than the idle workers and the
    // listen queue take, so connections wait in the queue and some are dropped and retried
    const std::vector<std::string> answers = ConcurrentRequests(
        port_, std::vector<std::string>(500, "GET http://h/ok.html HTTP/1.0\r\n\r\n"), 30, 25000);
    int answered = 0;
    for (const std::string& answer : answers) answered += answer.ends_with("\r\n\r\nfine");
    EXPECT_EQ(answered, 500);
    // no worker was lost: twenty kept connections are served at once
    std::vector<std::unique_ptr<RawClient>> kept;
    for (int i = 0; i < 20; ++i) {
        kept.push_back(std::make_unique<RawClient>(port_));
        kept.back()->Send("GET http://h/ok.html HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n\r\n");
    }
    for (auto& client : kept) {
        std::string got;
        EXPECT_TRUE(client->ReadAtLeast(got, 60));
    }
}

TEST_F(FaultsTest, ClientsLeavingMidHeaderOrMidBody) {
    settings_.threads = 20;
    Start(kModeLocal);
    for (int i = 0; i < 30; ++i) {
        RawClient header(port_);
        header.Send("GET http://h/ok.html HTTP/1.0\r\nHost: h");
        RawClient body(port_);
        body.Send("POST http://h/ok.html HTTP/1.0\r\nContent-Length: 100000\r\n\r\nabc");
    }
    EXPECT_TRUE(Works());
}

TEST_F(FaultsTest, FloodOfMalformedRequests) {
    settings_.threads = 20;
    settings_.keep_alive = 1;
    Start(kModeLocal);
    std::mt19937 random(7);
    const std::string pieces[] = {"GET ",
                                  "POST ",
                                  "HEAD ",
                                  "http://",
                                  "h/",
                                  "\r\n",
                                  "\n",
                                  " ",
                                  "Content-Length: ",
                                  "-1",
                                  "99999999999999999999",
                                  std::string(1, '\0'),
                                  "%",
                                  "%2e",
                                  "..",
                                  "/",
                                  "Connection: Keep-Alive",
                                  ":",
                                  "\xff",
                                  "Transfer-Encoding: chunked",
                                  "mode=",
                                  "*3",
                                  "?",
                                  "get"};
    // every fifth request is well-formed and must be answered among the malformed ones
    const std::string good = "GET http://h/ok.html HTTP/1.0\r\n\r\n";
    std::vector<std::string> requests;
    for (int i = 0; i < 200; ++i) {
        std::string request;
        const int count = 1 + static_cast<int>(random() % 30);
        for (int p = 0; p < count; ++p) request += pieces[random() % std::size(pieces)];
        if (random() % 2) request += "\r\n\r\n";
        requests.push_back(i % 5 == 4 ? good : request);
    }
    const std::vector<std::string> answers = ConcurrentRequests(port_, requests, 30, 25000);
    for (std::size_t i = 4; i < answers.size(); i += 5) {
        EXPECT_TRUE(answers[i].ends_with("\r\n\r\nfine")) << i << ": " << answers[i];
    }
    EXPECT_TRUE(Works());
    EXPECT_EQ(server_->GetMode() & kModeBaseMask, kModeLocal) << "only a valid command changes it";
}

TEST_F(FaultsTest, ModeSetWhileAConnectionIsServedStays) {
    settings_.keep_alive = 30;
    Start(kModeLocal);
    RawClient client(port_);
    ASSERT_TRUE(HoldWorker(client));
    server_->SetMode(kModeProxy2);
    client.Close();
    ASSERT_TRUE(monitor_.WaitForText(kColumnState, "EndThread"));
    EXPECT_EQ(server_->GetMode(), kModeProxy2);
}

TEST_F(FaultsTest, StopEndsListeningAndStartListensAgain) {
    Start(kModeLocal);
    ASSERT_TRUE(Works());
    // every idle worker waits in accept(): Stop must get them all out at once
    const auto begin = std::chrono::steady_clock::now();
    server_->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(500));
    EXPECT_EQ(server_->GetMode(), 0u);
    EXPECT_EQ(server_->Port(), 0);
    EXPECT_FALSE(RawClient(port_).ok());
    ASSERT_TRUE(server_->Start(0, kModeLocal, {}));
    port_ = server_->Port();
    EXPECT_TRUE(Works());
    // a port already taken leaves the server stopped
    HtmlServer other(*store_, settings_, monitor_, dir_.Path("prohibit.orv"));
    EXPECT_FALSE(other.Start(port_, kModeLocal, {}));
    EXPECT_EQ(other.GetMode(), 0u);
}

TEST_F(FaultsTest, AModeValueTheServerDoesNotKnowAnswersNothing) {
    HtmlServer unknown(*store_, settings_, monitor_, dir_.Path("prohibit.orv"));
    EXPECT_FALSE(unknown.Start(0, 7, {}));
    EXPECT_EQ(unknown.Port(), 0);
    Start(kModeLocal);
    server_->SetMode(7);
    EXPECT_EQ(Ask("GET http://h/ok.html HTTP/1.0\r\n\r\n"), "");
}

TEST_F(FaultsTest, DestroyingTheServerCutsConnectionsBeingServed) {
    settings_.keep_alive = 60;
    Start(kModeLocal);
    RawClient client(port_);
    ASSERT_TRUE(HoldWorker(client));
    const auto begin = std::chrono::steady_clock::now();
    server_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    EXPECT_EQ(client.WaitForClose(1000), 1);
}

}  // namespace
}  // namespace kelvra::server::testing
