// The server status monitor as the running server's workers feed it: one row per worker (at
// most 20), the request target and the worker's state, changed from the workers' threads.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "gui/window_fixture.h"

namespace kelvra::testing {
namespace {

// Sends request to 127.0.0.1:port and reads the answer to its end.
std::string Ask(int port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
    }
    ::close(fd);
    return answer;
}

using MonitorTest = WindowTest;

TEST_F(MonitorTest, RowsShowWhatTheServersWorkersAreDoing) {
    WriteIni("RunAtStart=1\nThreads=3\n");
    gui::KelvraWindow& window = Start();
    gui::SrvStatusDiag* monitor = window.Monitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->Rows(), 3);
    EXPECT_EQ(monitor->Text(0, server::kColumnState), "idle");
    const int port = window.Core().ServerPort();
    ASSERT_GT(port, 0);

    const std::string target = "http://stored.invalid/page.html";
    EXPECT_NE(Ask(port, "GET " + target + " HTTP/1.0\r\n\r\n"), "");
    const auto shows_target = [&] {
        for (int row = 0; row < monitor->Rows(); ++row) {
            if (monitor->Text(row, server::kColumnRequest) == QString::fromStdString(target) &&
                monitor->Text(row, server::kColumnState) == "EndThread") {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor(shows_target, kWindowWaitMs)) << [&] {
        std::string rows;
        for (int row = 0; row < monitor->Rows(); ++row) {
            rows += monitor->Text(row, 0).toStdString() + " | " +
                    monitor->Text(row, 1).toStdString() + "\n";
        }
        return rows;
    }();
}

}  // namespace
}  // namespace kelvra::testing
