#pragma once
// The comma-separated progress log of a crawl: one line per status change of a worker.

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace kelvra::crawl {

class ProgressLog final {
  public:
    ProgressLog() = default;
    ~ProgressLog();
    ProgressLog(const ProgressLog&) = delete;
    ProgressLog& operator=(const ProgressLog&) = delete;

    // "%ld_%s" from the start time and the ProgressLog setting, in the data directory.
    static std::string FileName(std::time_t start, std::string_view setting);

    // Creates the file and writes its header line; false (logging stays off) when it cannot
    // be created. directory ends in '/' or is empty (current directory).
    bool Open(const std::string& directory, std::string_view setting, std::time_t start);
    // "%d, %ld, %s, %s\n", flushed at once; a status that is blank writes nothing.
    void LogStatus(int worker, std::time_t now, std::string_view url, std::string_view status);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Path() const { return path_; }

  private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::string path_;
};

}  // namespace kelvra::crawl
