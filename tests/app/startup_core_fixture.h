#pragma once
// A started application core over fresh settings (XDG_CONFIG_HOME in a temporary directory)
// and a fresh data directory named by BaseDirectory.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/appcore.h"
#include "app/startup.h"
#include "app/startup_scripted_ui.h"
#include "util/tempdir.h"

namespace kelvra::testing {

class AppCoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        ::setenv("XDG_CONFIG_HOME", dir_.Path("config").c_str(), 1);
        data_ = dir_.Path("data") + "/";
        ASSERT_EQ(::mkdir(data_.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(dir_.Path("config").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(dir_.Path("config/kelvraw").c_str(), 0755), 0);
        WriteIni("[General]\nBaseDirectory=" + data_ + "\n[Orvane]\nPort=0\n");
    }

    void WriteIni(const std::string& text) const { std::ofstream(IniPath()) << text; }
    std::string IniPath() const { return dir_.Path("config/kelvraw/kelvraw.ini"); }
    std::string PacPath() const { return dir_.Path("config/kelvraw/proxycfg.pac"); }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    static bool Exists(const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0;
    }

    // Program entry and main-window creation; StartUp is left to the test.
    std::unique_ptr<app::AppCore> NewCore() {
        const char* argv[] = {"app_tests"};
        std::optional<app::ProgramEnvironment> environment = app::PrepareProgram(ui_, 1, argv);
        EXPECT_TRUE(environment);
        if (!environment) return nullptr;
        auto core = std::make_unique<app::AppCore>(ui_, *environment);
        core->LoadSettings();
        return core;
    }

    TempDir dir_;
    std::string data_;
    ScriptedUserInterface ui_;
};

}  // namespace kelvra::testing
