#pragma once
// A main window over fresh settings (XDG_CONFIG_HOME in a temporary directory) and a fresh data
// directory named by BaseDirectory, with the scripted user interface; started as the program
// starts it (on the first show).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "app/startup.h"
#include "app/startup_scripted_ui.h"
#include "gui/kelvrawindow.h"
#include "util/tempdir.h"

namespace kelvra::testing {

inline constexpr int kWindowWaitMs = 20000;

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        ::setenv("XDG_CONFIG_HOME", dir_.Path("config").c_str(), 1);
        data_ = dir_.Path("data") + "/";
        ASSERT_EQ(::mkdir(data_.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(dir_.Path("config").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(dir_.Path("config/kelvraw").c_str(), 0755), 0);
        WriteIni("");
    }

    void TearDown() override {
        if (window_ && window_->Started()) window_->close();
    }

    // kelvraw.ini: the data directory and a server on a free port, then extra.
    void WriteIni(const std::string& extra) const {
        std::ofstream(IniPath()) << "[General]\nBaseDirectory=" << data_ << "\n[Orvane]\nPort=0\n"
                                 << extra;
    }
    std::string IniPath() const { return dir_.Path("config/kelvraw/kelvraw.ini"); }

    // Creates and shows the window and waits until its start-up has finished.
    gui::KelvraWindow& Start() {
        const char* argv[] = {"gui_tests"};
        std::optional<app::ProgramEnvironment> environment = app::PrepareProgram(ui_, 1, argv);
        EXPECT_TRUE(environment);
        window_ = std::make_unique<gui::KelvraWindow>(ui_, *environment);
        window_->show();
        EXPECT_TRUE(QTest::qWaitFor([this] { return window_->Started(); }, kWindowWaitMs));
        return *window_;
    }

    TempDir dir_;
    std::string data_;
    ScriptedUserInterface ui_;
    std::unique_ptr<gui::KelvraWindow> window_;
};

}  // namespace kelvra::testing
