// Link extraction, filter classification and admission into a large frontier.
//   cmake -S . -B build -G Ninja && ninja -C build bench_links && build/bin/bench_links
// Targets: ScanHtml >= 150 MB/s over 50 pages of 20-200 KB; ClassOf under the default filter
// >= 2,000,000 URLs/s; AdmitUrl into a frontier of 1,000,000 URLs >= 500,000 URLs/s with a
// peak RSS of at most 300 MB (printed as peak_rss_mb).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "store/condition.h"
#include "store/extfilter.h"
#include "store/pickuplink.h"
#include "util/patternmatch.h"

namespace {

using namespace kelvra::store;
using namespace kelvra::util;

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;  // kilobytes on Linux
}

// Dense markup as a site generator would write it: navigation lists, tables, images, forms,
// inline styles and scripts, comments.
std::string MakePage(std::mt19937& rng, std::size_t target) {
    std::string p =
        "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" "
        "content=\"text/html; charset=Shift_JIS\">\n<title>Catalogue</title>\n"
        "<link rel=\"stylesheet\" type=\"text/css\" href=\"/css/site.css\">\n"
        "<script type=\"text/javascript\" src=\"/js/menu.js\"></script>\n"
        "<style type=\"text/css\">body { background: url(/img/bg.gif) } .x{color:#333}</style>\n"
        "</head><body bgcolor=\"#ffffff\" background=\"/img/paper.jpg\">\n";
    std::uniform_int_distribution<int> pick(0, 9), n(0, 999);
    while (p.size() < target) {
        const int id = n(rng);
        switch (pick(rng)) {
            case 0:
                p += "<!-- item " + std::to_string(id) + " -->\n";
                break;
            case 1:
                p += "<table width=\"100%\" border=\"0\" cellpadding=\"2\"><tr><td class=\"cell\">"
                     "<img src=\"/img/icon" +
                     std::to_string(id % 50) +
                     ".gif\" width=\"16\" height=\"16\" alt=\"icon\"></td>";
                p += "<td><a href=\"item" + std::to_string(id) + ".html\" title=\"Item\">Item " +
                     std::to_string(id) + "</a></td></tr></table>\n";
                break;
            case 2:
                p += "<div class=\"nav\" style=\"margin: 0 4px; background: url(/img/tab.png)\">"
                     "<ul><li><a href=\"../section/\">Section</a></li><li><a "
                     "href=\"/index.html\">Top</a></li></ul></div>\n";
                break;
            case 3:
                p += "<form action=\"/cgi-bin/search.cgi\" method=\"get\"><input type=\"hidden\" "
                     "name=\"cat\" value=\"" +
                     std::to_string(id % 20) + "\"><input type=\"submit\" value=\"Go\"></form>\n";
                break;
            default:
                p += "<p class=\"text\">Lorem ipsum dolor sit amet, <b>consectetur</b> adipiscing "
                     "elit, sed do <i>eiusmod</i> tempor incididunt ut labore et dolore magna "
                     "aliqua. <a href=\"page" +
                     std::to_string(id % 200) + ".html#sec\">more</a></p>\n";
                break;
        }
    }
    return p + "</body></html>\n";
}

void BM_ScanHtml(benchmark::State& state) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::size_t> size(20 * 1024, 200 * 1024);
    std::vector<std::string> pages;
    std::size_t bytes = 0;
    for (int i = 0; i < 50; ++i) {
        pages.push_back(MakePage(rng, size(rng)));
        bytes += pages.back().size();
    }
    PickupLinkClass crawl(nullptr, "");
    FetchJob job;
    job.rules =
        crawl.AddCrawlContext({"http://www.example.com/"}, std::string(kDefaultFilterText), "");
    job.flags = JobFlag::kFormTag | JobFlag::kSrcObject;
    kelvra::net::BaseUrl base;
    kelvra::net::MakeBaseUrl(base, "http://www.example.com/shop/list.html");
    for (auto _ : state) {
        for (const std::string& page : pages) crawl.ScanHtml(page, base, job, true);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["links_queued"] = static_cast<double>(crawl.QueueCount());
}
BENCHMARK(BM_ScanHtml)->Unit(benchmark::kMillisecond);

void BM_ClassOfDefaultFilter(benchmark::State& state) {
    const ExtFilterClass filter(kDefaultFilterText);
    std::vector<std::string> urls;
    const char* ext[] = {"html", "gif", "zip", "jpg", "cgi?x=1", "mpeg", "css", "txt", "", "Z"};
    for (int i = 0; i < 1000; ++i) {
        urls.push_back("www.host" + std::to_string(i % 7) + ".example.com/dir/sub/file" +
                       std::to_string(i) + "." + ext[i % 10]);
    }
    std::size_t i = 0;
    long refused = 0;
    for (auto _ : state) {
        refused += filter.ClassOf(urls[i++ % urls.size()]) == 0;
    }
    benchmark::DoNotOptimize(refused);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ClassOfDefaultFilter);

void BM_AdmitUrlMillion(benchmark::State& state) {
    for (auto _ : state) {
        getlistmanager frontier;
        FetchJob job;
        job.rules = frontier.AddCrawlContext({}, std::string(kDefaultFilterText), "");
        job.flags = JobFlag::kGetAll;
        std::string url;
        long queued = 0;
        for (int i = 0; i < 1'000'000; ++i) {
            url = "http://h" + std::to_string(i % 1000) + ".example.com/d" +
                  std::to_string((i / 1000) % 50) + "/p" + std::to_string(i) + ".html";
            queued += frontier.AdmitUrl(url, job, kModeForced) == kAdmitQueued;
            // Every tenth link is one seen before: duplicate detection.
            if (i % 10 == 0) frontier.AdmitUrl(url, job, kModeForced);
        }
        benchmark::DoNotOptimize(queued);
        state.counters["peak_rss_mb"] = PeakRssMb();
    }
    state.SetItemsProcessed(state.iterations() * 1'100'000);
}
BENCHMARK(BM_AdmitUrlMillion)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_PatternThirtyDotStars(benchmark::State& state) {
    std::string url = "http://host/";
    while (url.size() < 2000) url += "abcdefghij/";
    url.resize(2000);
    std::string pattern;
    for (int i = 0; i < 30; ++i) pattern += ".*";
    pattern += "#";
    const CompiledPattern compiled(pattern, kPatternIgnoreCase, false);
    for (auto _ : state) benchmark::DoNotOptimize(compiled.Match(url));
}
BENCHMARK(BM_PatternThirtyDotStars)->Unit(benchmark::kMicrosecond);

void BM_PatternNestedRepetition(benchmark::State& state) {
    std::string url = "http://host/";
    while (url.size() < 2000) url += "aaaaaaaaaa";
    url.resize(2000);
    for (auto _ : state) benchmark::DoNotOptimize(PatternMatch(url, "((a|aa)+)+#", 0));
}
BENCHMARK(BM_PatternNestedRepetition)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
