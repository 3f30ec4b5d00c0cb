#pragma once
// Buffered byte reader over an open file.

#include <cstdint>
#include <cstdio>
#include <vector>

namespace kelvra::util {

class FReadChar final {
public:
    // Does not own the file; fills the buffer at once.
    FReadChar(std::FILE* file, std::size_t buffer_size);

    // False at the end of the data.
    bool GetByte(unsigned char& byte);
    // Copies up to n bytes across refills; returns the number delivered.
    std::size_t Read(void* dst, std::size_t n);
    // Reads the next buffer; false at the end (a short previous read means the end).
    bool Refill();
    // Positions the file absolutely and refills.
    bool Seek(std::int64_t offset);
    // File offset of the next byte.
    std::int64_t Count() const { return count_; }

private:
    std::FILE* file_;
    std::vector<unsigned char> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
    std::int64_t count_ = 0;
    bool at_end_ = false;
};

}  // namespace kelvra::util
