// Hostile responses and keys must never make the store write outside its data directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "store/headerlistex.h"
#include "store/store_names.h"
#include "store/store_test_util.h"
#include "util/header.h"

namespace kelvra::store {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using namespace std::string_literals;

class Confinement : public ::testing::Test {
  protected:
    Confinement() : data_(outer_ / "spool/data/") {
        std::filesystem::create_directories(data_);
        store_ = std::make_unique<headerlistex>(data_, "index.html", "kelvra.log", "");
    }

    CommitResult Commit(const std::string& url, const std::string& header, const std::string& body,
                        unsigned flags = 0) {
        const std::string response = outer_ / ("response" + std::to_string(++count_));
        WriteFile(response, header + body);
        ReceivedObject job;
        job.header_length = static_cast<std::int64_t>(header.size());
        const CommitResult result = store_->Commit(url, response, job, flags).result;
        std::filesystem::remove(response);
        return result;
    }

    // Every file or directory outside the data directory (there must be none).
    std::vector<std::string> Outside() const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(outer_.path())) {
            const std::string path = entry.path().string();
            if (path + "/" == data_ || path.starts_with(data_)) continue;
            if (path + "/" == outer_ / "spool/") continue;
            found.push_back(path);
        }
        return found;
    }
    std::string Record(const std::string& url) {
        const treelistnode* node = store_->FindRecord(url);
        return node && node->value().text() ? node->value().text() : "";
    }

    TempDir outer_;
    const std::string data_;
    std::unique_ptr<headerlistex> store_;
    int count_ = 0;
};

struct HostileName {
    const char* what;
    const char* line;
};

class HostileNames : public Confinement, public ::testing::WithParamInterface<HostileName> {};

// The response names its own local file; none of these names may be used.
TEST_P(HostileNames, AreIgnoredAndTheNameIsDerived) {
    const std::string header =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"s + GetParam().line + "\r\n\r\n";
    EXPECT_EQ(Commit("http://h/d/page.html", header, "body"), CommitResult::Stored);
    EXPECT_EQ(ReadFile(data_ + "h/d/page.html"), "body") << GetParam().what;
    EXPECT_EQ(util::FindHeader(Record("http://h/d/page.html"), "XF:"), "") << GetParam().what;
    std::string path;
    store_->GetUrlLocalPath("http://h/d/page.html", path);
    EXPECT_EQ(path, data_ + "h/d/page.html");
    EXPECT_EQ(Outside(), std::vector<std::string>{}) << GetParam().what;
}

const HostileName kHostileNames[] = {
    {"absolute", "XF:/tmp/evil.html"},
    {"absolute in X-Fn", "X-Fn: /tmp/evil.html"},
    {"parent segments", "XF:h/../../../evil.html"},
    {"parent segments in X-Fn", "X-Fn: ../../evil.html"},
    {"dot segment", "XF:h/./d/page.html"},
    {"backslash", "XF:h\\..\\..\\evil.html"},
    {"control byte", "XF:h/d/\x01page.html"},
    {"trailing parent", "XF:h/d/.."},
    {"drive letter", "XF:C:/evil.html"},
    {"no directory", "XF:kelvra.hif"},
};

INSTANTIATE_TEST_SUITE_P(Cases, HostileNames, ::testing::ValuesIn(kHostileNames));

TEST_F(Confinement, HostileNameInLoadedFileIsNotUsed) {
    WriteFile(data_ + "kelvra.hif", "h/p.html\nXF:../../evil.html\n\0"s);
    EXPECT_EQ(store_->Load("kelvra.hif"), 1);
    std::string path;
    store_->GetUrlLocalPath("http://h/p.html", path);
    EXPECT_EQ(path, data_ + "h/p.html");
    EXPECT_EQ(Commit("http://h/p.html", "HTTP/1.1 200 OK\r\n\r\n", "x"), CommitResult::Stored);
    EXPECT_EQ(ReadFile(data_ + "h/p.html"), "x");
    EXPECT_EQ(Outside(), std::vector<std::string>{});
}

TEST_F(Confinement, HostileNameInRecordIsNotCarriedOver) {
    // However a record came by such a name, it is neither carried over nor followed.
    treelistnode* node = store_->Add("http://h/p.html", "", true);
    node->value() = NodeValue::Text("XF:../../evil.html\n");
    std::string path;
    store_->GetNodeLocalPath(node, path);
    EXPECT_EQ(path, data_ + "h/p.html");
    EXPECT_EQ(Commit("http://h/p.html", "HTTP/1.1 200 OK\r\n\r\n", "x"), CommitResult::Stored);
    EXPECT_EQ(ReadFile(data_ + "h/p.html"), "x");
    EXPECT_EQ(Outside(), std::vector<std::string>{});
}

TEST_F(Confinement, ContentLocationOfAnotherHostIsIgnored) {
    EXPECT_EQ(Commit("http://h/a.html",
                     "HTTP/1.1 200 OK\r\nContent-Location: http://victim/index.html\r\n\r\n", "x"),
              CommitResult::Stored);
    EXPECT_EQ(ReadFile(data_ + "h/a.html"), "x");
    EXPECT_FALSE(testing::Exists(data_ + "victim/index.html"));
}

TEST_F(Confinement, ContentLocationIsNormalisedUnderTheSameHost) {
    EXPECT_EQ(Commit("http://h/d/a",
                     "HTTP/1.1 200 OK\r\nContent-Location: ../../../../a.en.html\r\n\r\n", "x"),
              CommitResult::Stored);
    // "../" above the host folds away: the name stays under h/.
    EXPECT_EQ(ReadFile(data_ + "h/a.en.html"), "x");
    EXPECT_EQ(util::FindHeader(Record("http://h/d/a"), "XF:"), "h/a.en.html");
    EXPECT_EQ(Outside(), std::vector<std::string>{});
}

TEST_F(Confinement, ContentLocationNamingAnotherHostByDotsIsIgnored) {
    EXPECT_EQ(Commit("http://h/a.html",
                     "HTTP/1.1 200 OK\r\nContent-Location: http://../../evil.html\r\n\r\n", "x"),
              CommitResult::Stored);
    EXPECT_EQ(ReadFile(data_ + "h/a.html"), "x");
    EXPECT_EQ(Outside(), std::vector<std::string>{});
}

struct HostileKey {
    const char* what;
    const char* url;
};

class HostileKeys : public Confinement, public ::testing::WithParamInterface<HostileKey> {};

// Keys whose host or segments would climb out are stored under escaped names inside.
TEST_P(HostileKeys, StayInside) {
    EXPECT_EQ(Commit(GetParam().url, "HTTP/1.1 200 OK\r\n\r\n", "k"), CommitResult::Stored)
        << GetParam().what;
    std::string path;
    ASSERT_TRUE(store_->GetUrlLocalPath(GetParam().url, path)) << GetParam().what;
    EXPECT_TRUE(path.starts_with(data_));
    EXPECT_FALSE(HasParentSegment(path.substr(data_.size()))) << path;
    EXPECT_EQ(ReadFile(path), "k") << GetParam().what;
    EXPECT_EQ(Outside(), std::vector<std::string>{}) << GetParam().what;
}

const HostileKey kHostileKeys[] = {
    {"dot-dot host", "http://../evil.html"},
    {"dot-dot host, deeper", "http://../../../evil.html"},
    {"dot host", "http://./evil.html"},
    {"trailing parent", "http://../.."},
    {"dot-dot host with query", "http://../x.cgi?a=1"},
    {"backslashes in host", "http://..\\..\\evil/x.html"},
};

INSTANTIATE_TEST_SUITE_P(Cases, HostileKeys, ::testing::ValuesIn(kHostileKeys));

TEST(ConfinedNames, Rules) {
    EXPECT_TRUE(IsConfinedName("h/a.html"));
    EXPECT_TRUE(IsConfinedName("h/dir/"));
    EXPECT_TRUE(IsConfinedName("h/a..b/.c"));
    EXPECT_FALSE(IsConfinedName(""));
    EXPECT_FALSE(IsConfinedName("h//a"));
    EXPECT_FALSE(IsConfinedName("h/\x7f"));
    EXPECT_FALSE(IsConfinedName(std::string(2048, 'a') + "/x"));
    std::string name = "../a/./b/..\\c/\x01";
    ConfineName(name);
    EXPECT_EQ(name, "%2e%2e/a/%2e/b/..%5cc/%01");
}

}  // namespace
}  // namespace kelvra::store
