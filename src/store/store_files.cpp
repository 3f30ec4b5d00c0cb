#include "store/store_files.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace kelvra::store {

namespace {

constexpr std::size_t kCompareBlock = 4096;
// Between two chunks a copy can be stopped: small enough that a stop ends it at once.
constexpr std::size_t kKernelCopyChunk = std::size_t{8} << 20;

// open(2) flags for an fopen mode ("r", "wb", "a+", "r+b", ...); -1 for a mode it does not know.
int OpenFlags(const char* mode) {
    const bool update = std::strchr(mode, '+') != nullptr;
    switch (mode[0]) {
        case 'r':
            return update ? O_RDWR : O_RDONLY;
        case 'w':
            return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
        case 'a':
            return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
        default:
            return -1;
    }
}

bool IsNoKernelCopy(int error) {
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
           error == EBADF;
}
constexpr int kMaxTextLine = 4096;

// Restores a stream position when leaving a scope.
class PositionKeeper final {
  public:
    explicit PositionKeeper(std::FILE* file) : file_(file), position_(::ftello(file)) {}
    ~PositionKeeper() {
        if (position_ >= 0) ::fseeko(file_, position_, SEEK_SET);
    }
    PositionKeeper(const PositionKeeper&) = delete;
    PositionKeeper& operator=(const PositionKeeper&) = delete;

  private:
    std::FILE* file_;
    off_t position_;
};

bool SameBytes(std::FILE* a, std::FILE* b) {
    const std::int64_t left_a = RemainingBytes(a);
    if (left_a < 0 || left_a != RemainingBytes(b)) return false;
    std::vector<char> block_a(kCompareBlock);
    std::vector<char> block_b(kCompareBlock);
    for (;;) {
        const std::size_t n = std::fread(block_a.data(), 1, kCompareBlock, a);
        if (n == 0) return true;
        if (std::fread(block_b.data(), 1, n, b) != n) return false;
        if (std::memcmp(block_a.data(), block_b.data(), n) != 0) return false;
    }
}

// Next line without trailing bytes at or below space; false at the end.
bool ReadTrimmedLine(std::FILE* file, std::vector<char>& line, std::size_t& length) {
    if (!std::fgets(line.data(), kMaxTextLine, file)) return false;
    length = std::strlen(line.data());
    while (length > 0 && static_cast<unsigned char>(line[length - 1]) <= ' ') --length;
    return true;
}

bool SameText(std::FILE* a, std::FILE* b) {
    std::vector<char> line_a(kMaxTextLine);
    std::vector<char> line_b(kMaxTextLine);
    std::size_t length_a = 0;
    std::size_t length_b = 0;
    for (;;) {
        if (!ReadTrimmedLine(a, line_a, length_a)) return !ReadTrimmedLine(b, line_b, length_b);
        if (!ReadTrimmedLine(b, line_b, length_b)) return false;
        if (length_a != length_b || std::memcmp(line_a.data(), line_b.data(), length_a) != 0)
            return false;
    }
}

// open(2) with flags for a regular file only; the descriptor is left non-blocking.
platform::UniqueFd OpenRegular(const std::string& path, int flags, struct stat& info) {
    // Without O_NONBLOCK, opening a FIFO waits for its other end.
    platform::UniqueFd fd(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    return fd;
}

// The next piece of a copy of length bytes (negative: up to the end) of which total are done.
std::size_t NextPiece(std::int64_t length, std::int64_t total, std::size_t piece) {
    if (length < 0) return piece;
    return static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(piece), length - total));
}

}  // namespace

FilePtr OpenRegularFile(const std::string& path, const char* mode) {
    // Creating exclusively cannot open anything that is already there, so the checks below
    // have nothing to refuse: one system call instead of six.
    if (std::strchr(mode, 'x') != nullptr) {
        return FilePtr(std::fopen(path.c_str(), (std::string(mode) + 'e').c_str()));
    }
    const int flags = OpenFlags(mode);
    if (flags < 0) return nullptr;
    struct stat info {};
    platform::UniqueFd fd = OpenRegular(path, flags, info);
    if (!fd || ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0) {
        return nullptr;
    }
    FilePtr file(::fdopen(fd.get(), mode));
    if (file) fd.release();
    return file;
}

platform::UniqueFd OpenRegularForReading(const std::string& path, struct stat& info) {
    // Non-blocking makes no difference to reading a regular file.
    return OpenRegular(path, O_RDONLY, info);
}

bool CloseChecked(FilePtr& file) {
    if (!file) return false;
    const bool flushed = std::fflush(file.get()) == 0 && !std::ferror(file.get());
    const bool closed = std::fclose(file.release()) == 0;
    return flushed && closed;
}

std::int64_t RemainingBytes(std::FILE* file) {
    const std::int64_t end = StreamSize(file);
    const off_t position = ::ftello(file);
    if (end < 0 || position < 0) return -1;
    return end < position ? -1 : end - static_cast<std::int64_t>(position);
}

// Asked of the file rather than found by seeking to its end: a seek on a buffered stream
// refills the buffer, which reads the file once more.
std::int64_t StreamSize(std::FILE* file) {
    if (__fpending(file) > 0 && std::fflush(file) != 0) return -1;
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

bool EndStreamAt(std::FILE* file, std::int64_t end, std::int64_t size) {
    if (end < 0) return true;
    if (size < 0) size = StreamSize(file);
    if (size <= end) return size >= 0;
    return std::fflush(file) == 0 && ::ftruncate(::fileno(file), static_cast<off_t>(end)) == 0;
}

// Copies in the kernel, so no byte passes through this process: the bytes copied, -1 on a
// failure, or kNoKernelCopy when the two files do not allow it (different file systems, an
// output opened for appending) and nothing was copied.
constexpr std::int64_t kNoKernelCopy = -2;

// Flushing leaves both streams with empty buffers and their descriptors at the streams'
// positions, so the copy can go from and advance the descriptors' own offsets: the streams
// then go on from where it ended without a seek (which, on a stream open for reading, reads
// a whole buffer again).
std::int64_t CopyRestInKernel(std::FILE* from, std::FILE* to, std::int64_t length,
                              const StopCheck& stop) {
    if (std::fflush(from) != 0 || std::fflush(to) != 0) return kNoKernelCopy;
    std::int64_t total = 0;
    while (length < 0 || total < length) {
        const ssize_t n = ::copy_file_range(::fileno(from), nullptr, ::fileno(to), nullptr,
                                            NextPiece(length, total, kKernelCopyChunk), 0);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return total == 0 && IsNoKernelCopy(errno) ? kNoKernelCopy : -1;
        total += n;
        if (stop && stop()) break;
    }
    return total;
}

std::int64_t CopyRest(std::FILE* from, std::FILE* to, std::size_t block_size,
                      const StopCheck& stop, std::int64_t length) {
    const std::int64_t copied = CopyRestInKernel(from, to, length, stop);
    if (copied != kNoKernelCopy) return copied;
    std::vector<char> block(block_size);
    std::int64_t total = 0;
    while (length < 0 || total < length) {
        const std::size_t n =
            std::fread(block.data(), 1, NextPiece(length, total, block.size()), from);
        if (n == 0) return total;
        if (std::fwrite(block.data(), 1, n, to) != n) return -1;
        total += static_cast<std::int64_t>(n);
        if (stop && stop()) return total;
    }
    return total;
}

bool SameContent(std::FILE* a, std::FILE* b, bool as_text) {
    if (!a || !b) return false;
    PositionKeeper keep_a(a);
    PositionKeeper keep_b(b);
    return as_text ? SameText(a, b) : SameBytes(a, b);
}

}  // namespace kelvra::store
