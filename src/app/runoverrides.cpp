#include "app/runoverrides.h"

#include "crawl/maxconnect.h"

namespace kelvra::app {

std::string ConnectionLine(const RunOverrides& overrides) {
    if (!overrides.connections && !overrides.pause_ms) return {};
    using crawl::ServerLimit;
    // In kelvra.mcf a keep-alive value of 3 or more is a pause; 1 keeps without one.
    const int keep = !overrides.pause_ms        ? ServerLimit::kDefaultKeepAlive
                     : *overrides.pause_ms == 0 ? 1
                                                : *overrides.pause_ms;
    return "* " + std::to_string(keep) + "/" +
           std::to_string(overrides.connections.value_or(ServerLimit::kDefaultConnections)) + "/" +
           std::to_string(ServerLimit::kDefaultVersion) + "\n";
}

void ApplyOverrides(const RunOverrides& overrides, store::AcquisitionCondition& condition) {
    if (overrides.depth) condition.classes = static_cast<std::int16_t>(*overrides.depth);
    if (overrides.update) {
        // Follow links below unchanged pages without end, and ask about every stored object.
        condition.complete_trace = -1;
        condition.reget_level = 0;
    }
}

}  // namespace kelvra::app
