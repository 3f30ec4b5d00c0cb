#include "platform/settingsdir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "util/tempdir.h"

namespace kelvra::platform {
namespace {

// Sets or clears an environment variable for one test and restores it afterwards.
class ScopedEnv final {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

bool IsDir(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

TEST(SettingsDirectory, CurrentDirectoryWithCd) {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/somewhere");
    EXPECT_EQ(SettingsDirectory(true), "./");
}

TEST(SettingsDirectory, XdgConfigHome) {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg/home");
    EXPECT_EQ(SettingsDirectory(false), "/cfg/home/kelvraw/");
    ScopedEnv slash("XDG_CONFIG_HOME", "/cfg/home/");
    EXPECT_EQ(SettingsDirectory(false), "/cfg/home/kelvraw/");
}

TEST(SettingsDirectory, FallsBackToHomeConfig) {
    ScopedEnv home("HOME", "/home/user");
    for (const char* unusable : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
        // Unset, empty and relative XDG_CONFIG_HOME all mean $HOME/.config.
        ScopedEnv xdg("XDG_CONFIG_HOME", unusable);
        EXPECT_EQ(SettingsDirectory(false), "/home/user/.config/kelvraw/")
            << (unusable ? unusable : "(unset)");
    }
}

TEST(EnsureSettingsDirectory, CreatesMissingParents) {
    kelvra::testing::TempDir dir;
    ASSERT_TRUE(dir.ok());
    ScopedEnv xdg("XDG_CONFIG_HOME", (dir.Path() + "/deep/config").c_str());
    const std::string settings = SettingsDirectory(false);
    EXPECT_FALSE(IsDir(settings)) << "SettingsDirectory must not create anything";
    ASSERT_TRUE(EnsureSettingsDirectory(false));
    EXPECT_TRUE(IsDir(settings));
    EXPECT_TRUE(EnsureSettingsDirectory(false)) << "an existing directory is fine";
}

TEST(EnsureSettingsDirectory, FailsWhenAFileIsInTheWay) {
    kelvra::testing::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string file = dir.Path("config");
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ScopedEnv xdg("XDG_CONFIG_HOME", file.c_str());
    EXPECT_FALSE(EnsureSettingsDirectory(false));
}

TEST(EnsureSettingsDirectory, CurrentDirectoryAlwaysExists) {
    EXPECT_TRUE(EnsureSettingsDirectory(true));
}

}  // namespace
}  // namespace kelvra::platform
