#include "util/fileutil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ownedfile.h"
#include "platform/rawfile.h"

namespace kelvra::util {

namespace {

constexpr std::size_t kCopyBlock = 10240;

using platform::FilePtr;

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool CopyBlocks(std::FILE* in, std::FILE* out) {
    char block[kCopyBlock];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, in)) > 0) {
        if (std::fwrite(block, 1, got, out) != got) return false;
    }
    return !std::ferror(in);
}

}  // namespace

std::int64_t FileSize(std::FILE* file) {
    struct stat info {};
    if (!file || ::fstat(::fileno(file), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

std::int64_t FileSize(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

int IsDirectory(const std::string& path) {
    std::string name = path;
    if (name.size() > 1 && name.back() == '/') name.pop_back();
    struct stat info {};
    if (name.empty() || ::stat(name.c_str(), &info) != 0) return 0;
    return S_ISDIR(info.st_mode) ? 1 : -1;
}

bool MakeDirectories(const std::string& path, std::size_t offset) {
    std::size_t slash = path.find('/', offset);
    for (; slash != std::string::npos && slash < kMaxDirectoryWalk;
         slash = path.find('/', slash + 1)) {
        if (slash == 0) continue;  // the root
        const std::string directory = path.substr(0, slash);
        const int state = IsDirectory(directory);
        if (state == 1) continue;
        if (state == -1) return false;
        if (::mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    // Directories past the walk limit are not created; they count only when already there.
    const std::size_t last = path.rfind('/');
    if (slash == std::string::npos || last == std::string::npos || last == 0) return true;
    return IsDirectory(path.substr(0, last)) == 1;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    return platform::ReadFileContents(path);
}

bool CopyFile(const std::string& from, const std::string& to) {
    FilePtr in(std::fopen(from.c_str(), "rb"));
    // Opening the source itself for writing would truncate it before a byte was read.
    if (!in || SameFile(from, to)) return false;
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) return false;
    const bool copied = CopyBlocks(in.get(), out);
    struct stat target {};
    const bool regular = ::fstat(::fileno(out), &target) == 0 && S_ISREG(target.st_mode);
    if (std::fclose(out) == 0 && copied) return true;
    if (regular) ::unlink(to.c_str());  // a partial copy must not pass for the file
    return false;
}

bool ReadLine(std::FILE* file, std::string& line, std::size_t limit) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(file)) != EOF) {
        any = true;
        if (c == '\n') return true;
        if (line.size() < limit) line.push_back(static_cast<char>(c));
    }
    return any;
}

}  // namespace kelvra::util
