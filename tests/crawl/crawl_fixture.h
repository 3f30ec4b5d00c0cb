#pragma once
// A crawl over a fresh data directory against a loopback origin.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "crawl/fetchstatus.h"
#include "crawl/kelvra.h"
#include "recording_display.h"
#include "store/fetchjob.h"
#include "store/headerlist_cookie.h"
#include "support/test_origin.h"
#include "util/tempdir.h"

namespace kelvra::crawl::testing {

using namespace store::JobFlag;

// Flags of a plain crawl: fetch every stored object again, follow page objects, no update check.
inline constexpr std::uint32_t kPlainFlags = kSrcObject | kFormTag;

inline bool IsRobots(std::string_view text) {
    return text.find("/robots.txt") != std::string_view::npos;
}

inline CrawlEnvironment ShortTimeouts() {
    CrawlEnvironment environment;
    environment.timeout = 2;
    return environment;
}

class CrawlFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        OpenStore();
    }

    void OpenStore() {
        const char* source = std::getenv("KELVRA_SOURCE");
        std::string mtf = std::string(source != nullptr ? source : KELVRA_SOURCE_DIR) + "/data/kelvra.mtf";
        store = std::make_unique<store::headerlist_cookie>(dir.Path() + "/", "index.html",
                                                           std::string_view("kelvra.log"), mtf);
    }

    void WriteMcf(const std::string& text) { std::ofstream(dir.Path("kelvra.mcf")) << text; }

    // A new engine with threads workers over the current kelvra.mcf.
    KelvraClass& NewCrawl(int threads = 1) {
        crawl.reset();
        crawl = std::make_unique<KelvraClass>(*store, threads, dir.Path("kelvra.mcf"), display);
        crawl->Setup(environment);
        return *crawl;
    }

    int Start(const std::string& url, std::uint32_t flags, std::uint16_t depth = 0,
              std::int16_t trace = 0) {
        store::CrawlRequest request;
        request.urls = {url};
        request.flags = flags;
        request.depth = depth;
        request.trace = trace;
        return crawl->AddStartUrl(request);
    }

    long RunCrawl(bool* completed_out = nullptr) {
        bool completed = false;
        long processed = crawl->Run(completed);
        if (completed_out != nullptr) *completed_out = completed;
        return processed;
    }

    // Status names the display showed, in order, without slot numbers; those of robots.txt
    // requests left out.
    std::vector<std::string> StatusNames() {
        std::lock_guard lock(display.mutex);
        std::vector<std::string> names;
        for (std::size_t k = 0; k < display.statuses.size(); ++k) {
            if (IsRobots(display.status_urls[k])) continue;
            const std::string& status = display.statuses[k];
            names.push_back(status.substr(status.find(':') + 1));
        }
        return names;
    }
    void ClearStatuses() {
        std::lock_guard lock(display.mutex);
        display.statuses.clear();
        display.status_urls.clear();
    }

    std::string LocalFile(const std::string& url) {
        std::string path;
        store->GetUrlLocalPath(url, path);
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    kelvra::testing::TempDir dir;
    std::unique_ptr<store::headerlist_cookie> store;
    RecordingDisplay display;
    CrawlEnvironment environment = ShortTimeouts();
    std::unique_ptr<KelvraClass> crawl;
};

// The answer every test origin gives to robots.txt: none there (kept connection).
inline kelvra::test::Reply NoRobots() {
    return kelvra::test::Reply().Send(
        kelvra::test::HttpResponse("HTTP/1.1 404 Not Found", "none", "Connection: Keep-Alive\r\n"));
}

// Replies played in order for every request but robots.txt; after the last one a request has
// its connection dropped.
class Canned {
  public:
    explicit Canned(std::vector<kelvra::test::Reply> replies) : replies_(std::move(replies)) {}
    kelvra::test::Reply Answer(const kelvra::test::Request& request) {
        if (IsRobots(request.RequestLine())) return NoRobots();
        std::lock_guard lock(mutex_);
        if (next_ >= replies_.size()) return kelvra::test::Reply().Close();
        return replies_[next_++];
    }
    kelvra::test::TestOrigin::Handler Handler() {
        return [this](const kelvra::test::Request& r) { return Answer(r); };
    }

  private:
    std::mutex mutex_;
    std::vector<kelvra::test::Reply> replies_;
    std::size_t next_ = 0;
};

// An origin that serves a fixed site: path -> full response bytes; anything else 404.
class Site {
  public:
    void Page(const std::string& path, std::string response) {
        std::lock_guard lock(mutex_);
        pages_[path] = std::move(response);
    }
    kelvra::test::Reply Answer(const kelvra::test::Request& request) {
        std::string_view line = request.RequestLine();
        std::size_t start = line.find(' ') + 1;
        std::string path(line.substr(start, line.find(' ', start) - start));
        std::lock_guard lock(mutex_);
        auto found = pages_.find(path);
        if (found == pages_.end() && IsRobots(path)) return NoRobots();
        if (found == pages_.end()) {
            return kelvra::test::Reply().Send(
                kelvra::test::HttpResponse("HTTP/1.1 404 Not Found", "none"));
        }
        return kelvra::test::Reply().Send(found->second);
    }

  private:
    std::mutex mutex_;
    std::map<std::string, std::string> pages_;
};

inline std::string Html(std::string_view body, std::string_view extra = {}) {
    return kelvra::test::HttpResponse("HTTP/1.1 200 OK", body,
                                      "Content-Type: text/html\r\n" + std::string(extra));
}

// The requests the origin saw, in order, robots.txt left out.
inline std::vector<kelvra::test::Request> PageRequests(const kelvra::test::TestOrigin& origin) {
    std::vector<kelvra::test::Request> pages;
    for (const auto& request : origin.Requests()) {
        if (!IsRobots(request.RequestLine())) pages.push_back(request);
    }
    return pages;
}

inline std::vector<std::string> RequestLines(const kelvra::test::TestOrigin& origin) {
    std::vector<std::string> lines;
    for (const auto& request : PageRequests(origin)) lines.emplace_back(request.RequestLine());
    return lines;
}

}  // namespace kelvra::crawl::testing
