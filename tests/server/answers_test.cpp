// The server's own pages, byte for byte, and the header of a stored object.

#include "server/answers.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvra::server {
namespace {

const std::string kSignature =
    "<HR><I>Orvane 5.3.0(Win32; GUI; ix86)<BR>by Tesmarin</I></BODY></HTML>";

TEST(AnswerPagesTest, OwnAddressIsDottedLocalAddressAndListeningPort) {
    EXPECT_EQ(OwnAddress(::inet_addr("192.168.1.20"), 8080), "192.168.1.20:8080");
    EXPECT_EQ(OwnAddress(::inet_addr("127.0.0.1"), 1), "127.0.0.1:1");
}

TEST(AnswerPagesTest, RedirectNamesTheTargetThreeTimes) {
    EXPECT_EQ(RedirectPage("http://h/d/"),
              "HTTP/1.0 301 Moved Permanently\r\nLocation: http://h/d/\r\nContent-type: "
              "text/html\r\n\r\n<HTML><HEAD><TITLE>301 Moved Permanently</TITLE></HEAD><BODY>"
              "<H1>Moved Permanently</H1><HR>The document has moved to <A "
              "HREF=\"http://h/d/\">http://h/d/</A>.<BR>" +
                  kSignature);
}

TEST(AnswerPagesTest, NotModifiedCarriesTheDateAndCloses) {
    EXPECT_EQ(NotModifiedPage("Sun, 06 Nov 1994 08:49:37 GMT"),
              "HTTP/1.0 304 Not Modified\r\nLast-modified: Sun, 06 Nov 1994 08:49:37 "
              "GMT\r\nProxy-Connection: Close\r\n\r\n");
}

TEST(AnswerPagesTest, NotInSpoolPrintsTheStatusWithThreeDigitsTwice) {
    const std::string page = NotInSpoolPage(4, "127.0.0.1:81", "http://h/x", "*", "http://h/x?a=1");
    EXPECT_EQ(page,
              "HTTP/1.0 004 Object Not Found\r\nContent-type: text/html\r\n\r\n<HTML><HEAD><base "
              "href=\"http://127.0.0.1:81\"><TITLE>004 Object Not Found</TITLE></HEAD><BODY><H1>"
              "Object Not Found</H1><HR>This page <A HREF=\"http://h/x\">http://h/x</A> is not "
              "found in the local spool.<BR><BR><A HREF=\"/get?*http://h/x?a=1\">Get the WebPage "
              "data</A> | <A HREF=\"/proxysetting?http://h/x\">Pop-up proxy server setting</A>"
              "<BR><A HREF=\"/mode=*2?http://h/x\">Change to ProxyMode 1</A> | <A "
              "HREF=\"/mode=*3?http://h/x\">Change to ProxyMode 2</A><BR>" +
                  kSignature);
}

TEST(AnswerPagesTest, RelayFailedFillsBaseAndTarget) {
    EXPECT_EQ(RelayFailedPage("10.0.0.1:8080", "http://x/"),
              "HTTP/1.0 502 Bad Gateway\r\nContent-type: text/html\r\n\r\n<HTML><HEAD><base "
              "href=\"http://10.0.0.1:8080\"><TITLE>502 Bad Gateway</TITLE></HEAD><BODY><H1>Bad "
              "Gateway</H1><HR>Can't connect to Web/Proxy Server.<BR>Please check URL or "
              "connection to internet.<BR><BR><A HREF=\"/mode=*1?http://x/\">Change to "
              "LocalMode</A> | <A HREF=\"/proxysetting?http://x/\">Pop-up proxy server "
              "setting</A><BR>" +
                  kSignature);
}

TEST(AnswerPagesTest, CommandPagesCarryTheReloadUrl) {
    EXPECT_EQ(CommandAcceptedPage("1.2.3.4:5", "http://h/"),
              "HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n<HTML><HEAD><base "
              "href=\"http://1.2.3.4:5\"><TITLE>202 Request Success</TITLE></HEAD><BODY><H1>"
              "Request Success</H1><HR>Your request is accepted.(<A "
              "HREF=\"/reload?http://h/\">URL</A>)<BR>" +
                  kSignature);
    EXPECT_EQ(CommandRefusedPage("1.2.3.4:5", ""),
              "HTTP/1.0 403 \r\nContent-type: text/html\r\n\r\n<HTML><HEAD><base "
              "href=\"http://1.2.3.4:5\"><TITLE>403 Request Denied</TITLE></HEAD><BODY><H1>"
              "Request Denied</H1><HR>Your request is denied.(<A HREF=\"/reload?\">URL</A>)<BR>" +
                  kSignature);
}

TEST(AnswerPagesTest, ReloadQuestionOffersEveryChoice) {
    EXPECT_EQ(ReloadQuestionPage("1.2.3.4:5", "http://h/"),
              "HTTP/1.0 400 \r\nContent-type: text/html\r\n\r\n<HTML><HEAD><base "
              "href=\"http://1.2.3.4:5\"><TITLE>Which is your request ?</TITLE></HEAD><BODY><H1>"
              "Which is your request ?</H1><HR>You pushed the \"Reload\" button on the "
              "WWWBrowser.<BR><BR><A HREF=\"/reload?http://h/\">Only Reload</A> | <A "
              "HREF=\"/get?http://h/\">Get the WebPage data</A> | <A "
              "HREF=\"/proxysetting?http://h/\">Pop-up proxy server setting</A><BR><A "
              "HREF=\"/mode=*2?http://h/\">Change to ProxyMode 1</A> | <A "
              "HREF=\"/mode=*3?http://h/\">Change to ProxyMode 2</A><BR>" +
                  kSignature);
}

TEST(AnswerPagesTest, ProhibitedPadsShortStatusesAndNeverCuts) {
    const std::string tail =
        " This URL access is prohibited(Orvane 5.3.0/by Tesmarin)</TITLE></HEAD><BODY></BODY>"
        "</HTML>";
    EXPECT_EQ(ProhibitedPage("404"),
              "HTTP/1.0 404 \r\nContent-type: text/html\r\n\r\n<HTML><HEAD><TITLE>404" + tail);
    EXPECT_EQ(ProhibitedPage("40"),
              "HTTP/1.0  40 \r\nContent-type: text/html\r\n\r\n<HTML><HEAD><TITLE> 40" + tail);
    EXPECT_EQ(ProhibitedPage("4040"),
              "HTTP/1.0 4040 \r\nContent-type: text/html\r\n\r\n<HTML><HEAD><TITLE>4040" + tail);
}

TEST(AnswerPagesTest, FormatCharactersInTargetsStayLiteral) {
    // a target is data, never a format: "%s" and "%n" in it must come out unchanged
    const std::string page = RedirectPage("http://h/%s%n");
    EXPECT_NE(page.find("Location: http://h/%s%n\r\n"), std::string::npos);
}

// Every page that echoes request text into its body, with that text in each place.
std::vector<std::string> PagesEchoing(const std::string& text) {
    return {RedirectPage(text),
            NotInSpoolPage(404, "o:1", text, "*", text),
            RelayFailedPage("o:1", text),
            CommandAcceptedPage("o:1", text),
            CommandRefusedPage("o:1", text),
            ReloadQuestionPage("o:1", text)};
}

TEST(AnswerPagesTest, BodyFillInsAreHtmlEscapedHeaderFillInsStayRaw) {
    const std::string hostile = "http://h/x\"><script>alert('&')</script>";
    const std::string escaped =
        "http://h/x&quot;&gt;&lt;script&gt;alert(&#39;&amp;&#39;)&lt;/script&gt;";
    for (const std::string& page : PagesEchoing(hostile)) {
        const std::string body = page.substr(page.find("\r\n\r\n"));
        EXPECT_EQ(body.find("<script>"), std::string::npos) << page;
        EXPECT_NE(body.find(escaped), std::string::npos) << page;
    }
    EXPECT_EQ(RedirectPage(hostile).rfind(
                  "HTTP/1.0 301 Moved Permanently\r\nLocation: " + hostile + "\r\n", 0),
              0u);
    EXPECT_EQ(ProhibitedPage("<b>"),
              "HTTP/1.0 <b> \r\nContent-type: text/html\r\n\r\n<HTML><HEAD><TITLE>&lt;b&gt; "
              "This URL access is prohibited(Orvane 5.3.0/by Tesmarin)</TITLE></HEAD><BODY>"
              "</BODY></HTML>");
}

TEST(AnswerPagesTest, AFillInWithALineBreakOrNulIsLeftOut) {
    const std::string breaking[] = {"http://h/a\rb", "http://h/a\nSet-Cookie: x=1",
                                    std::string("http://h/a\0b", 12)};
    for (const std::string& text : breaking) {
        EXPECT_EQ(PagesEchoing(text), PagesEchoing("")) << text;
        EXPECT_EQ(NotModifiedPage(text), NotModifiedPage(""));
    }
}

TEST(StoredHeaderTest, RecordLinesInOrderAndAbsentOnesLeftOut) {
    EXPECT_EQ(StoredObjectHead({"", "Sun, 06 Nov 1994 08:49:37 GMT", "", "text/html", "gzip"}),
              "HTTP/1.0 200 OK\r\nLast-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\nContent-type: "
              "text/html\r\nContent-Encoding: gzip\r\n");
    EXPECT_EQ(StoredObjectHead({"404", "", "http://h/", "", ""}),
              "HTTP/1.0 404 \r\nLocation: http://h/\r\n");
}

TEST(StoredHeaderTest, LengthAndKeepAliveOnlyWithABody) {
    EXPECT_EQ(BodyLines(10, true), "Content-length: 10\r\nProxy-Connection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(BodyLines(10, false), "Content-length: 10\r\n\r\n");
    EXPECT_EQ(BodyLines(0, true), "\r\n");  // no length: the connection must close
    EXPECT_EQ(BodyLines(5000000000LL, false), "Content-length: 5000000000\r\n\r\n");
}

}  // namespace
}  // namespace kelvra::server
