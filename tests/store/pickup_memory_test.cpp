// Link extraction holds a bounded part of a stored object, whatever the object's size.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "pickup_fake_store.h"
#include "store/pickuplink.h"

namespace kelvra::store {
namespace {

using Urls = std::vector<std::string>;

std::int64_t StatusKilobytes(std::string_view field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field)) return std::stoll(line.substr(field.size()));
    }
    return -1;
}

// How far the resident memory of this process rose above its level before call, in bytes.
template <class Call>
std::int64_t PeakGrowth(Call call) {
    std::ofstream("/proc/self/clear_refs") << "5";  // the high-water mark starts afresh
    const std::int64_t before = StatusKilobytes("VmRSS:");
    call();
    return (StatusKilobytes("VmHWM:") - before) * 1024;
}

// A file of size bytes: head, zeros (a hole that takes no disk), tail.
void WriteWithHole(const std::string& path, std::string_view head, std::string_view tail,
                   std::int64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    const off_t tail_at = static_cast<off_t>(size - static_cast<std::int64_t>(tail.size()));
    EXPECT_EQ(::pwrite(fd, tail.data(), tail.size(), tail_at), static_cast<ssize_t>(tail.size()));
    ::close(fd);
}

class LargeObjects : public ::testing::Test {
  protected:
    LargeObjects() { job_.rules = crawl_.AddCrawlContext({"http://h/d/"}, "", ""); }
    Urls Drain() {
        Urls urls;
        while (auto url = crawl_.Dequeue(true)) urls.push_back(*url);
        return urls;
    }

    FakeStore store_;
    PickupLinkClass crawl_{&store_, ""};
    FetchJob job_;
};

// Many times the bound, with links at the start, after a comment that is resumed far back, in
// a style block and at the very end.
TEST_F(LargeObjects, AreScannedInBlocksOfBoundedMemory) {
    constexpr std::int64_t kBound = std::int64_t{4} << 20;
    constexpr std::int64_t kSize = 4 * kBound;
    const auto page = store_.Add("http://h/d/p.html", "text/html", "");
    WriteWithHole(
        store_.LocalPath(page), "<a href=first.html><!-- a >",
        "<a href=resumed.html><!-- b --><style> url(styled.gif)</style><a href=last.html>", kSize);
    const auto sheet = store_.Add("http://h/d/s.css", "text/css", "");
    WriteWithHole(store_.LocalPath(sheet), "", " url(sheet.gif)", kSize);
    EXPECT_LT(PeakGrowth([&] { crawl_.ProcessObject("http://h/d/p.html", page, job_, true); }),
              kBound);
    EXPECT_LT(PeakGrowth([&] { crawl_.ProcessObject("http://h/d/s.css", sheet, job_, true); }),
              kBound);
    EXPECT_EQ(Drain(),
              (Urls{"http://h/d/first.html", "http://h/d/resumed.html", "http://h/d/styled.gif",
                    "http://h/d/last.html", "http://h/d/sheet.gif"}));
}

}  // namespace
}  // namespace kelvra::store
