// kelvrac get against one loopback site that does at once what hostile and careless sites do:
// a robots.txt that disallows itself, names a path without its leading '/' and never ends; an
// answer naming another host's local file; a movie announcing 4 GB and one of nested sprites; a
// page without end; a record longer than the loader reads; a redirect chain without end; a start
// URL with an escape; a chunked body cut short (the URL that fails). The crawl must end by
// itself, within its memory and size bounds, write only below the site's own directory, store
// every ordinary page whole, and leave a kelvra.hif that the next start reads to its end.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string_view>

#include "kelvrac_fixture.h"
#include "store/headerlistex.h"
#include "support/swf_movie.h"
#include "support/test_origin.h"

namespace kelvra::testing {
namespace {

using test::Bytes;
using test::Reply;
using test::Request;
using test::TestOrigin;

// A sanitizer's shadow memory dwarfs what the program itself holds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr long kSizeLimitKb = 10240;
constexpr long kPeakRssLimitKb = 100 * 1024;
// A chain's redirects that are followed: r0 leads on to r20, r21 is never asked for.
constexpr int kRedirectsFollowed = 20;

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// An uncompressed movie of 19 bytes whose header announces 0xFFFFFFF0.
std::string AnnouncesFourGigabytes() {
    Bytes movie = {'F', 'W', 'S', 6, 0xF0, 0xFF, 0xFF, 0xFF};
    movie.resize(19);
    return Text(movie);
}

// Sprites that declare no body, each nesting the rest if its length were ignored; then a link.
std::string NestedSprites() {
    Bytes sprites;
    for (int i = 0; i < 60; ++i) test::Put16(sprites, 39 << 6);
    return Text(test::Movie({sprites, test::Tag(12, test::GetUrls({"movie.html"}))}));
}

struct Page {
    std::string path;  // below kDirectory
    std::string type;
    std::string body;
    std::string extra_header = {};
};

constexpr std::string_view kDirectory = "/~user/";
// Another host's local file, which one answer names as its own.
constexpr std::string_view kForeignFile = "127.0.0.1_1/a.html";

// The ordinary pages; each is to be stored whole under its own URL.
std::vector<Page> OrdinaryPages() {
    // The loader reads key and text up to 4,095 characters together; this record has about
    // 4,210. No extension: the type is recorded.
    const std::string long_path = "long-" + std::string(105, 'k');
    return {
        {"index.html", "text/html",
         "<a href=plain.html>p</a><a href=xf.html>x</a><a href=big.swf>b</a>"
         "<a href=sprite.swf>s</a><a href=endless.html>e</a><a href=secret.html>s</a>"
         "<a href=r0>r</a><a href=cut.html>c</a><a href=" +
             long_path + ">l</a>"},
        {"plain.html", "text/html", "<p>an ordinary page</p>"},
        {"xf.html", "text/html", "<p>names another host's file</p>",
         "XF: " + std::string(kForeignFile) + "\r\n"},
        {"big.swf", "application/x-shockwave-flash", AnnouncesFourGigabytes()},
        {"sprite.swf", "application/x-shockwave-flash", NestedSprites()},
        {"movie.html", "text/html", "<p>named by the movie</p>"},
        {long_path, "application/x-long; p=" + std::string(4050, 'v'), "long"},
    };
}

// The request's target, the escaped '~' of the start URL decoded.
std::string Target(const Request& request) {
    const std::string_view line = request.RequestLine();
    std::string target(line.substr(4, line.rfind(' ') - 4));  // after "GET "
    if (target.starts_with("/%7E")) target.replace(1, 3, "~");
    return target;
}

class HostileSite final {
  public:
    HostileSite() : origin_([this](const Request& request) { return Answer(request); }) {}

    std::string Url(const std::string& path) const {
        return origin_.Url(std::string(kDirectory) + path);
    }
    std::string StartUrl() const { return origin_.Url("/%7Euser/index.html"); }
    std::string HostDirectory() const { return "127.0.0.1_" + std::to_string(origin_.Port()); }
    const std::vector<Page>& Pages() const { return pages_; }
    bool Requested(const std::string& path) const {
        const auto requests = origin_.Requests();
        return std::any_of(requests.begin(), requests.end(), [&path](const Request& request) {
            return Target(request) == std::string(kDirectory) + path;
        });
    }

  private:
    Reply Answer(const Request& request) const {
        const std::string target = Target(request);
        if (target == "/robots.txt") return EndlessRobots();
        const std::string name = target.substr(std::min(target.size(), kDirectory.size()));
        if (name == "endless.html") return EndlessPage();
        if (name == "cut.html") return CutPage();
        if (name.starts_with("r")) {
            // r<n> moves to r<n+1>, without end.
            const std::string next = "r" + std::to_string(std::stoi(name.substr(1)) + 1);
            return Reply()
                .Send(test::HttpResponse("HTTP/1.1 302 Found", "", "Location: " + next + "\r\n"))
                .Close();
        }
        for (const Page& page : pages_) {
            if (page.path != name) continue;
            return Reply()
                .Send(test::HttpResponse("HTTP/1.1 200 OK", page.body,
                                         "Content-Type: " + page.type + "\r\n" + page.extra_header))
                .Close();
        }
        return Reply().Send(test::HttpResponse("HTTP/1.1 404 Not Found", "none")).Close();
    }
    // The rules come first, then comment lines for ever.
    static Reply EndlessRobots() {
        return Reply()
            .Send(
                "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n"
                "User-agent: *\nDisallow: /robots.txt\nDisallow: ~user/secret.html\n")
            .Repeat("#" + std::string(62, 'r') + "\n");
    }
    static Reply EndlessPage() {
        return Reply()
            .Send(
                "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n")
            .Repeat("1000\r\n" + std::string(0x1000, 'e') + "\r\n");
    }

    // A chunked body that the peer's close cuts short: the one URL that fails.
    static Reply CutPage() {
        return Reply()
            .Send(
                "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
                "4\r\ncut \r\n")
            .Close();
    }

    const std::vector<Page> pages_ = OrdinaryPages();
    TestOrigin origin_;
};

std::set<std::string> Entries(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class KelvracHostileSite : public KelvracTest {};

TEST_F(KelvracHostileSite, EndsByItselfWithinBoundsAndLeavesAWholeStore) {
    WriteIni("[General]\nBaseDirectory=" + data_ + "\nSizeLimit=" + std::to_string(kSizeLimitKb) +
             "\n[Orvane]\nPort=0\n");
    HostileSite site;
    auto child = Start({"get", site.StartUrl()});
    const int status = child->Wait(kRunTimeoutMs);
    ASSERT_NE(status, -1) << "the run did not end by itself\n" << child->Out();
    EXPECT_EQ(status, 1) << "cut.html fails\n" << child->Out() << child->Err();
    if (!kSanitized) {
        EXPECT_LT(child->PeakRssKb(), kPeakRssLimitKb);
    }

    // Writes stay below the site's own directory, beside the program's own files.
    EXPECT_EQ(Entries(dir_.Path()), (std::set<std::string>{"config", "data"}));
    // unfinished.rlf keeps the URL that failed.
    EXPECT_EQ(Entries(data_),
              (std::set<std::string>{site.HostDirectory(), "kelvra.hif", "kelvra.log", "kelvra.mcf",
                                     "unfinished.rlf"}));
    EXPECT_FALSE(DataExists(std::string(kForeignFile)));

    EXPECT_FALSE(site.Requested("secret.html")) << "disallowed without its leading '/'";
    EXPECT_TRUE(site.Requested("r" + std::to_string(kRedirectsFollowed)));
    EXPECT_FALSE(site.Requested("r" + std::to_string(kRedirectsFollowed + 1)));

    // The next start reads every record the run saved.
    const std::string hif = Data("kelvra.hif");
    store::headerlistex next(data_, "index.html", std::nullopt, "");
    EXPECT_EQ(next.Load("kelvra.hif"), std::count(hif.begin(), hif.end(), '\0'));
    EXPECT_FALSE(next.LoadStoppedEarly("kelvra.hif"));
    for (const Page& page : site.Pages()) {
        std::string local;
        ASSERT_TRUE(next.GetUrlLocalPath(site.Url(page.path), local)) << page.path;
        EXPECT_EQ(ReadWhole(local), page.body) << page.path;
    }
    std::string endless;
    EXPECT_FALSE(next.GetUrlLocalPath(site.Url("endless.html"), endless))
        << "an object past the size limit is not kept";
}

}  // namespace
}  // namespace kelvra::testing
