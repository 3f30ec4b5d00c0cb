// "階層以下一覧出力": the exported list byte for byte, and the command around it.

#include "app/csvexport.h"

#include <gtest/gtest.h>

#include "app/stored_site_fixture.h"

namespace kelvra::app {
namespace {

using testing::StoredSiteTest;

class CsvExport : public StoredSiteTest {
  protected:
    std::string Lines(const std::string& url) {
        std::string out;
        AppendExportLines(Store(), url, out);
        return out;
    }
};

TEST_F(CsvExport, LinesOfAHostByteForByte) {
    PutSampleSite();
    // The host line carries its own document; cookies, the document's own node and the
    // directory without document are left out; titles stay in CP932.
    const std::string expected =
        "h,Top & \"Q\" &lt;x&gt;, ---, 2000/01/01 19:20, 1KB\n"
        "h/gone.html, (No object)\n"
        "h/notype.qqq,---, 2000/01/01 10:20, 2000/01/01 19:20, 1KB\n"
        "h/only,\x93\xfa\x96\x7b, ---, 2000/01/01 19:20, 1KB\n"
        "h/page.html,P, 2000/01/01 10:20, 2000/01/01 19:20, 2KB\n"
        "h/part.bin,(application/octet-stream), ---, 2000/01/01 19:20, 0KB\n"
        "h/plain/deep/x.txt,(text/plain), ---, 2000/01/01 19:20, 1KB\n";
    EXPECT_EQ(Lines("http://h/"), expected);
    EXPECT_EQ(Lines("http://h"), expected);
    EXPECT_EQ(Lines("http://h/only/"), "h/only,\x93\xfa\x96\x7b, ---, 2000/01/01 19:20, 1KB\n")
        << "a directory URL loses its final /";
    Put("http://h/q?a=1/", "CT:text/plain\n", "x");
    EXPECT_EQ(Lines("http://h/q?a=1/"), "h/q?a=1/,(text/plain), ---, 2000/01/01 19:20, 1KB\n")
        << "a URL with a query keeps it";
    EXPECT_EQ(Lines("http://nowhere/"), "");
}

TEST_F(CsvExport, TheCommandWritesTheFileAndTellsTheUser) {
    PutSampleSite();
    const std::string path = data_ + "list.csv";
    ui_.files = {path};
    BusyState busy = BusyState::kIdle;
    EXPECT_TRUE(ExportList(*core_, busy, {"http://h/page.html", "http://h/only/"}));
    EXPECT_EQ(busy, BusyState::kIdle);
    EXPECT_EQ(ReadFile(path),
              "h/page.html,P, 2000/01/01 10:20, 2000/01/01 19:20, 2KB\n"
              "h/only,\x93\xfa\x96\x7b, ---, 2000/01/01 19:20, 1KB\n");
    EXPECT_EQ(ui_.prompts, (std::vector<std::string>{kExportFileTitle}));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text, kExportDoneText);
    EXPECT_EQ(ui_.messages[0].caption, path);
    EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kInformation);
    EXPECT_EQ(ui_.statuses, (std::vector<std::string>{kExportProgressStatus, kExportDoneStatus}));
}

TEST_F(CsvExport, AHostWithoutStoredObjectsCannotBeSaved) {
    PutCookie("e/#c");
    Put("http://e/dir/gone/x.html", "CT:text/html\n", std::nullopt);
    Store().FindRecord("http://e/dir/gone/x.html")->value() = store::NodeValue::Removed();
    const std::string path = data_ + "empty.csv";
    ui_.files = {path};
    BusyState busy = BusyState::kIdle;
    EXPECT_TRUE(ExportList(*core_, busy, {"http://e/"}));
    EXPECT_FALSE(Exists(path));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text, kExportFailedText);
    EXPECT_EQ(ui_.messages[0].caption, path);
    EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kStop);
}

TEST_F(CsvExport, RefusedUnlessIdleAndNothingAskedWithoutUrls) {
    PutSampleSite();
    BusyState busy = BusyState::kCrawling;
    EXPECT_FALSE(ExportList(*core_, busy, {"http://h/"}));
    EXPECT_EQ(busy, BusyState::kCrawling);
    busy = BusyState::kIdle;
    EXPECT_TRUE(ExportList(*core_, busy, {}));
    EXPECT_TRUE(ui_.prompts.empty());
    EXPECT_TRUE(ui_.statuses.empty());
}

}  // namespace
}  // namespace kelvra::app
