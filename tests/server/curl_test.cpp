// curl as the browser: Local Mode, Proxy Mode and Proxy Mode 2 through "curl -x", each answer
// compared byte for byte (curl -i prints the status line and header as received).

#include <gtest/gtest.h>

#include <functional>

#include "server/answers.h"
#include "server_fixture.h"
#include "support/test_origin.h"

namespace kelvra::server::testing {
namespace {

using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::TestOrigin;

struct CurlCase {
    const char* name;
    std::uint32_t mode;
    std::string path;  // on the origin ("/..."), or a full URL
    // The exact bytes, given the server's own address, the origin's URL of path and the origin.
    std::function<std::string(const std::string& own, const std::string& url)> expected;
};

class CurlTest : public ServerTest, public ::testing::WithParamInterface<CurlCase> {};

TEST_P(CurlTest, AnswerBytes) {
    const CurlCase& row = GetParam();
    TestOrigin origin([](const kelvra::test::Request& request) {
        if (request.RequestLine().starts_with("GET /gone")) return Reply().Close();
        return Reply().Send(HttpResponse("HTTP/1.0 200 OK", "relayed", "X-Origin: 1\r\n")).Close();
    });
    Put("http://h/page.html", "CT:text/html\nLM:Sun, 06 Nov 1994 08:49:37 GMT\n", "<p>stored</p>");
    Start(row.mode);
    const std::string own = "127.0.0.1:" + std::to_string(port_);
    std::string url = row.path.starts_with("/") ? origin.Url(row.path) : row.path;
    if (url.find("PORT") != std::string::npos)
        url.replace(url.find("PORT"), 4, std::to_string(port_));
    EXPECT_EQ(Curl(port_, "-i '" + url + "'"), row.expected(own, url));
    if (ModeBase(row.mode) == kModeProxy2 && row.path == "/fresh") {
        // what Proxy Mode 2 relayed is stored as the crawler would store it (curl may leave
        // before the worker commits; it has when the connection shows closed)
        ASSERT_TRUE(monitor_.WaitForText(kColumnState, "Closed"));
        store::treelistnode* node = store_->FindRecord(url);
        ASSERT_NE(node, nullptr);
        std::string path;
        store_->GetNodeLocalPath(node, path);
        EXPECT_EQ(ReadFileText(path), "relayed");
    }
}

const std::string kRelayed =
    "HTTP/1.0 200 OK\r\nX-Origin: 1\r\nContent-Length: 7\r\nProxy-Connection: Close\r\n\r\nrelayed";

INSTANTIATE_TEST_SUITE_P(
    Modes, CurlTest,
    ::testing::Values(
        // Local Mode: a stored object with its record's lines, kept alive as curl asks
        CurlCase{"LocalStored", kModeLocal, "http://h/page.html",
                 [](const std::string&, const std::string&) {
                     return std::string(
                         "HTTP/1.0 200 OK\r\n"
                         "Last-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                         "Content-type: text/html\r\nContent-length: 13\r\n"
                         "Proxy-Connection: Keep-Alive\r\n\r\n<p>stored</p>");
                 }},
        // Local Mode: the not-in-spool page with its status twice and the target's links
        CurlCase{"LocalNotInSpool", kModeLocal, "http://h/missing.html",
                 [](const std::string& own, const std::string&) {
                     return "HTTP/1.0 404 Object Not Found\r\nContent-type: text/html\r\n\r\n"
                            "<HTML><HEAD><base href=\"http://" +
                            own +
                            "\"><TITLE>404 Object Not Found</TITLE></HEAD><BODY><H1>Object Not "
                            "Found</H1><HR>This page <A HREF=\"http://h/missing.html\">http://h/"
                            "missing.html</A> is not found in the local spool.<BR><BR><A "
                            "HREF=\"/get?http://h/missing.html\">Get the WebPage data</A> | <A "
                            "HREF=\"/proxysetting?http://h/missing.html\">Pop-up proxy server "
                            "setting</A><BR><A HREF=\"/mode=*2?http://h/missing.html\">Change to "
                            "ProxyMode 1</A> | <A HREF=\"/mode=*3?http://h/missing.html\">Change "
                            "to ProxyMode 2</A><BR>" +
                            kSignature;
                 }},
        // Local Mode: a command to the server itself through the proxy
        CurlCase{"LocalCommand", kModeLocal, "http://127.0.0.1:PORT/mode=*1",
                 [](const std::string& own, const std::string&) {
                     return "HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n<HTML><HEAD><base "
                            "href=\"http://" +
                            own +
                            "\"><TITLE>202 Request Success</TITLE></HEAD><BODY><H1>Request "
                            "Success</H1><HR>Your request is accepted.(<A "
                            "HREF=\"/reload?\">URL</A>)<BR>" +
                            kSignature;
                 }},
        // Proxy Mode: the origin's answer with the connection line regenerated
        CurlCase{"ProxyRelayed", kModeProxy, "/fresh",
                 [](const std::string&, const std::string&) { return kRelayed; }},
        // Proxy Mode: an origin that closes without answering gives the bad-gateway page
        CurlCase{
            "ProxyBadGateway", kModeProxy, "/gone",
            [](const std::string& own, const std::string& url) {
                return "HTTP/1.0 502 Bad Gateway\r\nContent-type: text/html\r\n\r\n<HTML><HEAD>"
                       "<base href=\"http://" +
                       own +
                       "\"><TITLE>502 Bad Gateway</TITLE></HEAD><BODY><H1>Bad "
                       "Gateway</H1><HR>Can't connect to Web/Proxy Server.<BR>Please check "
                       "URL or connection to internet.<BR><BR><A HREF=\"/mode=*1?" +
                       url + "\">Change to LocalMode</A> | <A HREF=\"/proxysetting?" + url +
                       "\">Pop-up proxy server setting</A><BR>" + kSignature;
            }},
        // Proxy Mode 2: relayed unchanged, and stored
        CurlCase{"Proxy2Relayed", kModeProxy2, "/fresh",
                 [](const std::string&, const std::string&) { return kRelayed; }},
        // Proxy Mode 2 with "always use": the stored object, the origin not asked
        CurlCase{"Proxy2StoredAlways", kModeProxy2 | kUseSpoolAlways, "http://h/page.html",
                 [](const std::string&, const std::string&) {
                     return std::string(
                         "HTTP/1.0 200 OK\r\n"
                         "Last-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                         "Content-type: text/html\r\nContent-length: 13\r\n"
                         "Proxy-Connection: Keep-Alive\r\n\r\n<p>stored</p>");
                 }}),
    [](const ::testing::TestParamInfo<CurlCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvra::server::testing
