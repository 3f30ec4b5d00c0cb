#pragma once
// A fresh kelvraw.ini per test in a temporary directory; XDG_CONFIG_HOME points there too, so
// no test ever touches the real settings directory.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/profile.h"
#include "util/tempdir.h"

namespace kelvra::testing {

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        ::setenv("XDG_CONFIG_HOME", dir_.Path("config").c_str(), 1);
        ini_ = dir_.Path("kelvraw.ini");
    }

    void WriteIni(const std::string& text) const { std::ofstream(ini_, std::ios::binary) << text; }

    std::string ReadIni() const {
        std::ifstream in(ini_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The stored value, or "<missing>".
    std::string Value(const std::string& section, const std::string& key) const {
        return platform::GetPrivateProfileString(section, key, "<missing>", ini_);
    }

    // The file as one document (empty when missing), and writing one back.
    platform::ProfileDocument Document() const { return *platform::ProfileDocument::Load(ini_); }
    bool Store(const platform::ProfileDocument& document) const { return document.Save(ini_); }

    TempDir dir_;
    std::string ini_;
};

}  // namespace kelvra::testing
