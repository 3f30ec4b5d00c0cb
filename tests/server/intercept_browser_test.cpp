// A real browser reads a stored https page at its own address: headless Chromium, trusting the
// local authority through an NSS database the test makes with certutil, renders the page with
// its style sheet and image while no origin exists, every object answered from the store.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "console/child_process.h"
#include "net/local_authority.h"
#include "server_fixture.h"

namespace kelvra::server::testing {
namespace {

using kelvra::testing::ChildProcess;

constexpr const char* kChromium[] = {"/usr/bin/chromium", "/usr/bin/chromium-browser"};
constexpr char kCertutil[] = "/usr/bin/certutil";
constexpr int kBrowserTimeoutMs = 90000;
constexpr int kToolTimeoutMs = 30000;

std::string FindChromium() {
    for (const char* path : kChromium) {
        if (::access(path, X_OK) == 0) return path;
    }
    return {};
}

class InterceptBrowserTest : public ServerTest {
  protected:
    // 0 when certutil ran and succeeded.
    int Certutil(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {kCertutil, "-d", "sql:" + dir_.Path("home/.pki/nssdb")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildProcess::Options options;
        options.discard_stderr = true;
        ChildProcess tool(argv, options);
        return tool.Started() ? tool.Wait(kToolTimeoutMs) : -1;
    }
};

TEST_F(InterceptBrowserTest, ChromiumRendersAStoredHttpsPageWithEverythingFromTheStore) {
    const std::string chromium = FindChromium();
    if (chromium.empty() || ::access(kCertutil, X_OK) != 0) {
        GTEST_SKIP() << "Chromium or certutil missing: scripts/install-packages browser";
    }
    settings_.authority_directory = dir_.Path("settings/");
    std::string error;
    ASSERT_TRUE(net::LocalAuthority::Open(settings_.authority_directory, error)) << error;
    std::filesystem::create_directories(dir_.Path("home/.pki/nssdb"));
    ASSERT_EQ(Certutil({"-N", "--empty-password"}), 0);
    ASSERT_EQ(Certutil({"-A", "-t", "C,,", "-n", "KelvraW", "-i",
                        settings_.authority_directory + net::kAuthorityCertificateName}),
              0);

    const std::string site = "https://mirror.test/";
    Put(site + "index.html", "CT:text/html\n",
        "<html><head><title>Stored Title</title><link rel=\"stylesheet\" href=\"style.css\">"
        "</head><body><img src=\"logo.gif\" onload=\"document.body.dataset.img='ok'\">"
        // The window's load waits for the style sheet too; the image may arrive before it.
        "<script>addEventListener('load', function() {"
        "document.body.dataset.color = getComputedStyle(document.body).color; });</script>"
        "</body></html>\n");
    Put(site + "style.css", "CT:text/css\n", "body { color: #123456; }\n");
    Put(site + "logo.gif", "CT:image/gif\n",
        std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!"
                    "\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00"
                    "\x00\x02\x02\x44\x01\x00;",
                    43));
    Start(kModeLocal);

    ChildProcess::Options options;
    options.env = {"HOME=" + dir_.Path("home"), "XDG_CONFIG_HOME=" + dir_.Path("home/.config")};
    options.discard_stderr = true;  // its own chatter
    ChildProcess browser({chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                          "--disable-background-networking", "--disable-component-update",
                          "--user-data-dir=" + dir_.Path("profile"),
                          "--proxy-server=127.0.0.1:" + std::to_string(port_),
                          "--virtual-time-budget=5000", "--dump-dom", site},
                         options);
    ASSERT_TRUE(browser.Started());
    ASSERT_EQ(browser.Wait(kBrowserTimeoutMs), 0) << browser.Out();
    const std::string dom = browser.Out();
    EXPECT_NE(dom.find("<title>Stored Title</title>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("data-img=\"ok\""), std::string::npos) << "the stored image\n" << dom;
    EXPECT_NE(dom.find("data-color=\"rgb(18, 52, 86)\""), std::string::npos)
        << "the stored style sheet\n"
        << dom;
    for (const char* path : {"", "style.css", "logo.gif"}) {
        EXPECT_TRUE(monitor_.WaitForText(kColumnRequest, site + path, 0)) << path;
    }
}

}  // namespace
}  // namespace kelvra::server::testing
