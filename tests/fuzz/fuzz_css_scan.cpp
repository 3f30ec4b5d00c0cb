// url( and @import references in arbitrary style sheet text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "store/pickuplink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvra::store;
    PickupLinkClass crawl(nullptr, "");
    FetchJob job;
    job.flags = JobFlag::kGetAll;
    kelvra::net::BaseUrl base;
    kelvra::net::MakeBaseUrl(base, "http://h/d/s.css");
    crawl.ScanCss(std::string_view(reinterpret_cast<const char*>(data), size), base, job);
    return 0;
}
