#pragma once
// Values one run takes instead of the settings and the per-site files, without writing them
// back (kelvrac's per-run options).

#include <optional>
#include <string>
#include <string_view>

#include "store/condition.h"

namespace kelvra::app {

struct RunOverrides {
    std::string data_directory;      // with a trailing '/'; empty: BaseDirectory decides
    std::optional<int> workers;      // instead of GetThread
    std::optional<int> connections;  // per server; with pause_ms, a "* " line ahead of kelvra.mcf
    std::optional<int> pause_ms;     // between requests to one server; 0: none
    std::optional<int> depth;        // link levels of every start job; 0: unlimited
    bool update = false;             // re-check everything stored
};

// The kelvra.mcf line that connections and pause_ms make, empty when neither is set. The
// connection is kept, since the pause is meant for requests in a row on it.
std::string ConnectionLine(const RunOverrides& overrides);

// Applies depth and update to a start job's condition.
void ApplyOverrides(const RunOverrides& overrides, store::AcquisitionCondition& condition);

}  // namespace kelvra::app
