#pragma once
// Keeping requests inside the data directory: the relative path of a file that is served
// without a record, and the program's own files that are never served that way.

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvra::server {

// Longest relative path looked up as a file without record.
inline constexpr std::size_t kMaxSpoolRelative = 255;

// True for a file name (last path segment) of the program's own files: stored credentials,
// the header-information file and its journal, the condition and limit files, the access and
// prohibit lists, bookmarks, retry lists, and the progress log named progress_log.
bool IsProgramFile(std::string_view name, std::string_view progress_log);

// The relative path (with '/' separators) that a host-start text names under the data
// directory, taken literally (an escape such as "%2e" stays a plain name, as the store's file
// names keep escapes). Refused (none) when it is empty, too long, absolute, holds a backslash,
// a NUL or another control byte, or a "." or ".." segment, or names a program file in any
// segment.
std::optional<std::string> ConfinedRelativePath(std::string_view host_start,
                                                std::string_view progress_log);

// True for a path relative to the data directory that must never be served: a program file at
// the top of the data directory, and stored credentials or retry lists anywhere.
bool IsProtectedPath(std::string_view relative);

// full when that path exists and, with every symbolic link resolved, still lies inside the
// data directory and is not a protected path; none otherwise.
std::optional<std::string> InsideDataDirectory(const std::string& data_directory,
                                               const std::string& full);

// directory with every symbolic link resolved; empty when it does not exist.
std::string ResolvedPath(const std::string& directory);

// A read-only descriptor of the regular file full when the opened file, with every symbolic
// link resolved, lies inside the data directory whose resolved path is resolved_root and is
// not a protected path; -1 otherwise (also for directories, devices and pipes). The check is
// made on the opened file, so nothing can be swapped in between check and open. info, when
// given, receives the opened file's status.
int OpenInsideDataDirectory(const std::string& resolved_root, const std::string& full,
                            struct stat* info = nullptr);

}  // namespace kelvra::server
