#include "crawl/dialup.h"

#include <thread>

namespace kelvra::crawl {

bool NoDialUpService::Enumerate(std::vector<std::string>& connections) {
    connections.clear();
    return false;
}

bool NoDialUpService::HangUp(const std::string&) {
    return false;
}

bool HangUpAll(DialUpService& service, std::chrono::milliseconds settle) {
    std::vector<std::string> connections;
    if (!service.Enumerate(connections) || connections.empty() ||
        connections.size() > DialUpService::kMaxConnections) {
        return false;
    }
    bool all = true;
    for (const std::string& connection : connections) {
        if (!service.HangUp(connection)) all = false;
    }
    std::this_thread::sleep_for(settle);
    return all;
}

}  // namespace kelvra::crawl
