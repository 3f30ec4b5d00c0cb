#pragma once
// A fresh directory under $TMPDIR (or /tmp) for one test, removed with everything in it.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace kelvra::testing {

class TempDir final {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kelvra-XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    // The directory itself, or name inside it.
    std::string Path(const std::string& name = {}) const {
        return name.empty() ? path_ : path_ + "/" + name;
    }

  private:
    std::string path_;
};

}  // namespace kelvra::testing
