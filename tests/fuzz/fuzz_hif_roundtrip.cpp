// kelvra.hif on arbitrary bytes: whatever loads is saved, and every saved record must load back
// (a record the loader cannot read ends a load there and loses all records after it).
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "store/headerlistex.h"

namespace {

const std::string& DataDirectory();

void RemoveDataDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(DataDirectory(), ignored);
}

// One data directory for the whole run, in memory where the system has one.
const std::string& DataDirectory() {
    static const std::string directory = [] {
        const std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                               ? "/dev/shm"
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / "kelvra-fuzz-hif-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) __builtin_trap();
        return pattern + "/";
    }();
    // Registered after the name was made, so it runs before the name is destroyed.
    static const bool removed_at_exit = std::atexit(RemoveDataDirectory) == 0;
    (void)removed_at_exit;
    return directory;
}

void WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) __builtin_trap();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) __builtin_trap();
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WriteInput(DataDirectory() + "kelvra.hif", data, size);
    long saved = 0;
    {
        kelvra::store::headerlistex store(DataDirectory(), "index.html", std::nullopt, "");
        static_cast<void>(store.Load("kelvra.hif"));  // any input: a broken file is a case too
        store.SetChanged(true);
        saved = store.Save("saved.hif", true);
        if (saved < 0) __builtin_trap();  // a write failed: nothing below would mean anything
    }
    kelvra::store::headerlistex again(DataDirectory(), "index.html", std::nullopt, "");
    const long loaded = again.Load("saved.hif");
    if (again.LoadStoppedEarly("saved.hif") || loaded != saved) __builtin_trap();
    return 0;
}
