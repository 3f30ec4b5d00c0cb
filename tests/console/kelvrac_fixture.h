#pragma once
// Runs the real kelvrac ($KELVRA_BIN/kelvrac) in a fresh temporary directory: settings under
// config/ (XDG_CONFIG_HOME), the data directory data/ named by BaseDirectory, and a kelvra.mcf
// without pauses between requests.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "util/tempdir.h"

namespace kelvra::testing {

inline constexpr int kRunTimeoutMs = 60000;

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

inline std::string BinDirectory() {
    const char* bin = std::getenv("KELVRA_BIN");
    return bin ? bin : "";
}

class KelvracTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        ASSERT_FALSE(BinDirectory().empty()) << "KELVRA_BIN is not set";
        config_ = dir_.Path("config");
        data_ = dir_.Path("data") + "/";
        ASSERT_EQ(::mkdir(config_.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((config_ + "/kelvraw").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(data_.c_str(), 0755), 0);
        WriteIni("[General]\nBaseDirectory=" + data_ + "\n[Orvane]\nPort=0\n");
        // One connection per host, no keep-alive: each URL is picked after the one before
        // it was committed.
        WriteData("kelvra.mcf", "* 0/1/11\n");
    }

    std::string IniPath() const { return config_ + "/kelvraw/kelvraw.ini"; }
    void WriteIni(const std::string& text) const { std::ofstream(IniPath()) << text; }
    void WriteData(const std::string& name, const std::string& bytes) const {
        std::ofstream(data_ + name, std::ios::binary) << bytes;
    }
    std::string Data(const std::string& name) const { return ReadWhole(data_ + name); }
    bool DataExists(const std::string& name) const { return FileExists(data_ + name); }

    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args,
                                        const std::string& program = {},
                                        const std::string& directory = {}) const {
        std::vector<std::string> argv = {program.empty() ? BinDirectory() + "/kelvrac" : program};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess::Options options;
        options.env = {"XDG_CONFIG_HOME=" + config_};
        options.env.insert(options.env.end(), env_.begin(), env_.end());
        options.directory = directory;
        auto child = std::make_unique<ChildProcess>(argv, options);
        EXPECT_TRUE(child->Started());
        return child;
    }

    // Runs to the end; the exit status, or -1 when it did not end in time.
    int Run(const std::vector<std::string>& args, std::string* out = nullptr,
            std::string* err = nullptr) const {
        auto child = Start(args);
        const int status = child->Wait(kRunTimeoutMs);
        if (out) *out = child->Out();
        if (err) *err = child->Err();
        return status;
    }

    TempDir dir_;
    std::vector<std::string> env_;  // more "NAME=value" for the program
    std::string config_;
    std::string data_;
};

}  // namespace kelvra::testing
