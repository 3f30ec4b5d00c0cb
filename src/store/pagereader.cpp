#include "store/pagereader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kelvra::store {
namespace {

// Most tags end within this many bytes; looking at them one by one costs less than the two
// searches below.
constexpr std::size_t kNearBytes = 16;

// Offset of the first a or b in [p, p + n), or n.
std::size_t FindEither(const char* p, std::size_t n, char a, char b) {
    const std::size_t near = std::min(n, kNearBytes);
    for (std::size_t i = 0; i < near; ++i) {
        if (p[i] == a || p[i] == b) return i;
    }
    const char* const rest = p + near;
    const std::size_t left = n - near;
    const void* found = std::memchr(rest, a, left);
    const std::size_t bound =
        found ? static_cast<std::size_t>(static_cast<const char*>(found) - rest) : left;
    found = std::memchr(rest, b, bound);
    return near +
           (found ? static_cast<std::size_t>(static_cast<const char*>(found) - rest) : bound);
}

}  // namespace

PageReader::PageReader(std::FILE* file) : PageReader(file, 0, kNoEnd) {}

PageReader::PageReader(std::FILE* file, std::uint64_t begin, std::uint64_t end)
    : file_(file),
      block_(std::make_unique_for_overwrite<char[]>(kBlock)),
      base_(begin),
      begin_(begin),
      limit_(end) {
    data_ = block_.get();
}

PageReader::PageReader(std::string_view text)
    : text_(text), data_(text.data()), end_(text.size()) {}

PageReader PageReader::Range(std::uint64_t begin, std::uint64_t end) const {
    if (file_ != nullptr) return PageReader(file_, begin, std::min(end, limit_));
    PageReader range(text_);
    range.end_ = static_cast<std::size_t>(std::min<std::uint64_t>(end, text_.size()));
    range.pos_ = static_cast<std::size_t>(std::min<std::uint64_t>(begin, range.end_));
    range.begin_ = range.pos_;
    return range;
}

bool PageReader::Fill() {
    if (file_ == nullptr) return false;
    const std::uint64_t next = base_ + end_;
    if (next >= limit_) return false;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, limit_ - next));
    ssize_t n;
    do {
        n = ::pread(::fileno(file_), block_.get(), want, static_cast<off_t>(next));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    // A stored file reads short only at its end: no second call just to learn that.
    if (static_cast<std::size_t>(n) < want) limit_ = next + static_cast<std::uint64_t>(n);
    base_ = next;
    pos_ = 0;
    end_ = static_cast<std::size_t>(n);
    return true;
}

void PageReader::Seek(std::uint64_t offset) {
    if (offset >= base_ && offset - base_ <= end_) {
        pos_ = static_cast<std::size_t>(offset - base_);
    } else if (file_ != nullptr) {
        // The next Fill reads from there.
        base_ = offset;
        pos_ = end_ = 0;
    } else {
        pos_ = end_;
    }
}

bool PageReader::SkipToInNextBlocks(char c) {
    pos_ = end_;
    while (Fill()) {
        const void* found = std::memchr(data_, c, end_);
        if (found != nullptr) {
            pos_ = static_cast<std::size_t>(static_cast<const char*>(found) - data_);
            return true;
        }
        pos_ = end_;
    }
    return false;
}

PageReader::Taken PageReader::TakeUntil(char a, char b, std::string& spill, std::size_t keep) {
    spill.clear();
    std::uint64_t taken = 0;
    for (;;) {
        if (pos_ == end_ && !Fill()) break;
        const char* const from = data_ + pos_;
        const std::size_t n = FindEither(from, end_ - pos_, a, b);
        pos_ += n;
        if (taken == 0 && pos_ < end_) return {std::string_view(from, std::min(n, keep)), n};
        if (spill.size() < keep) spill.append(from, std::min(n, keep - spill.size()));
        taken += n;
        if (pos_ < end_) break;
    }
    return {spill, taken};
}

}  // namespace kelvra::store
