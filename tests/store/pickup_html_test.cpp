#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "store/pickuplink.h"

namespace kelvra::store {
namespace {

// Scans pages of http://h/d/p.html, allowed under h/d/, and reports what was queued.
class LinkScan : public ::testing::Test {
  protected:
    LinkScan() {
        job_.rules = crawl_.AddCrawlContext({"http://h/d/"}, "", "");
        job_.flags = JobFlag::kFormTag;
        net::MakeBaseUrl(base_, "http://h/d/p.html");
    }
    std::vector<std::string> Scan(std::string_view page, bool full = true) {
        crawl_.ScanHtml(page, base_, job_, full);
        std::vector<std::string> urls;
        while (auto url = crawl_.Dequeue(true)) urls.push_back(*url);
        return urls;
    }
    const FetchJob& JobOf(const std::string& url) {
        const FetchJob* job = crawl_.GetJob(url);
        EXPECT_NE(job, nullptr) << url;
        static const FetchJob none;
        return job ? *job : none;
    }
    using Urls = std::vector<std::string>;

    PickupLinkClass crawl_{nullptr, ""};
    FetchJob job_;
    net::BaseUrl base_;
};

TEST_F(LinkScan, TagLengthRules) {
    EXPECT_EQ(Scan("<a href=x>"), Urls{"http://h/d/x"});  // seven characters of tag text
    EXPECT_EQ(Scan("<a><br><a href>"), Urls{});
    // A short tag cut by the next '<', and one the page ends in.
    EXPECT_EQ(Scan("</p><p<a href=y><b"), Urls{"http://h/d/y"});
    const std::string title(1100, 't');
    EXPECT_EQ(Scan("<a href=long.html title=" + title + "><a href=ok.html>"),
              Urls{"http://h/d/ok.html"});
}

TEST_F(LinkScan, LessThanInsideATagStartsTheNextTag) {
    EXPECT_EQ(Scan("<a href=x.html <img src=y.gif>"),
              (Urls{"http://h/d/x.html", "http://h/d/y.gif"}));
}

TEST_F(LinkScan, Comments) {
    EXPECT_EQ(Scan("<!-- <a href=c1.html> --><a href=after.html>"), Urls{"http://h/d/after.html"});
    // "->" ends a comment; a bare '>' inside does not.
    EXPECT_EQ(Scan("<!-- a > b --><a href=one.html>"), Urls{"http://h/d/one.html"});
    // Another comment start inside: resume after the first '>'.
    EXPECT_EQ(Scan("<!-- x > <a href=shown.html> <!-- y -->"), Urls{"http://h/d/shown.html"});
    // Unterminated: resume after the first '>' too.
    EXPECT_EQ(Scan("<!-- x > <a href=tail.html>"), Urls{"http://h/d/tail.html"});
    EXPECT_EQ(Scan("<!-- never closed <a href=no.html"), Urls{});
    // "<!" without '-' is an ordinary tag.
    EXPECT_EQ(Scan("<!doctype html><a href=d.html>"), Urls{"http://h/d/d.html"});
}

TEST_F(LinkScan, AttributeKinds) {
    job_.depth = 3;
    EXPECT_EQ(Scan("<link rel=stylesheet href=s.css><a href=\"  page.html\">"),
              (Urls{"http://h/d/s.css", "http://h/d/page.html"}));
    EXPECT_EQ(JobOf("http://h/d/s.css").depth, 3);  // a page object does not use up depth
    EXPECT_EQ(JobOf("http://h/d/page.html").depth, 2);
    EXPECT_EQ(Scan("<img src=a.gif lowsrc=b.gif><body background='bg.jpg'>"
                   "<img dynsrc=m.avi><script src=x.js></script>"),
              (Urls{"http://h/d/a.gif", "http://h/d/b.gif", "http://h/d/bg.jpg", "http://h/d/m.avi",
                    "http://h/d/x.js"}));
    EXPECT_EQ(JobOf("http://h/d/x.js").depth, 3);
}

TEST_F(LinkScan, FirstWordBeginningWithTheNameDecides) {
    EXPECT_EQ(Scan("<img srcset=big.gif src=small.gif>"), Urls{});
    EXPECT_EQ(Scan("<a hreflang=en href=x.html>"), Urls{});
    EXPECT_EQ(Scan("<img alt=\"src=q.gif\" src=r.gif>"), Urls{"http://h/d/r.gif"});
    EXPECT_EQ(Scan("<a HREF = 'up.html' >"), Urls{"http://h/d/up.html"});
}

TEST_F(LinkScan, StyleAttribute) {
    EXPECT_EQ(Scan("<div style=\"background:url(x.gif)\">"), Urls{});
    EXPECT_EQ(Scan("<div style=\"background: url(x.gif)\">"), Urls{"http://h/d/x.gif"});
}

TEST_F(LinkScan, StyleBlock) {
    EXPECT_EQ(Scan("<style type=\"text/css\">body { background: url(bg.gif) }\n"
                   "@import \"imp.css\";</style><a href=z.html>"),
              (Urls{"http://h/d/bg.gif", "http://h/d/imp.css", "http://h/d/z.html"}));
    EXPECT_EQ(Scan("<styles><p> a: url(no.gif)</styles>"), Urls{});
}

constexpr const char* kFramePage =
    "<frameset><frame src=f.html><iframe src=i.html>"
    "<meta http-equiv=\"Refresh\" content=\"5; url=next.html\"><a href=a.html>";

TEST_F(LinkScan, UsedUpDepthStillYieldsFramesAndRefresh) {
    job_.depth = 1;
    EXPECT_EQ(Scan(kFramePage, false), (Urls{"http://h/d/f.html", "http://h/d/next.html"}));
}

TEST_F(LinkScan, FullScanOfFramesIframeAndLink) {
    job_.depth = 1;
    // The iframe is a page object ("frame src" needs a word beginning with "frame"); the a
    // tag's depth is used up.
    EXPECT_EQ(Scan(kFramePage, true),
              (Urls{"http://h/d/f.html", "http://h/d/i.html", "http://h/d/next.html"}));
}

TEST_F(LinkScan, RefreshRules) {
    EXPECT_EQ(Scan("<meta http-equiv=refresh content='0;URL=\"r.html\"'>"),
              Urls{"http://h/d/r.html"});
    EXPECT_EQ(Scan("<meta http-equiv=content-type content=\"text/html\">"), Urls{});
    EXPECT_EQ(Scan("<meta http-equiv=refreshed content=\"1;url=no.html\">"), Urls{});
}

TEST_F(LinkScan, MovedTargetsWidenTheAllowedUrls) {
    EXPECT_EQ(Scan("<frame src=http://other/f/a.html>"), Urls{});  // outside
    job_.flags |= JobFlag::kTraceMoved;
    EXPECT_EQ(Scan("<frame src=http://other/f/b.html>"), Urls{"http://other/f/b.html"});
    EXPECT_EQ(Scan("<a href=http://other/f/c.html>"), Urls{"http://other/f/c.html"});
    job_.flags = JobFlag::kTraceMovedStart;  // only on a start URL's page
    EXPECT_EQ(Scan("<frame src=http://third/x.html>"), Urls{});
    job_.flags |= JobFlag::kStartUrl;
    EXPECT_EQ(Scan("<meta http-equiv=refresh content=\"0;url=http://third/y.html\">"),
              Urls{"http://third/y.html"});
}

TEST_F(LinkScan, BaseHrefChangesTheFollowingLinksOnly) {
    EXPECT_EQ(Scan("<a href=1.html><base href=http://h/d/e/><a href=2.html>"
                   "<base href=../f/><a href=3.html>"),
              (Urls{"http://h/d/1.html", "http://h/d/e/2.html", "http://h/d/f/3.html"}));
}

TEST_F(LinkScan, Applets) {
    EXPECT_EQ(Scan("<applet code=Main.class codebase=cls archive=a.jar>"),
              (Urls{"http://h/d/cls/Main.class", "http://h/d/cls/a.jar"}));
    // codebase is the first word beginning with "code", so it hides code.
    EXPECT_EQ(Scan("<applet codebase=cls code=Main.class>"), Urls{});
    EXPECT_EQ(Scan("<applets src=x.gif>"), Urls{"http://h/d/x.gif"});
}

TEST_F(LinkScan, FormWithHiddenFieldsAndSubmit) {
    EXPECT_EQ(Scan("<form action=Search.cgi method=get><input type=hidden name=q value=\"a b\">"
                   "<input type=hidden name=n value=2><input type=submit name=go value=Go>"
                   "<img src=in.gif></form>"),
              (Urls{"http://h/d/in.gif", "http://h/d/search.cgi?q=a+b&n=2&go=Go"}));
    EXPECT_FALSE(JobOf("http://h/d/search.cgi?q=a+b&n=2&go=Go").flags & JobFlag::kPost);
}

TEST_F(LinkScan, PostFormAndQueryAction) {
    EXPECT_EQ(Scan("<form method=POST action=\"f.cgi?x=1\"><input type=submit></form>"),
              Urls{"http://h/d/f.cgi?x=1&="});
    EXPECT_TRUE(JobOf("http://h/d/f.cgi?x=1&=").flags & JobFlag::kPost);
}

TEST_F(LinkScan, FormsThatAreNotFollowed) {
    // A text field needs the user.
    EXPECT_EQ(Scan("<form action=t.cgi><input type=text name=q><input type=submit></form>"),
              Urls{});
    EXPECT_EQ(Scan("<form action=t.cgi><textarea name=q></textarea><input type=submit></form>"),
              Urls{});
    // No submit control.
    EXPECT_EQ(Scan("<form action=t.cgi><input type=hidden name=a value=1></form>"), Urls{});
    // Empty action.
    EXPECT_EQ(Scan("<form action=\"\"><input type=submit></form>"), Urls{});
    // Without FormTag the form is only a tag.
    job_.flags = 0;
    EXPECT_EQ(Scan("<form action=t.cgi><input type=submit></form>"), Urls{});
}

TEST_F(LinkScan, FormImageOnclickAndNoAction) {
    EXPECT_EQ(Scan("<form><input type=button onclick=\"location='go.html'\">"
                   "<input type=image src=btn.gif><input type=hidden name=k value=v></form>"),
              (Urls{"http://h/d/go.html", "http://h/d/btn.gif", "http://h/d/&k=v"}));
}

TEST_F(LinkScan, FormQueryTooLongIsAbandoned) {
    // Each tag is short enough to be read; together they pass the form URL's limit.
    const std::string big(600, 'v');
    EXPECT_EQ(Scan("<form action=t.cgi><input type=hidden name=a value=" + big +
                   "><input type=hidden name=b value=" + big + "><input type=submit></form>"),
              Urls{});
}

TEST_F(LinkScan, CssRules) {
    crawl_.ScanCss(
        "a{b: url( 'q 1.gif' )} c{d: URL(\"dq.gif\")} /* e: url(no.gif) */"
        "f:url(no2.gif) @import \"imp.css\"; @import url(u.css); @import 'no3.css';",
        base_, job_);
    std::vector<std::string> urls;
    while (auto url = crawl_.Dequeue(true)) urls.push_back(*url);
    EXPECT_EQ(urls, (Urls{"http://h/d/q 1.gif", "http://h/d/dq.gif", "http://h/d/u.css",
                          "http://h/d/imp.css"}));
}

TEST_F(LinkScan, AddLinkAnswers) {
    EXPECT_EQ(crawl_.AddLink(base_, "mailto:x@y", job_, kLinkOrdinary), kLinkUnresolvable);
    EXPECT_EQ(crawl_.AddLink(base_, std::string(2100, 'x'), job_, kLinkOrdinary), kLinkTooLong);
    EXPECT_EQ(crawl_.AddLink(base_, "ok.html#frag", job_, kLinkOrdinary), kAdmitQueued);
    EXPECT_EQ(crawl_.AddLink(base_, "ok.html", job_, kLinkOrdinary), kAdmitKnown);
    EXPECT_EQ(crawl_.AddLink(base_, "sp%61ce.html ", job_, kLinkOrdinary), kAdmitQueued);
    EXPECT_NE(crawl_.GetJob("http://h/d/space.html"), nullptr);  // decoded and trimmed
    job_.depth = 1;
    EXPECT_EQ(crawl_.AddLink(base_, "deep.html", job_, kLinkOrdinary), kAdmitDepthUsedUp);
    EXPECT_EQ(crawl_.AddLink(base_, "deep.gif", job_, kLinkObject), kAdmitQueued);
}

TEST_F(LinkScan, ForcingOptions) {
    EXPECT_EQ(crawl_.AddLink(base_, "http://x/a.gif", job_, kLinkObject), kAdmitOutside);
    job_.flags = JobFlag::kSrcObject;
    EXPECT_EQ(crawl_.AddLink(base_, "http://x/a.gif", job_, kLinkObject), kAdmitQueued);
    EXPECT_EQ(crawl_.AddLink(base_, "http://x/f.html", job_, kLinkFrame), kAdmitOutside);
    job_.flags = JobFlag::kSrcObject | JobFlag::kSrcObjectAll;
    EXPECT_EQ(crawl_.AddLink(base_, "http://x/f.html", job_, kLinkFrame), kAdmitQueued);
    job_.flags = JobFlag::kFtpAll;
    EXPECT_EQ(crawl_.AddLink(base_, "ftp://x/pub/", job_, kLinkOrdinary), kAdmitQueued);
    job_.flags = JobFlag::kGetAll | JobFlag::kStartUrl | JobFlag::kPost;
    job_.trace = 2;
    EXPECT_EQ(crawl_.AddLink(base_, "http://y/", job_, kLinkOrdinary), kAdmitQueued);
    // Per-link bits of the page do not pass to its links; the trace count goes down.
    EXPECT_EQ(JobOf("http://y/").flags, JobFlag::kGetAll);
    EXPECT_EQ(JobOf("http://y/").trace, 1);
}

TEST(AttributeLookup, SeparatorsAndQuotes) {
    const std::string text = "5; URL=next.html,x";
    std::string lower = "5; url=next.html,x";
    auto span = FindAttribute(text, lower, "url", true);
    ASSERT_TRUE(span);
    EXPECT_EQ(text.substr(span->offset, span->length), "next.html");
    // Without separators the value runs to the next blank.
    span = FindAttribute(text, lower, "url", false);
    ASSERT_TRUE(span);
    EXPECT_EQ(text.substr(span->offset, span->length), "next.html,x");
    // A value in quotes ends at its quote; the next lookup starts after it.
    const std::string tag = "meta http-equiv=\"x y\" content=z";
    span = FindAttribute(tag, tag, "meta http-equiv", false);
    ASSERT_TRUE(span);
    EXPECT_EQ(tag.substr(span->offset, span->length), "x y");
    EXPECT_TRUE(FindAttribute(tag, tag, "content", false, span->next));
}

}  // namespace
}  // namespace kelvra::store
