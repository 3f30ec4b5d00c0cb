#pragma once
// Whole-file reads and replacements that never leave a half-written file behind.

#include <optional>
#include <string>
#include <string_view>

namespace kelvra::platform {

// The whole file; none when it cannot be opened or read.
std::optional<std::string> ReadFileContents(const std::string& path);

// Writes contents to path + ".tmp", checks every write and the close, and renames it over
// path. On failure the temporary file is removed and an existing file at path is untouched.
bool ReplaceFileContents(const std::string& path, std::string_view contents);

}  // namespace kelvra::platform
