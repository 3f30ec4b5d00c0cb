#include "platform/rawfile.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

namespace kelvra::platform {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool WriteAndClose(std::FILE* file, std::string_view contents) {
    bool ok = contents.empty() ||
              std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    ok = std::fflush(file) == 0 && ok;
    return std::fclose(file) == 0 && ok;
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

bool ReplaceFileContents(const std::string& path, std::string_view contents) {
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    // Nothing was created when the open failed (the name may even be a directory): leave it.
    if (!file) return false;
    if (WriteAndClose(file, contents) && std::rename(temporary.c_str(), path.c_str()) == 0) {
        return true;
    }
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace kelvra::platform
