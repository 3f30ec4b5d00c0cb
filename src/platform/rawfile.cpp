#include "platform/rawfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/ownedfile.h"

namespace kelvra::platform {

namespace {

// Small writes are gathered up to this size, so that a file written in lines costs few calls.
constexpr std::size_t kReplacementBlock = 256 * 1024;

bool WriteAll(int fd, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

FileReplacement::FileReplacement(std::string path, mode_t mode)
    : path_(std::move(path)), temporary_(path_ + ".tmp") {
    // A temporary left by an interrupted write would keep its own permissions through a
    // truncating open; a new one gets ours.
    ::unlink(temporary_.c_str());
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    // Nothing was created when the open failed (the name may even be a directory): leave it.
    failed_ = fd_ < 0;
}

FileReplacement::~FileReplacement() {
    if (fd_ < 0) return;
    ::close(fd_);
    ::unlink(temporary_.c_str());
}

void FileReplacement::Write(std::string_view bytes) {
    if (failed_) return;
    if (buffer_.size() + bytes.size() < kReplacementBlock) {
        buffer_.append(bytes);
        return;
    }
    failed_ = !Drain() || !WriteAll(fd_, bytes);
}

bool FileReplacement::Drain() {
    const bool written = WriteAll(fd_, buffer_);
    buffer_.clear();
    return written;
}

bool FileReplacement::Commit() {
    if (failed_ || !Drain()) return false;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) == 0 && std::rename(temporary_.c_str(), path_.c_str()) == 0) return true;
    ::unlink(temporary_.c_str());
    failed_ = true;
    return false;
}

std::optional<std::string> ReadFileContents(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return std::nullopt;
    std::string contents;
    char block[16384];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) contents.append(block, got);
    if (std::ferror(file.get())) return std::nullopt;
    return contents;
}

bool ReplaceFileContents(const std::string& path, std::string_view contents, mode_t mode) {
    FileReplacement file(path, mode);
    file.Write(contents);
    return file.Commit();
}

}  // namespace kelvra::platform
