#include "app/datacommands.h"

#include "app/deleteunlink.h"
#include "app/registration.h"

namespace kelvra::app {

namespace {

constexpr const char* kCaptions[] = {"Copy Data", "Move Data", "Remove Data"};

// The busy title while a command runs.
class TitleGuard final {
  public:
    explicit TitleGuard(UserInterface& ui) : ui_(ui) { ui_.SetTitle(kBusyTitle); }
    ~TitleGuard() { ui_.SetTitle(kIdleTitle); }
    TitleGuard(const TitleGuard&) = delete;
    TitleGuard& operator=(const TitleGuard&) = delete;

  private:
    UserInterface& ui_;
};

bool Confirmed(UserInterface& ui, std::string_view text, std::string_view caption) {
    return ui.MessageBox(text, caption, MessageIcon::kExclamation, MessageButtons::kYesNo) ==
           DialogResult::kYes;
}

std::optional<std::vector<store::treelistnode*>> Select(AppCore& core, DataDialogs& dialogs,
                                                        DataSelection selection,
                                                        const std::vector<std::string>& urls) {
    if (selection == DataSelection::kBelowSelected) return SelectBelow(core.Store(), urls);
    const std::optional<std::vector<std::string>> chosen =
        dialogs.ChooseFiles(FetchedSinceStart(core.Store()));
    if (!chosen || chosen->empty()) return std::nullopt;
    return FindChosen(core.Store(), *chosen);
}

// With files left after the search: the user's choice, then the move or removal.
void ProcessChosen(DataDialogs& dialogs, DeleteUnlink& work, ProgressSink& progress,
                   const std::vector<std::string>& found,
                   const std::optional<std::string>& destination, DeleteUnlink::Outcome& outcome) {
    const std::optional<std::vector<std::string>> chosen = dialogs.ChooseFiles(found);
    if (!chosen) {
        outcome.cancelled = true;
        return;
    }
    outcome = work.Process(*chosen, destination);
    progress.Report(outcome.cancelled ? std::string(kCancelledText)
                                      : std::to_string(outcome.handled) + " files were processed.");
}

}  // namespace

bool RunRecordCommand(AppCore& core, BusyState& busy, DataDialogs& dialogs, DataSelection selection,
                      DataOperation operation, const std::vector<std::string>& urls,
                      RecordOutcome& outcome) {
    outcome = {};
    if (busy != BusyState::kIdle) return false;
    BusyGuard modal(busy, BusyState::kModal);
    TitleGuard title(core.Ui());
    const bool linked = selection == DataSelection::kAllLinks;
    // The links are traced once the progress dialog shows it.
    std::optional<std::vector<store::treelistnode*>> nodes;
    if (linked) {
        if (urls.empty()) return true;
    } else {
        nodes = Select(core, dialogs, selection, urls);
        if (!nodes) return true;
    }
    std::optional<std::string> destination;
    if (operation != DataOperation::kRemove) {
        destination = core.Ui().ChooseFolder(kDestinationTitle, core.DataDirectoryPath());
        if (!destination) return true;
    }
    if (operation != DataOperation::kCopy &&
        !Confirmed(core.Ui(), linked ? kDeleteLinkedWarning : kDeleteSelectedWarning,
                   kDeleteWarningCaption)) {
        return true;
    }
    ProgressSink progress(&dialogs.OpenProgress(kCaptions[static_cast<int>(operation)]));
    if (linked) {
        nodes = SelectLinked(core.Store(), core.DataDirectoryPath() + kConditionFileName, urls,
                             progress);
    }
    MoveDataCore core_work(core.Store(), core.Environment().mime_table_path, progress);
    core_work.Add(*nodes);
    outcome.handled =
        core_work.Transfer(destination, kHeaderFileName, operation != DataOperation::kCopy).handled;
    outcome.destination = std::move(destination);
    dialogs.CloseProgress();
    return true;
}

bool RunUnlinkedCommand(AppCore& core, BusyState& busy, DataDialogs& dialogs, bool move,
                        std::vector<std::string> urls) {
    if (busy != BusyState::kIdle) return false;
    BusyGuard modal(busy, BusyState::kModal);
    TitleGuard title(core.Ui());
    if (urls.empty()) {
        if (!Confirmed(core.Ui(), kWholeTreeQuestion, kWholeTreeCaption)) return true;
        urls.emplace_back();
    }
    std::optional<std::string> destination;
    if (move) {
        destination = core.Ui().ChooseFolder(kDestinationTitle, core.DataDirectoryPath());
        if (!destination) return true;
    }
    ProgressSink progress(&dialogs.OpenProgress(kUnlinkedTitle));
    DeleteUnlink work(core.Store(), progress);
    DeleteUnlink::Outcome outcome;
    const std::optional<std::vector<std::string>> found = work.FindUnlinked(urls);
    if (!found) {
        outcome.cancelled = true;
    } else if (found->empty()) {
        progress.Report(kNoFileFound);
    } else {
        ProcessChosen(dialogs, work, progress, *found, destination, outcome);
    }
    if (outcome.handled > 0 &&
        core.Ui().MessageBox(kEmptyDirectoriesQuestion, kEmptyDirectoriesCaption,
                             MessageIcon::kQuestion,
                             MessageButtons::kOkCancel) == DialogResult::kOk) {
        dialogs.SetProgressTitle(kPruningTitle);
        const long removed = work.PruneEmptyDirectories(urls);
        progress.Report(std::to_string(removed) + " directories were removed.");
    }
    if (outcome.cancelled) progress.Report(kProcessCancelled);
    dialogs.CloseProgress();
    return true;
}

}  // namespace kelvra::app
