#pragma once
// Reading a stored page or style sheet for link extraction through one block of fixed size:
// however large the object, the scanners hold no more of it than that block.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::store {

class PageReader final {
  public:
    static constexpr std::size_t kBlock = 64 * 1024;
    static constexpr std::uint64_t kNoEnd = ~std::uint64_t{0};

    // The whole file; it stays open and the caller's, and its stream position is not used.
    explicit PageReader(std::FILE* file);
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
    // Offset of the next byte.
    std::uint64_t Tell() const { return base_ + pos_; }
    // Goes on from an offset of the source.
    void Seek(std::uint64_t offset);
    // Back to where the reader started.
    void Rewind() { Seek(begin_); }
    // Takes the bytes before the next c (c is left unread); false at the end without one.
    bool SkipTo(char c);
    // Takes the bytes before the next a or b (left unread), of which out keeps the first
    // keep; returns how many were taken.
    std::uint64_t TakeUntil(char a, char b, std::string& out, std::size_t keep);
    // A reader of [begin, end) of the same source with a block of its own.
    PageReader Range(std::uint64_t begin, std::uint64_t end) const;

  private:
    PageReader(std::FILE* file, std::uint64_t begin, std::uint64_t end);
    // Reads the block after the current one; false at the end of the source or the range.
    bool Fill();

    std::FILE* file_ = nullptr;
    std::string_view text_;
    std::vector<char> block_;
    const char* data_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint64_t base_ = 0;  // offset of data_[0] in the source
    std::uint64_t begin_ = 0;
    std::uint64_t limit_ = kNoEnd;
};

}  // namespace kelvra::store
