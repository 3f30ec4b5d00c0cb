// Lookups and changes of the header-information store.
#include <gtest/gtest.h>

#include <string>

#include "store/headerlistex.h"
#include "store/store_names.h"
#include "store/store_test_util.h"

namespace kelvra::store {
namespace {

using testing::TempDir;
using testing::WriteFile;

class StoreLookup : public ::testing::Test {
  protected:
    StoreLookup() {
        WriteFile(dir_ / "kelvra.mtf",
                  "# comment\n  html text/html\nHTM text/html\nlonely\n\tgif image/gif extra\n"
                  "png image/x-png\nhtml text/other\n");
        store_ = std::make_unique<headerlistex>(dir_.path(), "index.html", std::nullopt,
                                                dir_ / "kelvra.mtf");
    }
    TempDir dir_;
    std::unique_ptr<headerlistex> store_;
};

TEST_F(StoreLookup, MimeTableFormat) {
    // Comments and one-token lines are ignored; order is kept; the first match wins.
    EXPECT_EQ(store_->MimeTypeCount(), 5u);
    EXPECT_EQ(store_->TypeForExtension("html"), "text/html");
    EXPECT_EQ(store_->TypeForExtension("HTM"), "text/html");
    EXPECT_EQ(store_->TypeForExtension("Gif"), "image/gif");
    EXPECT_EQ(store_->TypeForExtension("lonely"), "");
    // Reverse: subtype without "x-", cut at ';', ignoring case.
    EXPECT_EQ(store_->ExtensionForType("text/HTML; charset=x"), "html");
    EXPECT_EQ(store_->ExtensionForType("image/png"), "png");
    EXPECT_EQ(store_->ExtensionForType("image/x-gif"), "gif");
    EXPECT_EQ(store_->ExtensionForType("application/zip"), "");
}

TEST_F(StoreLookup, MissingMimeTableLeavesItEmpty) {
    headerlistex store(dir_.path(), "index.html", std::nullopt, dir_ / "none.mtf");
    EXPECT_EQ(store.MimeTypeCount(), 0u);
}

TEST_F(StoreLookup, ContentTypeFromExtensionWhenLeftOut) {
    // text/plain for a .html URL is dropped and reported as text/html; image/gif is kept.
    store_->Add("http://h/a.html", "HTTP/1.1 200 OK\r\nContent-type: text/plain\r\n", true);
    store_->Add("http://h/b.html", "HTTP/1.1 200 OK\r\nContent-type: image/gif\r\n", true);
    std::string type;
    EXPECT_FALSE(store_->GetUrlField("http://h/a.html", "CT:", type));
    EXPECT_TRUE(store_->GetUrlContentType("http://h/a.html", type));
    EXPECT_EQ(type, "text/html");
    EXPECT_TRUE(store_->GetUrlContentType("http://h/b.html", type));
    EXPECT_EQ(type, "image/gif");
    EXPECT_TRUE(store_->IsHtml(store_->FindRecord("http://h/a.html")));
    EXPECT_FALSE(store_->IsHtml(store_->FindRecord("http://h/b.html")));
    // No record: the key's extension; neither source gives a type: failure.
    EXPECT_TRUE(store_->GetUrlContentType("http://h/none.gif?x", type));
    EXPECT_EQ(type, "image/gif");
    EXPECT_FALSE(store_->GetUrlContentType("http://h/none.zzz", type));
    EXPECT_EQ(type, "");
}

TEST_F(StoreLookup, KeysIgnoreHostCaseNotPathCase) {
    treelistnode* node = store_->Add("http://User:pw@WWW.Host.COM:80/Dir/a.html", "CT:x/y\n", true);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(store_->NodeKey(node), "www.host.com/Dir/a.html");
    EXPECT_EQ(store_->FindRecord("http://www.HOST.com/Dir/a.html"), node);
    EXPECT_EQ(store_->FindRecord("http://www.host.com/dir/a.html"), nullptr);
    // http and ftp share the key space; escapes of plain bytes are decoded.
    EXPECT_EQ(store_->FindRecord("ftp://www.host.com/Dir/%61.html"), node);
}

TEST_F(StoreLookup, QueryWithSlashStaysInOneName) {
    treelistnode* node = store_->Add("http://h/cgi/x.cgi?a=1/2", "CT:x/y\n", true);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->name(), "x.cgi?a=1/2");
    EXPECT_EQ(node->parent()->name(), "cgi");
    EXPECT_EQ(store_->NodeKey(node), "h/cgi/x.cgi?a=1/2");
}

TEST_F(StoreLookup, AddOverwriteRules) {
    treelistnode* first = store_->Add("http://h/a", "CT:one/x\n", true);
    EXPECT_EQ(store_->Add("http://h/a", "CT:two/x\n", false), first);
    EXPECT_STREQ(first->value().text(), "CT:one/x\n");
    EXPECT_EQ(store_->Add("http://h/a", "CT:two/x\n", true), first);
    EXPECT_STREQ(first->value().text(), "CT:two/x\n");
    // An empty normalised text leaves no text at all.
    store_->Add("http://h/a", "Date: x\n", true);
    EXPECT_TRUE(first->value().IsNone());
    // Cookie texts are kept as they are.
    treelistnode* jar = store_->Add("http://h/#", "#\nid=1\n", true);
    EXPECT_STREQ(jar->value().text(), "#\nid=1\n");
}

TEST_F(StoreLookup, EntryRule) {
    store_->Add("http://h/d/a", "CT:x/y\n", true);
    treelistnode* dir = store_->FindKey("h/d");
    ASSERT_NE(dir, nullptr);
    EXPECT_FALSE(store_->HasRecord(dir));  // inner node without text
    EXPECT_EQ(store_->FindRecordByKey("h/d"), nullptr);
    EXPECT_FALSE(store_->HasRecord(store_->Root()));
    treelistnode* leaf = store_->FindKey("h/d/a");
    leaf->value() = NodeValue::Removed();
    EXPECT_FALSE(store_->HasRecord(leaf));
    // A removed node takes a record again when one is added.
    EXPECT_EQ(store_->Add("http://h/d/a", "CT:x/y\n", false), leaf);
    EXPECT_TRUE(store_->HasRecord(leaf));
}

TEST_F(StoreLookup, FieldsAndRemoveField) {
    store_->Add("http://h/a", "WA:Basic\n realm=x\nLM:Sun, 06 Nov 1994 08:49:37 GMT\n", true);
    std::string value;
    EXPECT_TRUE(store_->GetUrlLastModified("http://h/a", value));
    EXPECT_EQ(value, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(store_->GetNodeModifiedTime(store_->FindRecord("http://h/a")), 784111777);
    EXPECT_TRUE(store_->RemoveField("http://h/a", "WA:"));
    EXPECT_STREQ(store_->FindRecord("http://h/a")->value().text(),
                 "LM:Sun, 06 Nov 1994 08:49:37 GMT\n");
    EXPECT_FALSE(store_->RemoveField("http://h/a", "WA:"));
    EXPECT_FALSE(store_->GetUrlField("http://h/none", "LM:", value));
    EXPECT_EQ(value, "");
    EXPECT_EQ(store_->GetNodeModifiedTime(store_->FindRecord("http://h/none")), 0);
}

TEST_F(StoreLookup, LocalPaths) {
    store_->Add("http://h:8080/a b/c.html", "CT:x/y\n", true);
    store_->Add("http://h/", "CT:x/y\n", true);
    store_->Add("http://h/q", "XF:h/elsewhere.html\n", true);
    std::string path;
    EXPECT_TRUE(store_->GetUrlLocalPath("http://h:8080/a b/c.html", path));
    EXPECT_EQ(path, dir_ / "h_8080/a%20b/c.html");
    EXPECT_TRUE(store_->GetUrlLocalPath("http://h/", path));
    EXPECT_EQ(path, dir_ / "h/index.html");
    EXPECT_TRUE(store_->GetUrlLocalPath("http://h/q", path));
    EXPECT_EQ(path, dir_ / "h/elsewhere.html");
    EXPECT_FALSE(store_->GetUrlLocalPath("http://h/none", path));
    EXPECT_EQ(path, "");
    EXPECT_FALSE(store_->LocalFileExists(store_->FindRecord("http://h/")));
    WriteFile(dir_ / "h/index.html", "x");
    EXPECT_TRUE(store_->LocalFileExists(store_->FindRecord("http://h/")));
}

TEST_F(StoreLookup, RemoveDropsSubtreeAndEmptyAncestors) {
    store_->Add("http://h/a/b/c.html", "CT:x/y\n", true);
    store_->Add("http://h/a/b/c.html/deeper", "CT:x/y\n", true);
    store_->Add("http://h/x.html", "CT:x/y\n", true);
    store_->SetChanged(false);
    EXPECT_TRUE(store_->Remove("http://h/a/b/c.html"));
    EXPECT_TRUE(store_->Changed());
    EXPECT_EQ(store_->FindKey("h/a/b/c.html/deeper"), nullptr);
    EXPECT_EQ(store_->FindKey("h/a"), nullptr);  // became empty
    EXPECT_NE(store_->FindKey("h"), nullptr);    // still has x.html
    EXPECT_FALSE(store_->Remove("http://h/a/b/c.html"));
}

TEST_F(StoreLookup, ListNodesOrder) {
    for (const char* url : {"http://b/1", "http://a/2", "http://b/3/4"}) store_->Add(url, "", true);
    std::vector<std::string> keys;
    for (const treelistnode* n : store_->ListNodes(store_->Root()))
        keys.push_back(store_->NodeKey(n));
    EXPECT_EQ(keys, (std::vector<std::string>{"b", "b/3", "b/3/4", "b/1", "a", "a/2"}));
}

TEST_F(StoreLookup, PathLimits) {
    std::string path;
    const std::string fits(255 - dir_.path().size(), 'n');
    EXPECT_TRUE(store_->LimitedDataPath(fits, path));
    EXPECT_FALSE(store_->LimitedDataPath(fits + "n", path));
    EXPECT_EQ(store_->OpenFile(fits + "n", "wb"), nullptr);
    EXPECT_EQ(store_->AccessFile(fits + "n", F_OK), -1);
    // A relative path never climbs out of the data directory.
    EXPECT_FALSE(store_->LimitedDataPath("h/../../x", path));
    EXPECT_EQ(store_->DataPath(), dir_.path());
}

TEST_F(StoreLookup, MakeDirectoriesReportsWhereItStopped) {
    EXPECT_EQ(store_->MakeDirectories("h/a/b"), -1);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "h/a/b"));
    WriteFile(dir_ / "h/file", "x");
    EXPECT_EQ(store_->MakeDirectories("h/file/sub"), 1);  // "h" was fine, "h/file" is a file
    WriteFile(dir_ / "top", "x");
    EXPECT_EQ(store_->MakeDirectories("top/sub"), 0);
    EXPECT_EQ(store_->MakeDirectories("h/../../escape"), 0);
    EXPECT_FALSE(testing::Exists(dir_ / "../escape"));
}

TEST_F(StoreLookup, MakeDirectoriesStopsNearThePathLimit) {
    const std::size_t room = 241 - dir_.path().size();
    const std::string first(room - 2, 'a');  // its '/' is at offset 239 of the full path
    const long made = store_->MakeDirectories(first + "/bbbb/cccc");
    // "a..a" and the part starting at 240 are made; the part starting at 245 is not.
    EXPECT_EQ(made, static_cast<long>(first.size() + 5));
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / (first + "/bbbb")));
    EXPECT_FALSE(std::filesystem::exists(dir_ / (first + "/bbbb/cccc")));
}

TEST_F(StoreLookup, GeneratedNames) {
    std::string name;
    ASSERT_TRUE(store_->MakeUniqueName(name, "h\\dir", "Content-type: text/html\n", 0));
    EXPECT_EQ(name, "h/dir/000000.html");
    ASSERT_TRUE(store_->MakeUniqueName(name, "h/x.cgi.", "", 36 + 35));
    EXPECT_EQ(name, "h/x.cgi.z10000.web");  // least significant digit first
    // Taken candidates are skipped.
    WriteFile(dir_ / "h/dir/000000.html", "x");
    WriteFile(dir_ / "h/dir/100000.html", "x");
    ASSERT_TRUE(store_->MakeUniqueName(name, "h/dir/", "Content-type: text/html\n", 0));
    EXPECT_EQ(name, "h/dir/200000.html");
    // Directories of the prefix never climb out.
    ASSERT_TRUE(store_->MakeUniqueName(name, "../../", "", 0));
    EXPECT_EQ(name, "%2e%2e/%2e%2e/000000.web");
    // A last segment that the digits extend is no dot segment any more.
    ASSERT_TRUE(store_->MakeUniqueName(name, "../..", "", 0));
    EXPECT_EQ(name, "%2e%2e/..000000.web");
}

TEST_F(StoreLookup, GeneratedNamesGiveUpAfter33) {
    for (std::uint32_t i = 0; i < 33; ++i) WriteFile(dir_ / ("h/" + Base36Seed(i) + ".web"), "");
    std::string name;
    EXPECT_FALSE(store_->MakeUniqueName(name, "h", "", 0));
    EXPECT_TRUE(store_->MakeUniqueName(name, "h", "", 1));  // seed 33 is free
    EXPECT_EQ(name, "h/x00000.web");
}

TEST_F(StoreLookup, SeedDigits) {
    EXPECT_EQ(Base36Seed(0), "000000");
    EXPECT_EQ(Base36Seed(35), "z00000");
    EXPECT_EQ(Base36Seed(36), "010000");
    // Only six digits: the value is taken modulo 36^6.
    EXPECT_EQ(Base36Seed(2176782336u + 1), "100000");
}

}  // namespace
}  // namespace kelvra::store
