#pragma once
// Whole-file reads and replacements that never leave a half-written file behind.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace kelvra::platform {

// The whole file; none when it cannot be opened or read.
std::optional<std::string> ReadFileContents(const std::string& path);

// Writes contents to path + ".tmp", checks every write and the close, and renames it over
// path. The new file gets mode less the umask (0600 for one that holds secrets). On failure
// the temporary file is removed and an existing file at path is untouched.
bool ReplaceFileContents(const std::string& path, std::string_view contents, mode_t mode = 0666);

}  // namespace kelvra::platform
