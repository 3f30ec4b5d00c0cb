// Local Mode: answers from the spool, byte for byte.

#include <gtest/gtest.h>

#include <filesystem>

#include "net/message_reader.h"
#include "server/answers.h"
#include "server_fixture.h"

namespace kelvra::server::testing {
namespace {

const char kDate[] = "Sun, 06 Nov 1994 08:49:37 GMT";

class LocalModeTest : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        Put("http://h/page.html", std::string("CT:text/html\nLM:") + kDate + "\n", "<p>stored</p>");
    }
    std::string Own() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string NotFound(const std::string& target) const {
        return NotInSpoolPage(404, Own(), target, "", target);
    }
};

TEST_F(LocalModeTest, StoredObjectWithItsRecordHeader) {
    Start(kModeLocal);
    EXPECT_EQ(Ask("GET http://h/page.html HTTP/1.0\r\n\r\n"),
              std::string("HTTP/1.0 200 OK\r\nLast-modified: ") + kDate +
                  "\r\nContent-type: text/html\r\nContent-length: 13\r\n\r\n<p>stored</p>");
}

TEST_F(LocalModeTest, HttpAddressReadsTheStoredHttpsCopy) {
    Put("https://s/secure.html", "CT:text/html\n", "<p>tls</p>");
    Start(kModeLocal);
    EXPECT_EQ(Ask("GET http://s/secure.html HTTP/1.0\r\n\r\n"),
              "HTTP/1.0 200 OK\r\nContent-type: text/html\r\nContent-length: 10\r\n\r\n<p>tls</p>");
}

TEST_F(LocalModeTest, HeadGetsTheSameHeaderWithoutBody) {
    Start(kModeLocal);
    EXPECT_EQ(Ask("HEAD http://h/page.html HTTP/1.0\r\n\r\n"),
              std::string("HTTP/1.0 200 OK\r\nLast-modified: ") + kDate +
                  "\r\nContent-type: text/html\r\nContent-length: 13\r\n\r\n");
}

TEST_F(LocalModeTest, StoredStatusIsSentAsRecorded) {
    Put("http://h/gone.html", "XR:404\nCT:text/html\n", "gone");
    Start(kModeLocal);
    EXPECT_EQ(Ask("GET http://h/gone.html HTTP/1.0\r\n\r\n"),
              "HTTP/1.0 404 \r\nContent-type: text/html\r\nContent-length: 4\r\n\r\ngone");
}

TEST_F(LocalModeTest, TypeFromTheExtensionWhenTheRecordHasNone) {
    Put("http://h/a.gif", "", "GIF89a");
    Start(kModeLocal);
    EXPECT_EQ(Ask("GET http://h/a.gif HTTP/1.0\r\n\r\n"),
              "HTTP/1.0 200 OK\r\nContent-type: image/gif\r\nContent-length: 6\r\n\r\nGIF89a");
}

TEST_F(LocalModeTest, IfModifiedSinceNotOlderGivesNotModified) {
    Start(kModeLocal);
    const std::string not_modified = NotModifiedPage(kDate);
    EXPECT_EQ(Ask(std::string("GET http://h/page.html HTTP/1.0\r\nIf-Modified-Since: ") + kDate +
                  "\r\n\r\n"),
              not_modified);
    EXPECT_EQ(Ask("GET http://h/page.html HTTP/1.0\r\nIf-Modified-Since: Mon, 07 Nov 1994 "
                  "00:00:00 GMT\r\n\r\n"),
              not_modified);
    // an older date gets the object
    EXPECT_NE(Ask("GET http://h/page.html HTTP/1.0\r\nIf-Modified-Since: Sat, 05 Nov 1994 "
                  "00:00:00 GMT\r\n\r\n")
                  .find("<p>stored</p>"),
              std::string::npos);
}

TEST_F(LocalModeTest, DirectoryUrlsRedirect) {
    Put("http://h/dir/index.html", "CT:text/html\n", "index");
    Put("http://h/other/", "CT:text/html\n", "other");
    Start(kModeLocal);
    EXPECT_EQ(Ask("GET http://h/dir HTTP/1.0\r\n\r\n"), RedirectPage("http://h/dir/index.html"));
    EXPECT_EQ(Ask("GET http://h/other HTTP/1.0\r\n\r\n"), RedirectPage("http://h/other/"));
    // a URL ending in '/' finds the index file
    EXPECT_NE(Ask("GET http://h/dir/ HTTP/1.0\r\n\r\n").find("\r\n\r\nindex"), std::string::npos);
}

TEST_F(LocalModeTest, NotInSpoolPage) {
    settings_.not_found_result = 200;
    Start(kModeLocal);
    EXPECT_EQ(Ask("GET http://h/missing.html HTTP/1.0\r\n\r\n"),
              NotInSpoolPage(200, Own(), "http://h/missing.html", "", "http://h/missing.html"));
}

TEST_F(LocalModeTest, NotInSpoolPageEchoesTheTargetAsTextNeverAsMarkup) {
    Start(kModeLocal);
    const std::string answer = Ask("GET http://h/x\"><script>alert(1)</script> HTTP/1.0\r\n\r\n");
    ASSERT_EQ(answer.rfind("HTTP/1.0 404 Object Not Found\r\n", 0), 0u) << answer;
    EXPECT_EQ(answer.find("<script>"), std::string::npos) << answer;
    EXPECT_NE(answer.find(">http://h/x&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;</A>"),
              std::string::npos)
        << answer;
}

TEST_F(LocalModeTest, PostFindsTheFormResultAndOffersItsGetLink) {
    Put("http://h/cgi?a=1&b=2", "CT:text/html\n", "result");
    Start(kModeLocal);
    EXPECT_NE(Ask("POST http://h/cgi?a=1 HTTP/1.0\r\nContent-length: 3\r\n\r\nb=2")
                  .find("\r\n\r\nresult"),
              std::string::npos);
    EXPECT_EQ(Ask("POST http://h/cgi HTTP/1.0\r\nContent-length: 3\r\n\r\nb=9"),
              NotInSpoolPage(404, Own(), "http://h/cgi", "*", "http://h/cgi?b=9"));
}

TEST_F(LocalModeTest, FilesWithoutRecordAndDirectories) {
    WriteFileText(dir_.Path("loose/note.txt"), "note");
    Start(kModeLocal);
    EXPECT_EQ(Ask("GET http://loose/note.txt HTTP/1.0\r\n\r\n"),
              "HTTP/1.0 200 OK\r\nContent-type: text/plain\r\nContent-length: 4\r\n\r\nnote");
    EXPECT_EQ(Ask("GET http://loose HTTP/1.0\r\n\r\n"), RedirectPage("http://loose/"));
}

// A record without its file is not stored; one whose file is not a plain file inside the data
// directory is refused without an answer.
TEST_F(LocalModeTest, RecordsWhoseFileIsGoneOrLeadsOutside) {
    kelvra::testing::TempDir outside;
    WriteFileText(outside.Path("secret.txt"), "SECRET");
    Put("http://h/gone.html", "CT:text/html\n", "gone");
    std::filesystem::remove(dir_.Path("h/gone.html"));
    Put("http://h/link.html", "CT:text/html\n", "");
    std::filesystem::remove(dir_.Path("h/link.html"));
    std::filesystem::create_symlink(outside.Path("secret.txt"), dir_.Path("h/link.html"));
    Put("http://h/folder.html", "CT:text/html\n", "");
    std::filesystem::remove(dir_.Path("h/folder.html"));
    std::filesystem::create_directories(dir_.Path("h/folder.html"));
    Start(kModeLocal);
    const std::pair<std::string, std::string> cases[] = {
        {"http://h/gone.html", NotFound("http://h/gone.html")},
        {"http://h/link.html", ""},
        {"http://h/folder.html", ""},
    };
    for (const auto& [target, answer] : cases) {
        EXPECT_EQ(Ask("GET " + target + " HTTP/1.0\r\n\r\n"), answer) << target;
    }
}

// Requests on one kept connection; before the third, the stored file is replaced the way the
// store does it (a new file renamed over the old). With no settle time its contents are kept
// in memory after the first answer, and must not outlive the file they came from.
TEST_F(LocalModeTest, KeptConnectionAnswersEachRequestFromTheCurrentFile) {
    for (const bool keep_contents : {false, true}) {
        SCOPED_TRACE(keep_contents ? "contents kept" : "read each time");
        if (keep_contents) settings_.stored_file_settle = std::chrono::milliseconds(0);
        WriteFileText(dir_.Path("h/page.html"), "<p>stored</p>");
        Start(kModeLocal);
        RawClient client(port_);
        const std::string request =
            "GET http://h/page.html HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n\r\n";
        const std::string head = std::string("HTTP/1.0 200 OK\r\nLast-modified: ") + kDate +
                                 "\r\nContent-type: text/html\r\nContent-length: 13\r\n"
                                 "Proxy-Connection: Keep-Alive\r\n\r\n";
        const std::string path = dir_.Path("h/page.html");
        for (const char* body : {"<p>stored</p>", "<p>stored</p>", "<p>second</p>"}) {
            if (std::string_view(body) == "<p>second</p>") {
                WriteFileText(path + ".new", body);
                std::filesystem::rename(path + ".new", path);
            }
            std::string got;
            ASSERT_TRUE(client.Send(request));
            ASSERT_TRUE(client.ReadAtLeast(got, head.size() + 13));
            EXPECT_EQ(got, head + body);
        }
        server_.reset();
    }
    EXPECT_TRUE(monitor_.SawState("KeepAlive"));
}

TEST_F(LocalModeTest, PipelinedRequestsAreBothAnswered) {
    Start(kModeLocal);
    const std::string request =
        "GET http://h/page.html HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n\r\n";
    RawClient client(port_);
    ASSERT_TRUE(client.Send(request + request));
    std::string got;
    EXPECT_TRUE(client.ReadAtLeast(got, 2 * (got.size() + 150)));
    EXPECT_EQ(got.find("<p>stored</p>HTTP/1.0 200 OK"), got.find("<p>stored</p>"));
}

// A request fills the request area to the byte, so the one behind it is still unread in the
// socket when it is answered.
TEST_F(LocalModeTest, RequestBehindOneThatFillsTheRequestAreaIsAnswered) {
    Put("http://h/cgi?a=1", "CT:text/html\n", "result");
    Start(kModeLocal);
    std::string post =
        "POST http://h/cgi HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\nContent-Length: 3\r\n"
        "X-Pad: ";
    const std::string rest = "\r\n\r\na=1";
    post.append(net::kRawAreaSize - post.size() - rest.size(), 'p').append(rest);
    RawClient client(port_);
    // A connection that already waited for a request once.
    const std::string kept =
        "GET http://h/page.html HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n\r\n";
    std::string got;
    ASSERT_TRUE(client.Send(kept));
    ASSERT_TRUE(client.ReadAtLeast(got, 150));
    ASSERT_TRUE(client.Send(post + "GET http://h/page.html HTTP/1.0\r\n\r\n"));
    got += client.ReadAll();
    EXPECT_NE(got.find("\r\n\r\nresult"), std::string::npos) << got;
    EXPECT_NE(got.find("<p>stored</p>"), got.rfind("<p>stored</p>")) << got;
}

TEST_F(LocalModeTest, KeepAliveZeroClosesAfterEveryAnswer) {
    settings_.keep_alive = 0;
    Start(kModeLocal);
    RawClient client(port_);
    ASSERT_TRUE(
        client.Send("GET http://h/page.html HTTP/1.0\r\nProxy-Connection: "
                    "Keep-Alive\r\n\r\n"));
    const std::string got = client.ReadAll();
    EXPECT_EQ(got.find("Proxy-Connection"), std::string::npos);
    EXPECT_NE(got.find("<p>stored</p>"), std::string::npos);
}

TEST_F(LocalModeTest, CurlAsBrowser) {
    Start(kModeLocal);
    EXPECT_EQ(Curl(port_, "http://h/page.html"), "<p>stored</p>");
    const std::string head = Curl(port_, "-I http://h/page.html");
    EXPECT_NE(head.find("Content-length: 13"), std::string::npos) << head;
}

}  // namespace
}  // namespace kelvra::server::testing
