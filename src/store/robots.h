#pragma once
// The crawl frontier that honours robots.txt: the first admitted URL of an HTTP host queues
// the host's robots.txt, the host's URLs wait until it was handled, and its "Disallow:" lines
// mark subtrees of the frontier whose queued URLs are dropped.

#include <cstdint>
#include <string>
#include <string_view>

#include "store/pickuplink.h"

namespace kelvra::store {

// Answers of NextAllowed.
enum class Allowed {
    kSkip = -1,  // the first entry was dropped or must wait; go on
    kNone = 0,   // the queue is empty
    kUrl = 1,    // url holds the first entry's URL
};

class PickupLinkClassEx final : public PickupLinkClass {
  public:
    static constexpr std::string_view kAgentName = "Tamble-Kelvra";
    static constexpr std::string_view kRobotsName = "robots.txt";
    static constexpr std::size_t kMaxRobotsLine = 1023;
    // A longer robots.txt is cut here and read as if it ended there.
    static constexpr std::int64_t kMaxRobotsBytes = 512 * 1024;
    // Host node values.
    static constexpr long kRobotsPending = 1;
    static constexpr long kDisallowed = -1;

    using PickupLinkClass::PickupLinkClass;

    int AdmitUrl(std::string_view url, const FetchJob& job, int mode) override;
    bool ProcessObject(std::string_view url, const treelistnode* record, const FetchJob& job,
                       bool full_scan) override;

    // The scheduler's way to take the next URL (removed when remove is set).
    [[nodiscard]] virtual Allowed NextAllowed(std::string& url, bool remove);
    // The robots.txt request of a host ended; a failure drops every URL of the host.
    virtual void RobotsFetched(std::string_view url, const FetchJob& job, bool ok);
    virtual bool ParseRobots(const std::string& local_path, std::string_view host);

    // The host part of a URL (after user information, up to '/'), lower-cased.
    static std::string LowerHost(std::string_view url);
};

}  // namespace kelvra::store
