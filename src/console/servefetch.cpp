#include "console/servefetch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "console/commands.h"

namespace kelvra::console {
namespace {

constexpr int kHandOverTimeoutSeconds = 10;
constexpr std::string_view kAcceptedTitle = "<TITLE>202 Request Success</TITLE>";
constexpr std::size_t kMaxAnswer = 64 * 1024;

// One "/get?" request to the server on its loopback port; true when the answer accepts it.
bool AskServerToFetch(int port, const std::string& url) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    timeval limit{kHandOverTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0) {
        const std::string request = "GET /get?" + url + " HTTP/1.0\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            ssize_t n = 0;
            while (answer.size() < kMaxAnswer && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
                answer.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    ::close(fd);
    return answer.find(kAcceptedTitle) != std::string::npos;
}

}  // namespace

void UrlInbox::Post(std::string url) {
    std::lock_guard lock(mutex_);
    urls_.push_back(std::move(url));
    changed_.notify_all();
}

void UrlInbox::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

std::optional<std::string> UrlInbox::Next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return closed_ || !urls_.empty(); });
    if (closed_) return std::nullopt;
    std::string url = std::move(urls_.front());
    urls_.pop_front();
    return url;
}

ConsoleRegistrationDialogs::ConsoleRegistrationDialogs(app::UserInterface& ui,
                                                       SignalWatcher& signals, std::FILE* out)
    : signals_(signals), out_(out), display_(out, ui) {}

std::optional<app::UrlEntry> ConsoleRegistrationDialogs::EnterUrl(std::string_view initial) {
    return app::UrlEntry{std::string(initial), app::EntryButton::kRun};
}

std::optional<std::vector<std::string>> ConsoleRegistrationDialogs::ChooseUrls(
    const std::vector<std::string>& urls, const std::string&) {
    return urls;
}

bool ConsoleRegistrationDialogs::EditCondition(const std::string&, store::AcquisitionCondition&) {
    return true;  // the stored or default condition as it is
}

void ConsoleRegistrationDialogs::EnableMainWindow(bool) {}

void ConsoleRegistrationDialogs::RunPendingEvents() {}

crawl::CrawlDisplay& ConsoleRegistrationDialogs::StatusDisplay() {
    return display_;
}

app::CrawlOutcome ConsoleRegistrationDialogs::RunCrawl(app::CrawlRun& run) {
    return console::RunCrawl(run, signals_, out_);
}

int HandOverUrls(int port, const std::vector<std::string>& urls) {
    int accepted = 0;
    for (const std::string& url : urls) accepted += AskServerToFetch(port, url) ? 1 : 0;
    return accepted;
}

}  // namespace kelvra::console
