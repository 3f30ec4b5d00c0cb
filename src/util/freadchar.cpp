#include "util/freadchar.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>

namespace kelvra::util {

FReadChar::FReadChar(std::FILE* file, std::size_t buffer_size)
    : file_(file), buffer_(std::max<std::size_t>(buffer_size, 1)) {
    Refill();
}

bool FReadChar::GetByte(unsigned char& byte) {
    if (position_ >= filled_ && !Refill()) return false;
    byte = buffer_[position_++];
    ++count_;
    return true;
}

std::size_t FReadChar::Read(void* dst, std::size_t n) {
    auto* out = static_cast<unsigned char*>(dst);
    std::size_t delivered = 0;
    while (delivered < n) {
        if (position_ >= filled_ && !Refill()) break;
        const std::size_t chunk = std::min(n - delivered, filled_ - position_);
        std::memcpy(out + delivered, buffer_.data() + position_, chunk);
        position_ += chunk;
        delivered += chunk;
    }
    count_ += static_cast<std::int64_t>(delivered);
    return delivered;
}

bool FReadChar::Refill() {
    position_ = 0;
    filled_ = 0;
    // A short read already met the end of the file; reading again could only block on a pipe
    // or pick up bytes appended since.
    if (at_end_ || !file_) return false;
    filled_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    if (filled_ < buffer_.size()) at_end_ = true;
    return filled_ > 0;
}

bool FReadChar::Seek(std::int64_t offset) {
    if (!file_ || offset < 0 || ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
        return false;
    }
    count_ = offset;
    at_end_ = false;
    Refill();
    return true;
}

}  // namespace kelvra::util
