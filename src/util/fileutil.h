#pragma once
// File and directory helpers. Paths use '/'.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace kelvra::util {

// -1 on failure.
std::int64_t FileSize(std::FILE* file);
std::int64_t FileSize(const std::string& path);

// 1 existing directory, 0 nothing there or not accessible, -1 something else. A trailing '/'
// is ignored.
int IsDirectory(const std::string& path);

// Longest path whose directories MakeDirectories will create.
inline constexpr std::size_t kMaxDirectoryWalk = 240;

// Creates the missing directories of path (every component before a '/' from offset on),
// stopping at the first that cannot be created or is a file, and only for separators within
// the first kMaxDirectoryWalk bytes. True when every directory now exists.
bool MakeDirectories(const std::string& path, std::size_t offset);

// The whole file; none when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Reads one line (up to LF, which is dropped) of at most limit bytes; the rest of a longer line
// is skipped. False at the end of the file with nothing read.
bool ReadLine(std::FILE* file, std::string& line, std::size_t limit);

// Copies in blocks of 10240 bytes; true when both files could be opened and every block written.
bool CopyFile(const std::string& from, const std::string& to);

}  // namespace kelvra::util
