#pragma once
// A fresh temporary directory, removed with everything in it when the object goes.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kelvra::crawl::testing {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "crawltest.XXXXXX");
        char* made = ::mkdtemp(pattern.data());
        path_ = made != nullptr ? std::string(made) + "/" : std::string();
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Ends in '/'.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace kelvra::crawl::testing
