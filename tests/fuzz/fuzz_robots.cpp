// robots.txt parsing into the frontier, then taking the queue.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "store/robots.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvra::store;
    static const std::string path = "/tmp/fuzz_robots_" + std::to_string(getpid()) + ".txt";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    PickupLinkClassEx crawl(nullptr, "");
    FetchJob job;
    job.rules = crawl.AddCrawlContext({"http://h/"}, "", "");
    crawl.AdmitUrl("http://h/a/b.html", job, kModeOrdinary);
    crawl.AdmitUrl("http://h/cgi-bin/x", job, kModeOrdinary);
    crawl.ParseRobots(path, "h");
    crawl.RobotsFetched("http://h/robots.txt", *crawl.GetJob("http://h/robots.txt"), true);
    std::string url;
    for (int i = 0; i < 8 && crawl.NextAllowed(url, true) != Allowed::kNone; ++i) {
    }
    return 0;
}
