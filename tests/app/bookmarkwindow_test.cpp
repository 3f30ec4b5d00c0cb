// The bookmark window's logic on a kelvraw.bm in a temporary data directory, with the main
// window and the dialogs scripted.

#include "app/bookmarkwindow.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>

#include "app/startup_scripted_ui.h"
#include "util/tempdir.h"

namespace kelvra::app {
namespace {

using Names = std::vector<std::string>;
using R = DialogResult;

class ScriptedHost final : public BookmarkHost {
  public:
    std::optional<std::string> PageTitle(const std::string& url) override {
        const auto found = titles.find(url);
        return found == titles.end() ? std::nullopt : std::optional(found->second);
    }
    bool RemoveData(const std::string& url) override {
        removed.push_back(url);
        return !refuse_removal;
    }
    std::optional<std::string> LinkedData(LinkedOperation operation,
                                          const std::vector<std::string>& urls) override {
        linked.push_back(urls);
        return operation == LinkedOperation::kRemove ? std::string() : destination;
    }
    void Fetch(const std::vector<std::string>& urls) override { fetched.push_back(urls); }
    bool EditBookmark(std::string_view caption, Bookmark& bookmark) override {
        edit_captions.emplace_back(caption);
        shown.push_back(bookmark);
        if (edits.empty()) return false;
        if (edits.front()) bookmark = *edits.front();
        const bool ok = edits.front().has_value();
        edits.pop_front();
        return ok;
    }
    std::optional<std::string> ChoosePage(std::string_view caption,
                                          const std::vector<std::string>& pages) override {
        edit_captions.emplace_back(caption);
        offered_pages = pages;
        return chosen_page;
    }

    std::map<std::string, std::string> titles;
    bool refuse_removal = false;
    std::string destination;
    std::deque<std::optional<Bookmark>> edits;  // none: Cancel
    std::optional<std::string> chosen_page;
    Names removed;
    std::vector<Names> linked;
    std::vector<Names> fetched;
    Names edit_captions;
    std::vector<Bookmark> shown;  // what each edit dialog opened with
    Names offered_pages;
};

class BookmarkWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }
    std::string Directory(const std::string& name = "") const { return dir_.Path(name) + "/"; }
    std::string Path() const { return Directory() + kBookmarkFileName; }
    void Write(const std::string& bytes) const { std::ofstream(Path(), std::ios::binary) << bytes; }
    std::string Read(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return in ? bytes.str() : "<missing>";
    }
    BookmarkWindowModel& Open(const std::string& bytes) {
        Write(bytes);
        model_ = std::make_unique<BookmarkWindowModel>(Directory(), ui_, host_);
        EXPECT_TRUE(model_->Open());
        return *model_;
    }

    testing::TempDir dir_;
    testing::ScriptedUserInterface ui_;
    ScriptedHost host_;
    std::unique_ptr<BookmarkWindowModel> model_;
};

TEST_F(BookmarkWindowTest, DeletingAsksBottomUpWithNoAsDefaultAndStopsAtCancelOrRefusal) {
    struct Case {
        std::deque<R> answers;
        bool refuse;
        Names left;
        Names removed;
        Names captions;
    };
    const std::string question =
        "上記のﾌﾞｯｸﾏｰｸを削除します\n\nﾃﾞｰﾀも消す場合は Y を、\nﾌﾞｯｸﾏｰｸだけ消す場合は N "
        "を選択してください";
    const Case cases[] = {
        {{R::kNo, R::kCancel},
         false,
         {"http://a/\tA", "http://b/\tB"},
         {},
         {"http://c/\tC", "http://b/\tB"}},
        {{R::kYes, R::kNo, R::kNo},
         false,
         {},
         {"http://c/"},
         {"http://c/\tC", "http://b/\tB", "http://a/\tA"}},
        {{R::kNo, R::kYes},
         true,
         {"http://a/\tA", "http://b/\tB"},
         {"http://b/"},
         {"http://c/\tC", "http://b/\tB", "ﾃﾞｰﾀ消去ｴﾗｰ"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.captions.size());
        ui_ = {};
        host_.removed.clear();
        BookmarkWindowModel& model = Open("[p]\nhttp://a/\tA\nhttp://b/\tB\nhttp://c/\tC\n");
        ui_.answers = c.answers;
        host_.refuse_removal = c.refuse;
        model.Delete({0, 1, 2});
        EXPECT_EQ(model.Entries(), c.left);
        EXPECT_EQ(host_.removed, c.removed);
        EXPECT_EQ(ui_.Captions(), c.captions);
        EXPECT_EQ(ui_.messages.front().text, question);
        EXPECT_EQ(ui_.defaults.front(), R::kNo);
    }
}

TEST_F(BookmarkWindowTest, AddingRefusesTheSameUrlAndOffersTheStoredTitle) {
    struct Case {
        Bookmark typed;
        std::deque<R> answers;
        Names entries;
        Names captions;
    };
    const Case cases[] = {
        {{"http://a/  ", "other"}, {}, {"http://a/\tA"}, {"http://a/"}},
        {{"http://T/", ""}, {R::kYes}, {"http://a/\tA", "http://t/\tStored"}, {"Stored"}},
        {{"http://t/", ""}, {R::kNo}, {"http://a/\tA", "http://t/\t"}, {"Stored"}},
        {{"http://n/", "New  "}, {}, {"http://a/\tA", "http://n/\tNew"}, {}},
    };
    host_.titles["http://t/"] = "Stored";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.url);
        ui_ = {};
        BookmarkWindowModel& model = Open("[p]\nhttp://a/\tA\n");
        host_.edits = {c.typed};
        ui_.answers = c.answers;
        const std::vector<std::size_t> selected = model.Add();
        EXPECT_EQ(model.Entries(), c.entries);
        EXPECT_EQ(ui_.Captions(), c.captions);
        EXPECT_EQ(selected.empty(), c.entries.size() == 1);
    }
}

TEST_F(BookmarkWindowTest, PagesAreWrittenBackOnlyAfterAChange) {
    const std::string bytes = "[p]\r\nhttp://a/\tA\r\nhttp://b/\tB\r\n[q]\r\nhttp://c/\tC\r\n";
    BookmarkWindowModel& model = Open(bytes);
    EXPECT_EQ(model.Move(1, EntryMove::kTop), (std::vector<std::size_t>{0}));
    model.SelectPage(1);
    EXPECT_EQ(model.Entries(), Names{"http://c/\tC"});
    model.SelectPage(0);
    EXPECT_EQ(model.Entries(), (Names{"http://b/\tB", "http://a/\tA"}));
    model.Move(0, EntryMove::kDown);
    ASSERT_TRUE(model.Close());
    EXPECT_EQ(Read(Path()), bytes) << "the move was undone";

    model.SetPageMode(false);
    EXPECT_EQ(model.Entries(), (Names{"http://a/\tA", "http://b/\tB", "http://c/\tC"}));
    host_.edits = {Bookmark{"http://x/", "X"}};
    EXPECT_TRUE(model.Add().empty()) << "no editing with every page shown";
    ui_.answers = {R::kYes, R::kCancel};
    model.LinkedData(LinkedOperation::kRemove, {0, 2});
    EXPECT_EQ(host_.linked, (std::vector<Names>{{"http://a/", "http://c/"}}));
    ASSERT_TRUE(model.Close());
    EXPECT_EQ(Read(Path()), "[p]\r\nhttp://a/\tA\r\nhttp://b/\tB\r\n[q]\r\n")
        << "the bottom entry deleted from its own page, then Cancel";

    ui_.answers.clear();
    ASSERT_EQ(std::remove(Path().c_str()), 0);
    ASSERT_TRUE(model.Open());
    ASSERT_TRUE(model.Close());
    EXPECT_EQ(Read(Path()), "<missing>");
}

TEST_F(BookmarkWindowTest, CopyingToAnotherDirectoryAndPageKeepsWhatIsThere) {
    BookmarkWindowModel& model = Open("[p]\nhttp://a/\tA\nhttp://b/\tB\n");
    host_.destination = dir_.Path("other");
    ASSERT_EQ(::mkdir(host_.destination.c_str(), 0755), 0);
    std::ofstream(Directory("other") + kBookmarkFileName) << "[P]\nhttp://b/\tmine\n";
    model.LinkedData(LinkedOperation::kCopy, {0, 1});
    EXPECT_EQ(Read(Directory("other") + kBookmarkFileName), "[P]\nhttp://b/\tmine\nhttp://a/\tA\n");

    host_.chosen_page = "New ";
    model.CopyToOtherPage({1}, /*move=*/true);
    EXPECT_EQ(host_.edit_captions.back(), "移動先のﾍﾟｰｼﾞを選択してください");
    EXPECT_EQ(model.PageNames(), (Names{"p", "New"}));
    EXPECT_EQ(model.Entries(), Names{"http://a/\tA"});
    ASSERT_TRUE(model.Close());
    EXPECT_EQ(Read(Path()), "[p]\nhttp://a/\tA\n[New]\nhttp://b/\tB\n");
}

TEST_F(BookmarkWindowTest, UrlsFromTheMainWindowSkipThoseAlreadyBookmarked) {
    host_.titles["http://t/"] = "Stored";
    BookmarkWindowModel& model = Open("[p]\nhttp://a/\tA\n[q]\nhttp://q/\tQ\n");
    host_.edits = {std::nullopt};
    model.AddFromMainWindow({"http://a/", "http://t/", "http://u/"}, /*by_user=*/true);
    EXPECT_EQ(ui_.Captions(), Names{"http://a/"}) << "already on this page";
    EXPECT_EQ(host_.shown.size(), 1u) << "Cancel ends the run";

    host_.shown.clear();
    host_.edits = {Bookmark{"http://t/", "Stored"}, Bookmark{"http://u/", "U"}};
    model.AddFromMainWindow({"http://q/", "http://t/", "http://u/ x"}, /*by_user=*/false);
    ASSERT_EQ(host_.shown.size(), 2u) << "a URL on any page is skipped silently";
    EXPECT_EQ(host_.shown[0].title, "Stored");
    EXPECT_EQ(host_.shown[1].url, "http://u/%20x");
    EXPECT_EQ(host_.shown[1].title, "http://u/%20x");
    EXPECT_EQ(host_.edit_captions.back(), "ﾌﾞｯｸﾏｰｸに登録します");
    EXPECT_EQ(model.Entries(), (Names{"http://a/\tA", "http://t/\tStored", "http://u/\tU"}));

    model.Fetch({0, 2});
    EXPECT_EQ(host_.fetched, (std::vector<Names>{{"http://a/", "http://u/"}}));
    EXPECT_EQ(BookmarkStatus(model.Entries(), {1}), "http://t/");
    EXPECT_EQ(BookmarkStatus(model.Entries(), {0, 1}), kBookmarkSeveralSelected);
}

TEST(BookmarkFontTest, TheRecordKeepsTheFaceAfterTheNumbers) {
    const ListFont font{"Noto Sans CJK JP", -14, 700, true, false, true};
    const std::vector<unsigned char> record = FontRecord(font);
    ASSERT_EQ(record.size(), 60u);
    EXPECT_EQ(std::string(record.begin() + 28, record.begin() + 44), font.face);
    EXPECT_EQ(record[0], 0xF2);
    const ListFont back = FontFromRecord(record);
    EXPECT_EQ(back.face, font.face);
    EXPECT_EQ(back.height, -14);
    EXPECT_EQ(back.weight, 700);
    EXPECT_TRUE(back.italic && back.strike_out && !back.underline);
}

}  // namespace
}  // namespace kelvra::app
