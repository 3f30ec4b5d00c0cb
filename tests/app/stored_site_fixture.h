#pragma once
// A started application core over a data directory holding objects stored the way a crawl
// stores them: a record in the store and, unless a test says otherwise, its data file. Local
// times are those of a fixed zone (UTC+9), so dates compare exactly.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "app/startup_core_fixture.h"
#include "util/fileutil.h"

namespace kelvra::testing {

class StoredSiteTest : public AppCoreTest {
  protected:
    // 2000-01-01 10:20 UTC, 19:20 in the fixed zone.
    static constexpr std::time_t kFileTime = 946722000;

    void SetUp() override {
        AppCoreTest::SetUp();
        if (const char* zone = std::getenv("TZ")) saved_zone_ = zone;
        ::setenv("TZ", "JST-9", 1);
        ::tzset();
        core_ = NewCore();
        ASSERT_TRUE(core_);
        core_->StartUp(0);
    }
    void TearDown() override {
        if (core_ && core_->Started()) core_->ShutDown(true);
        if (saved_zone_) {
            ::setenv("TZ", saved_zone_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

    store::headerlist_cookie& Store() { return core_->Store(); }

    // Records url with record (lines such as "CT:text/html\n") and, when body is given, writes
    // it as the data file dated kFileTime. Returns the data file's path.
    std::string Put(const std::string& url, const std::string& record,
                    const std::optional<std::string>& body) {
        EXPECT_NE(Store().Add(url, record, true), nullptr) << url;
        std::string path;
        EXPECT_TRUE(Store().GetUrlLocalPath(url, path)) << url;
        if (!body) return path;
        util::MakeDirectories(path, data_.size());
        std::ofstream(path, std::ios::binary) << *body;
        const utimbuf times{kFileTime, kFileTime};
        EXPECT_EQ(::utime(path.c_str(), &times), 0) << path;
        return path;
    }
    // A cookie entry under the key, as the cookie store keeps it.
    void PutCookie(const std::string& key) {
        store::treelistnode* node = Store().InsertKey(key);
        ASSERT_NE(node, nullptr);
        node->value() = store::NodeValue::Text("#\nname=value\n");
    }

    // A small site under host "h" with one entry of each kind the views tell apart, in the
    // store's order: the host's own document (entities and CR LF in its title), a cookie, an
    // object whose file was deleted, one of no known type, a directory holding only its own
    // document (a UTF-8 title), a 1025-byte page, an incomplete download, and a directory
    // without document whose files lie a level deeper.
    void PutSampleSite() {
        Put("http://h/", "CT:text/html\n",
            "<html><TITLE>\tTop &amp; &quot;Q&quot;\r\n &lt;x&gt;</title>");
        PutCookie("h/#c");
        Put("http://h/gone.html", "CT:text/html\n", std::nullopt);
        Put("http://h/notype.qqq", "LM:Sat, 01 Jan 2000 10:20:30 GMT\n", "x");
        Put("http://h/only/", "CT:text/html\n", "<title>\xE6\x97\xA5\xE6\x9C\xAC</title>");
        Put("http://h/page.html", "CT:text/html\nLM:Sat, 01 Jan 2000 10:20:30 GMT\n",
            "<title>P</title>" + std::string(1025 - 16, ' '));
        Put("http://h/part.bin", "CT:application/octet-stream\nXRange:bytes 0-9/99\n", "");
        Put("http://h/plain/deep/x.txt", "CT:text/plain\n", "x");
    }

    std::unique_ptr<app::AppCore> core_;

  private:
    std::optional<std::string> saved_zone_;
};

}  // namespace kelvra::testing
