// Link extraction over arbitrary markup: tags, comments, forms, frames, style blocks. The page
// read from a file through blocks must give the links the page in memory gives.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "store/pickuplink.h"

namespace {

using namespace kelvra::store;

std::vector<std::string> Links(std::string_view page, std::FILE* file, bool full_scan) {
    PickupLinkClass crawl(nullptr, "");
    FetchJob job;
    job.rules = crawl.AddCrawlContext({"http://h/d/"}, "", "");
    job.flags = JobFlag::kFormTag | JobFlag::kTraceMoved | JobFlag::kSrcObject;
    job.depth = 2;
    kelvra::net::BaseUrl base;
    kelvra::net::MakeBaseUrl(base, "http://h/d/p.html");
    if (file != nullptr) {
        PageReader reader(file);
        crawl.ScanHtml(reader, base, job, full_scan);
    } else {
        crawl.ScanHtml(page, base, job, full_scan);
    }
    std::vector<std::string> links;
    while (auto url = crawl.Dequeue(true)) links.push_back(*url);
    return links;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/fuzz_html_" + std::to_string(getpid()) + ".html";
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    const bool full_scan = size % 2 == 0;
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    if (file == nullptr) return 0;
    std::fwrite(page.data(), 1, page.size(), file);
    std::fflush(file);
    const bool same = Links(page, nullptr, full_scan) == Links({}, file, full_scan);
    std::fclose(file);
    if (!same) __builtin_trap();
    return 0;
}
