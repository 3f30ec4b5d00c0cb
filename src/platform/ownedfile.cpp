#include "platform/ownedfile.h"

#include <unistd.h>

#include <utility>

namespace kelvra::platform {

void FileCloser::operator()(std::FILE* file) const {
    std::fclose(file);
}

UniqueFd::UniqueFd(int fd) : fd_(fd) {}

UniqueFd::~UniqueFd() {
    Close();
}

UniqueFd::UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::get() const {
    return fd_;
}

UniqueFd::operator bool() const {
    return fd_ >= 0;
}

int UniqueFd::release() {
    return std::exchange(fd_, -1);
}

bool UniqueFd::Close() {
    if (fd_ < 0) return false;
    return ::close(release()) == 0;
}

}  // namespace kelvra::platform
