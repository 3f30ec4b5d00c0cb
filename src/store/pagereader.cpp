#include "store/pagereader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kelvra::store {

PageReader::PageReader(std::FILE* file) : PageReader(file, 0, kNoEnd) {}

PageReader::PageReader(std::FILE* file, std::uint64_t begin, std::uint64_t end)
    : file_(file), block_(kBlock), base_(begin), begin_(begin), limit_(end) {
    data_ = block_.data();
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
        n = ::pread(::fileno(file_), block_.data(), want, static_cast<off_t>(next));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
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

bool PageReader::SkipTo(char c) {
    for (;;) {
        if (pos_ == end_ && !Fill()) return false;
        const void* found = std::memchr(data_ + pos_, c, end_ - pos_);
        if (found != nullptr) {
            pos_ = static_cast<std::size_t>(static_cast<const char*>(found) - data_);
            return true;
        }
        pos_ = end_;
    }
}

std::uint64_t PageReader::TakeUntil(char a, char b, std::string& out, std::size_t keep) {
    std::uint64_t taken = 0;
    for (;;) {
        if (pos_ == end_ && !Fill()) return taken;
        std::size_t stop = pos_;
        while (stop < end_ && data_[stop] != a && data_[stop] != b) ++stop;
        const std::size_t n = stop - pos_;
        if (out.size() < keep) out.append(data_ + pos_, std::min(n, keep - out.size()));
        taken += n;
        pos_ = stop;
        if (stop < end_) return taken;
    }
}

}  // namespace kelvra::store
