#pragma once
// Owning handles for open files: a FILE* stream and a plain descriptor, each closed when its
// owner leaves scope. Code that wrote through one closes it explicitly to learn whether the
// data reached the system; the destructor has nobody to tell.

#include <cstdio>
#include <memory>

namespace kelvra::platform {

struct FileCloser {
    void operator()(std::FILE* file) const;
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

class UniqueFd final {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd);
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const;
    explicit operator bool() const;
    // Hands the descriptor to the caller, who closes it.
    int release();
    // Closes now; false when there was nothing open or close(2) failed.
    bool Close();

  private:
    int fd_ = -1;
};

}  // namespace kelvra::platform
