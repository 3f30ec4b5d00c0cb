#pragma once
// Whole-file reads and replacements that never leave a half-written file behind.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace kelvra::platform {

// The whole file; none when it cannot be opened or read.
std::optional<std::string> ReadFileContents(const std::string& path);

// A file written as path + ".tmp" and renamed over path once complete, for contents too large
// to be held whole: readers see the old file or the whole new one. Every write and the close
// are checked. The new file gets mode less the umask (0600 for one that holds secrets). Unless
// Commit succeeds, the temporary file is removed and an existing file at path is untouched.
class FileReplacement final {
  public:
    explicit FileReplacement(std::string path, mode_t mode = 0666);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Buffered; a failure shows at Commit.
    void Write(std::string_view bytes);
    // Writes what is buffered, closes and renames; false when anything failed.
    [[nodiscard]] bool Commit();

  private:
    bool Drain();

    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    bool failed_ = false;
    std::string buffer_;
};

// The whole of contents as a FileReplacement.
bool ReplaceFileContents(const std::string& path, std::string_view contents, mode_t mode = 0666);

}  // namespace kelvra::platform
