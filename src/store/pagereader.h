#pragma once
// Reading a stored page or style sheet for link extraction through one block of fixed size:
// however large the object, the scanners hold no more of it than that block.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace kelvra::store {

class PageReader final {
  public:
    static constexpr std::size_t kBlock = 64 * 1024;
    static constexpr std::uint64_t kNoEnd = ~std::uint64_t{0};

    // The whole file; it stays open and the caller's, and its stream position is not used.
    explicit PageReader(std::FILE* file);
    // [begin, end) of the file, with offsets into the whole file.
    PageReader(std::FILE* file, std::uint64_t begin, std::uint64_t end);
    // Text in memory; offsets are into the text.
    explicit PageReader(std::string_view text);
    // A move keeps the block where it is; a copy would not.
    PageReader(PageReader&&) = default;
    PageReader(const PageReader&) = delete;
    PageReader& operator=(const PageReader&) = delete;

    // The next byte, or -1 at the end.
    int Get() { return pos_ < end_ || Fill() ? static_cast<unsigned char>(data_[pos_++]) : -1; }
    // The next byte without taking it, or -1 at the end.
    int Peek() { return pos_ < end_ || Fill() ? static_cast<unsigned char>(data_[pos_]) : -1; }
    // Up to n of the next bytes, as far as the current block holds them (none at the end).
    std::string_view Ahead(std::size_t n) {
        if (pos_ == end_ && !Fill()) return {};
        return {data_ + pos_, std::min(n, end_ - pos_)};
    }
    // Takes n bytes that Ahead showed.
    void Skip(std::size_t n) { pos_ += n; }
    // Offset of the next byte.
    std::uint64_t Tell() const { return base_ + pos_; }
    // Goes on from an offset of the source.
    void Seek(std::uint64_t offset);
    // Back to where the reader started.
    void Rewind() { Seek(begin_); }
    // Takes the bytes before the next c (c is left unread); false at the end without one.
    bool SkipTo(char c) {
        // Inline for the common case of c in the current block: this runs once per tag.
        const void* found = pos_ < end_ ? std::memchr(data_ + pos_, c, end_ - pos_) : nullptr;
        if (found == nullptr) return SkipToInNextBlocks(c);
        pos_ = static_cast<std::size_t>(static_cast<const char*>(found) - data_);
        return true;
    }
    // What TakeUntil took: its first `keep` bytes and how many there were in all.
    struct Taken {
        std::string_view text;
        std::uint64_t length = 0;
    };
    // Takes the bytes before the next a or b (left unread). The text is a view into the block
    // when it lies in one, valid until the reader next moves past the block; else it is
    // copied into spill.
    Taken TakeUntil(char a, char b, std::string& spill, std::size_t keep);
    // A reader of [begin, end) of the same source with a block of its own.
    PageReader Range(std::uint64_t begin, std::uint64_t end) const;

  private:
    // Reads the block after the current one; false at the end of the source or the range.
    bool Fill();
    bool SkipToInNextBlocks(char c);

    std::FILE* file_ = nullptr;
    std::string_view text_;
    std::unique_ptr<char[]> block_;  // not cleared: every byte used is read first
    const char* data_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint64_t base_ = 0;  // offset of data_[0] in the source
    std::uint64_t begin_ = 0;
    std::uint64_t limit_ = kNoEnd;
};

}  // namespace kelvra::store
