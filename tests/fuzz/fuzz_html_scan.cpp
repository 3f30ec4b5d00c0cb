// Link extraction over arbitrary markup: tags, comments, forms, frames, style blocks.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "store/pickuplink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvra::store;
    PickupLinkClass crawl(nullptr, "");
    FetchJob job;
    job.rules = crawl.AddCrawlContext({"http://h/d/"}, "", "");
    job.flags = JobFlag::kFormTag | JobFlag::kTraceMoved | JobFlag::kSrcObject;
    job.depth = 2;
    kelvra::net::BaseUrl base;
    kelvra::net::MakeBaseUrl(base, "http://h/d/p.html");
    crawl.ScanHtml(std::string_view(reinterpret_cast<const char*>(data), size), base, job,
                   size % 2 == 0);
    return 0;
}
