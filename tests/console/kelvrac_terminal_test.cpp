// kelvrac on a terminal (a pseudo-terminal here): the live view instead of the line log.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "kelvrac_fixture.h"
#include "test_site.h"

namespace kelvra::testing {
namespace {

constexpr int kColumns = 60;

class KelvracTerminal : public KelvracTest {
  protected:
    // Runs kelvrac on a new pseudo-terminal kColumns wide; everything it showed there.
    std::string RunOnTerminal(const std::vector<std::string>& args, int& status) {
        std::vector<std::string> argv = {BinDirectory() + "/kelvrac"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config_, "TERM=xterm"};
        // Everything the child needs is made before the fork: the test has threads.
        std::vector<char*> argp;
        for (std::string& arg : argv) argp.push_back(arg.data());
        argp.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& entry : env) envp.push_back(entry.data());
        envp.push_back(nullptr);
        winsize size{};
        size.ws_row = 24;
        size.ws_col = kColumns;
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
        if (pid == 0) {
            ::execve(argp[0], argp.data(), envp.data());
            ::_exit(127);
        }
        std::string shown;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunTimeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd entry{master, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
            char buffer[4096];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) break;  // EIO once the child has gone
            shown.append(buffer, static_cast<std::size_t>(n));
        }
        ::kill(pid, SIGKILL);  // only when it overran the deadline
        int wait_status = 0;
        ::waitpid(pid, &wait_status, 0);
        ::close(master);
        status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
        return shown;
    }

    TestSite site_;
};

TEST_F(KelvracTerminal, ShowsALiveViewThatFitsTheScreen) {
    std::string index;
    for (int k = 1; k <= 5; ++k) {
        const std::string page = "/page" + std::to_string(k) + ".html";
        index += "<a href=\"" + page + "\">x</a>\n";
        site_.Put(page, "text/html", std::string(3000, 'x'));
    }
    site_.Put("/", "text/html", index);
    int status = -1;
    const std::string shown = RunOnTerminal({"get", "-j", "2", site_.Url("/")}, status);
    EXPECT_EQ(status, 0) << shown;
    EXPECT_NE(shown.find("\x1b[1A\x1b[J"), std::string::npos) << "redrawn in place\n" << shown;
    EXPECT_EQ(shown.find("(No.0)Success"), std::string::npos) << "no line log\n" << shown;
    EXPECT_NE(shown.find("stored 6, unchanged 0, failed 0, queued 0"), std::string::npos) << shown;
    EXPECT_NE(shown.find("kelvrac: 6 stored, 0 unchanged, 0 failed"), std::string::npos) << shown;
    // Every line of the view fits the 60 columns.
    const std::regex view_line(
        "(\\(No\\.[0-9]+\\) [^\r\n\x1b]*|stored [0-9]+, unchanged [^\r\n\x1b]*)");
    int lines = 0;
    for (std::sregex_iterator it(shown.begin(), shown.end(), view_line), end; it != end; ++it) {
        EXPECT_LT(it->str().size(), static_cast<std::size_t>(kColumns)) << it->str();
        ++lines;
    }
    EXPECT_GT(lines, 1) << shown;

    // -v asks for the line log even here.
    const std::string verbose = RunOnTerminal({"get", "-v", site_.Url("/")}, status);
    EXPECT_NE(verbose.find("(No.0)NotModify"), std::string::npos) << verbose;
    EXPECT_EQ(verbose.find("\x1b[J"), std::string::npos) << verbose;
}

}  // namespace
}  // namespace kelvra::testing
