// The plug-in's C entry point over arbitrary files, called as the host calls it: the movie comes
// from disk, so the length a header announces meets the size the file really has, and the list
// comes back through its own operations. Run it with -timeout and -malloc_limit_mb: no movie may
// hang the scan or make the plug-in allocate what it only announces.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin-flash/florrin_plugin.h"

namespace {

constexpr std::size_t kMaxUrl = 2047;
constexpr int kDestroyAndFree = 3;

std::string& MoviePath() {
    static std::string path;
    return path;
}

void RemoveMovie() {
    unlink(MoviePath().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/fuzz_florrin-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0 || close(fd) != 0) std::abort();
    MoviePath() = name;
    std::atexit(RemoveMovie);
    if (_module_init() != 1) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* movie = std::fopen(MoviePath().c_str(), "wb");
    if (!movie) std::abort();
    const bool written = std::fwrite(data, 1, size, movie) == size;
    if (std::fclose(movie) != 0 || !written) std::abort();

    FlorrinList* list = _process_file(MoviePath().c_str(), "application/x-shockwave-flash");
    if (!list) return 0;
    list->ops->rewind(list);
    long seen = 0;
    while (const char* entry = list->ops->next(list)) {
        // marker 0 (an ordinary link), then a URL that fits an entry
        if (entry[0] != 0 || std::strlen(entry + 1) > kMaxUrl) __builtin_trap();
        ++seen;
    }
    if (seen != list->ops->count(list)) __builtin_trap();
    list->ops->destroy(list, kDestroyAndFree);
    return 0;
}
