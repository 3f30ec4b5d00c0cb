#include "platform/rawfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/ownedfile.h"

namespace kelvra::platform {

namespace {

bool WriteAndClose(UniqueFd& file, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t written = ::write(file.get(), contents.data(), contents.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
    return file.Close();
}

}  // namespace

std::optional<std::string> ReadFileContents(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return std::nullopt;
    std::string contents;
    char block[16384];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) contents.append(block, got);
    if (std::ferror(file.get())) return std::nullopt;
    return contents;
}

bool ReplaceFileContents(const std::string& path, std::string_view contents, mode_t mode) {
    const std::string temporary = path + ".tmp";
    // A temporary left by an interrupted write would keep its own permissions through a
    // truncating open; a new one gets ours.
    ::unlink(temporary.c_str());
    UniqueFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    // Nothing was created when the open failed (the name may even be a directory): leave it.
    if (!file) return false;
    if (WriteAndClose(file, contents) && std::rename(temporary.c_str(), path.c_str()) == 0) {
        return true;
    }
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace kelvra::platform
