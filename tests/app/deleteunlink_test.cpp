#include "app/deleteunlink.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "util/fileutil.h"
#include "util/tempdir.h"

namespace kelvra::app {
namespace {

using testing::TempDir;
using Files = std::vector<std::string>;

class DeleteUnlinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(data_dir_.ok() && destination_.ok());
        data_ = data_dir_.Path() + "/";
        store_ = std::make_unique<store::headerlistex>(data_, "index.html", std::nullopt, "");
        ASSERT_NE(store_->Add("http://h/a.txt", "CT:text/plain\n", true), nullptr);
        for (const char* name :
             {"kelvra.hif", "stray.txt", "h/a.txt", "h/orphan.txt", "h/sub/deep/x.bin"}) {
            Write(name);
        }
        util::MakeDirectories(data_ + "h/empty1/empty2/", data_.size());
    }
    void Write(const std::string& name) const {
        util::MakeDirectories(data_ + name, data_.size());
        std::ofstream(data_ + name) << name;
    }
    bool Exists(const std::string& path) const { return ::access(path.c_str(), F_OK) == 0; }

    TempDir data_dir_;
    TempDir destination_;
    std::string data_;
    std::unique_ptr<store::headerlistex> store_;
};

TEST_F(DeleteUnlinkTest, FindsFilesWithoutRecordsBelowTheSelection) {
    ProgressSink progress(nullptr);
    DeleteUnlink work(*store_, progress);
    EXPECT_EQ(work.FindUnlinked({""}), (Files{"h/orphan.txt", "h/sub/deep/x.bin"}));
    EXPECT_EQ(work.FindUnlinked({"http://h/sub/"}), Files{"h/sub/deep/x.bin"});
    EXPECT_EQ(work.FindUnlinked({"http://h/a.txt", "http://none/"}), Files{});
}

TEST_F(DeleteUnlinkTest, MovesOrRemovesTheChosenThenPrunesEmptyDirectories) {
    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "remove");
        Write("h/orphan.txt");
        Write("h/sub/deep/x.bin");
        util::MakeDirectories(data_ + "h/empty1/empty2/", data_.size());
        ProgressSink progress(nullptr);
        DeleteUnlink work(*store_, progress);
        const auto found = work.FindUnlinked({"/"});
        ASSERT_TRUE(found);
        const auto outcome =
            work.Process(*found, move ? std::optional(destination_.Path()) : std::nullopt);
        EXPECT_EQ(outcome.handled, 2);
        EXPECT_FALSE(Exists(data_ + "h/orphan.txt"));
        EXPECT_EQ(Exists(destination_.Path("h/sub/deep/x.bin")), move);
        EXPECT_EQ(work.PruneEmptyDirectories({""}), 4);
        EXPECT_TRUE(Exists(data_ + "h/a.txt"));
        EXPECT_FALSE(Exists(data_ + "h/sub"));
        EXPECT_FALSE(Exists(data_ + "h/empty1"));
        EXPECT_EQ(work.FindUnlinked({""}), Files{});
    }
}

TEST_F(DeleteUnlinkTest, CancelStopsTheSearchAndTheWork) {
    struct Cancelling : ProgressView {
        void ShowText(std::string_view) override {}
        void RunPendingEvents() override {}
        bool Quiet() const override { return false; }
        bool CancelRequested() const override { return true; }
    } view;
    ProgressSink progress(&view);
    DeleteUnlink work(*store_, progress);
    EXPECT_FALSE(work.FindUnlinked({""}));
    const auto outcome = work.Process({"h/orphan.txt"}, std::nullopt);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_TRUE(Exists(data_ + "h/orphan.txt"));
}

}  // namespace
}  // namespace kelvra::app
