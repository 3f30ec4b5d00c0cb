#include "app/dataprogress.h"

#include <algorithm>

#include "util/patternmatch.h"

namespace kelvra::app {

void ProgressSink::Report(std::string_view prefix, std::string_view text) {
    if (!view_) return;
    if (!view_->Quiet()) {
        std::string line(prefix);
        line += text;
        view_->ShowText(line);
        view_->RunPendingEvents();
        return;
    }
    if (++quiet_texts_ % kQuietEventInterval == 0) view_->RunPendingEvents();
}

bool ProgressSink::Pace(unsigned interval) {
    if (view_ && interval > 0 && ++steps_ % interval == 0) view_->RunPendingEvents();
    return !Cancelled();
}

bool ProgressSink::Cancelled() const {
    return view_ && view_->CancelRequested();
}

std::size_t MoveMatching(std::vector<std::string>& from, std::vector<std::string>& to,
                         std::string_view pattern) {
    const bool invert = pattern.starts_with('!');
    if (invert) pattern.remove_prefix(1);
    const util::CompiledPattern matcher(pattern, util::kPatternIgnoreCase, false);
    const auto stays = [&](const std::string& entry) {
        return matcher.Match(entry).has_value() == invert;
    };
    const auto moved = std::stable_partition(from.begin(), from.end(), stays);
    const auto count = static_cast<std::size_t>(from.end() - moved);
    to.insert(to.end(), std::make_move_iterator(moved), std::make_move_iterator(from.end()));
    from.erase(moved, from.end());
    return count;
}

}  // namespace kelvra::app
