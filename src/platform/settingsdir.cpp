#include "platform/settingsdir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace kelvra::platform {

namespace {

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeDirectory() {
    std::string home = EnvironmentValue("HOME");
    if (!home.empty()) return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        home = found->pw_dir;
    }
    return home;
}

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

bool IsExistingDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p: every prefix ending before a '/' and the whole path.
bool CreateDirectoryPath(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return IsExistingDirectory(path);
}

}  // namespace

std::string SettingsDirectory(bool use_current_directory) {
    if (use_current_directory) return "./";
    // The XDG base directory rules ignore a relative XDG_CONFIG_HOME.
    std::string base = EnvironmentValue("XDG_CONFIG_HOME");
    if (base.empty() || base.front() != '/') {
        const std::string home = HomeDirectory();
        if (home.empty()) return "./";
        base = WithSlash(home) + ".config";
    }
    return WithSlash(base) + "kelvraw/";
}

bool EnsureSettingsDirectory(bool use_current_directory) {
    const std::string directory = SettingsDirectory(use_current_directory);
    return IsExistingDirectory(directory) || CreateDirectoryPath(directory);
}

}  // namespace kelvra::platform
