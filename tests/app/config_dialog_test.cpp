#include <gtest/gtest.h>

#include <string>

#include "app/settings.h"

namespace kelvra::app {
namespace {

TEST(ConfigDialogFieldsTest, DoubleClickChoiceShowsNothingForUnknownValues) {
    struct Row {
        int stored;
        int shown;
    };
    const Row rows[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {255, 4}, {-1, 4}};
    for (const Row& row : rows) {
        AppSettings s;
        s.tree_double_clicked = row.stored;
        EXPECT_EQ(ConfigDialogFieldsFrom(s).double_click, row.shown) << row.stored;
    }
}

TEST(ConfigDialogFieldsTest, ChoosingNothingStoresFour) {
    AppSettings s;
    ConfigDialogFields fields = ConfigDialogFieldsFrom(s);
    ApplyConfigDialogFields(fields, s);
    EXPECT_EQ(s.tree_double_clicked, 4);
}

TEST(ConfigDialogFieldsTest, StartModeAndDataUseSplitRunAtStart) {
    struct Row {
        int stored;
        int mode;
        int data_use;
        const char* why;
    };
    const Row rows[] = {
        {0, 0, 0, "stopped"},
        {18, 2, 1, "Proxy Mode, stored data always used"},
        {0x23, 3, 2, "Proxy Mode 2 with update check"},
        {1, 1, 0, "Local Mode"},
        {4, 0, 0, "Proxy Mode 3 is not offered: shows stopped"},
    };
    for (const Row& row : rows) {
        AppSettings s;
        s.run_at_start = row.stored;
        const ConfigDialogFields fields = ConfigDialogFieldsFrom(s);
        EXPECT_EQ(fields.start_mode, row.mode) << row.why;
        EXPECT_EQ(fields.data_use, row.data_use) << row.why;
    }
}

TEST(ConfigDialogFieldsTest, OkCopiesEveryFieldBack) {
    AppSettings s;
    ConfigDialogFields fields;
    fields.root_file_name = "home.htm";
    fields.size_limit = 100;
    fields.get_timeout = 30;
    fields.retry_count = 2;
    fields.save_cookie = true;
    fields.get_thread = 10;
    fields.double_click = 1;
    fields.threads = 20;
    fields.port = 5001;
    fields.reload_page = false;
    fields.save_post = true;
    fields.start_mode = 2;
    fields.data_use = 2;
    fields.ftp_password = "pw";
    fields.base_directory = std::string(300, 'd');
    ApplyConfigDialogFields(fields, s);
    EXPECT_EQ(s.root_file_name, "home.htm");
    EXPECT_EQ(s.size_limit, 100);
    EXPECT_EQ(s.get_timeout, 30);
    EXPECT_EQ(s.retry_count, 2);
    EXPECT_TRUE(s.save_cookie);
    EXPECT_EQ(s.get_thread, 10);
    EXPECT_EQ(s.tree_double_clicked, 1);
    EXPECT_EQ(s.threads, 20);
    EXPECT_EQ(s.port, 5001);
    EXPECT_FALSE(s.reload_page);
    EXPECT_TRUE(s.save_post);
    EXPECT_EQ(s.run_at_start, 0x22);
    EXPECT_EQ(s.ftp_password, "pw");
    EXPECT_EQ(s.base_directory, std::string(255, 'd')) << "texts are cut to 255 bytes";
    EXPECT_EQ(ConfigDialogFieldsFrom(s).data_use, 2);
}

TEST(ConfigDialogFieldsTest, NumbersStayInTheirFieldRanges) {
    AppSettings s;
    ConfigDialogFields fields = ConfigDialogFieldsFrom(s);
    fields.size_limit = DialogRange("SizeLimit").max + 1;
    fields.get_timeout = -1;
    fields.retry_count = 999;
    fields.port = 80;
    fields.get_thread = 0;
    fields.threads = 50;
    ApplyConfigDialogFields(fields, s);
    EXPECT_EQ(s.size_limit, 2097151);
    EXPECT_EQ(s.get_timeout, 0);
    EXPECT_EQ(s.retry_count, 255);
    EXPECT_EQ(s.port, 5001);
    EXPECT_EQ(s.get_thread, 1);
    EXPECT_EQ(s.threads, 20);
}

}  // namespace
}  // namespace kelvra::app
