#include "server/spoolpath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "util/strutil.h"

namespace kelvra::server {
namespace {

constexpr std::string_view kProgramFiles[] = {
    "$AuthCode$",   "kelvra.hif", "kelvraw.cf",  "kelvra.mcf",   "access.orv",
    "prohibit.orv", "kelvraw.bm", "kelvraw.ini", "proxycfg.pac",
};
// Journals and the temporary file of a save keep these names as prefix.
constexpr std::string_view kProgramPrefixes[] = {"kelvra.log", "kelvra.hif"};
constexpr std::string_view kRetryListExtension = ".rlf";

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           util::EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool HasBadByte(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '\\') return true;
    }
    return false;
}

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

// The path of an open descriptor as the kernel resolved it; empty when /proc is not there.
std::string DescriptorPath(int fd) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target);
    return n > 0 && static_cast<std::size_t>(n) < sizeof target
               ? std::string(target, static_cast<std::size_t>(n))
               : std::string();
}

// An absolute path without empty, "." or ".." segments: opened without following any link, it
// names the file opened as it is written.
bool IsPlainAbsolute(std::string_view path) {
    if (path.size() < 2 || path.front() != '/') return false;
    path.remove_prefix(1);
    for (;;) {
        const std::size_t slash = path.find('/');
        const std::string_view segment = path.substr(0, slash);
        if (segment.empty() || segment == "." || segment == "..") return false;
        if (slash == std::string_view::npos) return true;
        path.remove_prefix(slash + 1);
    }
}

// Non-blocking, so that a pipe put in place of a file cannot hold the worker in open().
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

// Opens path refusing every symbolic link on the way, so that the file opened is the one the
// text names and no lookup of its real path is needed. None when the kernel cannot say so (no
// openat2, or a link on the way): the caller then resolves the opened file's path itself.
std::optional<int> OpenWithoutLinks(const std::string& path) {
    open_how how{};
    how.flags = kOpenFlags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno == ENOENT || errno == ENOTDIR || errno == EACCES) return -1;
    return std::nullopt;
}

// real (resolved) names a servable path below the resolved root.
bool ResolvedInside(std::string_view root, std::string_view real) {
    if (root.empty() || real.empty()) return false;
    if (root.back() == '/') root.remove_suffix(1);
    if (real.size() <= root.size() + 1 || !real.starts_with(root) || real[root.size()] != '/') {
        return false;
    }
    return !IsProtectedPath(real.substr(root.size() + 1));
}

}  // namespace

bool IsProgramFile(std::string_view name, std::string_view progress_log) {
    for (std::string_view own : kProgramFiles) {
        if (util::EqualsNoCase(name, own)) return true;
    }
    for (std::string_view prefix : kProgramPrefixes) {
        if (util::StartsWithNoCase(name, prefix)) return true;
    }
    if (EndsWithNoCase(name, kRetryListExtension)) return true;
    return !progress_log.empty() && util::EqualsNoCase(name, progress_log);
}

std::optional<std::string> ConfinedRelativePath(std::string_view host_start,
                                                std::string_view progress_log) {
    if (host_start.empty() || host_start.size() > kMaxSpoolRelative || host_start.front() == '/' ||
        HasBadByte(host_start)) {
        return std::nullopt;
    }
    std::string_view rest = host_start;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        if (segment == "." || segment == ".." || IsProgramFile(segment, progress_log)) {
            return std::nullopt;
        }
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return std::string(host_start);
}

bool IsProtectedPath(std::string_view relative) {
    const std::size_t last = relative.rfind('/');
    const std::string_view name =
        last == std::string_view::npos ? relative : relative.substr(last + 1);
    if (util::EqualsNoCase(name, "$AuthCode$") || EndsWithNoCase(name, kRetryListExtension)) {
        return true;
    }
    return last == std::string_view::npos && IsProgramFile(name, {});
}

std::optional<std::string> InsideDataDirectory(const std::string& data_directory,
                                               const std::string& full) {
    if (!ResolvedInside(RealPath(data_directory), RealPath(full))) return std::nullopt;
    return full;
}

std::string ResolvedPath(const std::string& directory) {
    return RealPath(directory);
}

int OpenInsideDataDirectory(const std::string& resolved_root, const std::string& full,
                            struct stat* status) {
    // The usual case, a path without links, costs one call; the resolved path is asked of the
    // kernel only when a link was on the way.
    const std::optional<int> unlinked =
        IsPlainAbsolute(full) ? OpenWithoutLinks(full) : std::optional<int>();
    const int fd = unlinked ? *unlinked : ::open(full.c_str(), kOpenFlags);
    if (fd < 0) return -1;
    struct stat info {};
    std::string resolved;
    if (!unlinked) {
        resolved = DescriptorPath(fd);
        if (resolved.empty()) resolved = RealPath(full);
    }
    const std::string& real = unlinked ? full : resolved;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !ResolvedInside(resolved_root, real)) {
        ::close(fd);
        return -1;
    }
    if (status != nullptr) *status = info;
    return fd;
}

}  // namespace kelvra::server
