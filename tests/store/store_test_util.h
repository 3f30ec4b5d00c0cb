#pragma once
// Helpers for store tests: a fresh data directory per test and small file utilities.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace kelvra::store::testing {

class TempDir final {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvra-store-XXXXXX");
        if (::mkdtemp(pattern.data())) path_ = pattern + "/";
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory with a trailing '/'.
    const std::string& path() const { return path_; }
    std::string operator/(std::string_view rel) const { return path_ + std::string(rel); }

  private:
    std::string path_;
};

inline void WriteFile(const std::string& path, std::string_view bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

}  // namespace kelvra::store::testing
