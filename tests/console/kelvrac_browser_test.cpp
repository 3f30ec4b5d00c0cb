// A real browser through kelvrac serve: headless Chromium loads a mirrored page in Local Mode
// while its origin is gone, and everything the page needs comes from the store.

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>

#include "kelvrac_fixture.h"
#include "test_site.h"

namespace kelvra::testing {
namespace {

constexpr const char* kChromium[] = {"/usr/bin/chromium", "/usr/bin/chromium-browser"};
constexpr int kBrowserTimeoutMs = 90000;

std::string FindChromium() {
    for (const char* path : kChromium) {
        if (::access(path, X_OK) == 0) return path;
    }
    return {};
}

class KelvracBrowser : public KelvracTest {};

TEST_F(KelvracBrowser, LoadsAMirroredPageOfflineWithEverySubresourceFromTheStore) {
    const std::string chromium = FindChromium();
    if (chromium.empty()) {
        GTEST_SKIP() << "Chromium is not installed: Debian's chromium (scripts/install-packages "
                        "browser) could not be installed here";
    }
    std::string page_url;
    {
        TestSite site;
        site.Put("/", "text/html",
                 "<html><head><title>Stored Title</title>"
                 "<link rel=\"stylesheet\" href=\"style.css\"><script src=\"app.js\"></script>"
                 "</head><body><img src=\"logo.png\" onload=\"document.body.dataset.img='ok'\">"
                 "</body></html>\n");
        site.Put("/style.css", "text/css", "body { color: #123456; }\n");
        site.Put("/app.js", "application/javascript",
                 "document.addEventListener('DOMContentLoaded', function () {"
                 " document.body.dataset.js = getComputedStyle(document.body).color; });\n");
        // A 1x1 GIF, small enough to keep in the source.
        site.Put("/logo.png", "image/gif",
                 std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!"
                             "\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00"
                             "\x00\x02\x02\x44\x01\x00;",
                             43));
        page_url = site.Url("/");
        std::string out;
        ASSERT_EQ(Run({"get", "-w", "0", page_url}, &out), 0) << out;
    }  // the origin is gone from here on

    auto serve = Start({"serve", "-v", "local"});
    ASSERT_TRUE(serve->WaitForOutput(" on port ", 30000)) << serve->Out() << serve->Err();
    ASSERT_TRUE(serve->WaitForOutput("\n", 30000));
    std::smatch match;
    const std::string announced = serve->Out();
    ASSERT_TRUE(std::regex_search(announced, match, std::regex(" on port ([0-9]+)\n")));
    const std::string port = match[1];

    ChildProcess::Options options;
    options.env = {"HOME=" + dir_.Path(), "XDG_CONFIG_HOME=" + dir_.Path("chromium-config")};
    options.discard_stderr = true;  // its own chatter
    ChildProcess browser(
        {chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-background-networking", "--disable-component-update",
         "--user-data-dir=" + dir_.Path("chromium-profile"), "--proxy-server=127.0.0.1:" + port,
         // Loopback addresses go through the proxy too, as the stored page's host is one.
         "--proxy-bypass-list=<-loopback>", "--virtual-time-budget=5000", "--dump-dom", page_url},
        options);
    ASSERT_TRUE(browser.Started());
    ASSERT_EQ(browser.Wait(kBrowserTimeoutMs), 0) << browser.Out();
    const std::string dom = browser.Out();
    EXPECT_NE(dom.find("<title>Stored Title</title>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("data-js=\"rgb(18, 52, 86)\""), std::string::npos)
        << "the stored script ran with the stored style sheet\n"
        << dom;
    EXPECT_NE(dom.find("data-img=\"ok\""), std::string::npos) << "the stored image\n" << dom;

    serve->Signal(SIGTERM);
    EXPECT_EQ(serve->Wait(kRunTimeoutMs), 0) << serve->Err();
    // The server's status texts: every object the page needs was answered from the store.
    for (const char* path : {"/", "/style.css", "/app.js", "/logo.png"}) {
        EXPECT_NE(serve->Out().find(page_url.substr(0, page_url.size() - 1) + path),
                  std::string::npos)
            << path << "\n"
            << serve->Out();
    }
    EXPECT_EQ(serve->Out().find("Not stored"), std::string::npos) << serve->Out();
}

}  // namespace
}  // namespace kelvra::testing
