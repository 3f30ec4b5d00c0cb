#pragma once
// A small web site on the loopback test origin whose objects a test can change between runs.
// Each object has a Last-Modified date; a request whose If-Modified-Since equals it answers
// 304. It counts the full answers per path and can hold a path's answer until released.

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "support/test_origin.h"

namespace kelvra::testing {

class TestSite final {
  public:
    struct Object {
        std::string type;
        std::string body;
        int version = 1;  // goes into Last-Modified
    };

    TestSite() : origin_([this](const test::Request& request) { return Answer(request); }) {}
    ~TestSite() { Release(); }

    void Put(const std::string& path, std::string type, std::string body) {
        std::lock_guard lock(mutex_);
        Object& object = objects_[path];
        object.type = std::move(type);
        object.body = std::move(body);
        ++object.version;
    }
    // Answers to path are held until Release (or the end of the site).
    void HoldPath(const std::string& path) {
        std::lock_guard lock(mutex_);
        held_ = path;
    }
    // True once the held path was asked for (within timeout_ms).
    bool WaitUntilHeld(int timeout_ms) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return holding_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        held_.clear();
        changed_.notify_all();
    }
    // Full (200) answers given to path since the last ResetCounts.
    int Fetched(const std::string& path) const {
        std::lock_guard lock(mutex_);
        const auto found = fetched_.find(path);
        return found == fetched_.end() ? 0 : found->second;
    }
    int NotModified() const {
        std::lock_guard lock(mutex_);
        return not_modified_;
    }
    void ResetCounts() {
        std::lock_guard lock(mutex_);
        fetched_.clear();
        not_modified_ = 0;
    }
    std::string Url(const std::string& path) const { return origin_.Url(path); }
    std::string HostDirectory() const {
        return "127.0.0.1_" + std::to_string(origin_.Port()) + "/";
    }
    test::TestOrigin& Origin() { return origin_; }

  private:
    static std::string DateOf(int version) {
        // Distinct dates in the past, one minute apart.
        const int minutes = version % 60;
        const int hours = version / 60;
        char text[64];
        std::snprintf(text, sizeof text, "Mon, 01 Jan 2024 %02d:%02d:00 GMT", hours, minutes);
        return text;
    }

    test::Reply Answer(const test::Request& request) {
        const std::string_view line = request.RequestLine();
        const std::size_t start = line.find(' ') + 1;
        const std::string path(line.substr(start, line.find(' ', start) - start));
        std::unique_lock lock(mutex_);
        if (held_ == path) {
            holding_ = true;
            changed_.notify_all();
        }
        changed_.wait_for(lock, std::chrono::seconds(60), [&] { return held_ != path; });
        const auto found = objects_.find(path);
        if (found == objects_.end()) {
            return test::Reply().Send(test::HttpResponse("HTTP/1.1 404 Not Found", "none\n"));
        }
        const std::string date = DateOf(found->second.version);
        if (request.Head().find("If-Modified-Since: " + date) != std::string_view::npos) {
            ++not_modified_;
            return test::Reply().Send("HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n\r\n");
        }
        ++fetched_[path];
        return test::Reply().Send(test::HttpResponse(
            "HTTP/1.1 200 OK", found->second.body,
            "Content-Type: " + found->second.type + "\r\nLast-Modified: " + date + "\r\n"));
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Object> objects_;
    std::map<std::string, int> fetched_;
    int not_modified_ = 0;
    std::string held_;
    bool holding_ = false;
    test::TestOrigin origin_;  // last: its threads stop before the members they use go
};

}  // namespace kelvra::testing
