#pragma once
// What the data-management work tells its progress dialog, and how often it lets the dialog's
// events run: the work loops on the GUI thread, so its "Cancel" and "No Message" controls only
// react while pending events run.

#include <string>
#include <string_view>
#include <vector>

namespace kelvra::app {

// The dialog side of a progress display.
class ProgressView {
  public:
    virtual ~ProgressView() = default;
    virtual void ShowText(std::string_view text) = 0;
    // Runs the window events that are waiting.
    virtual void RunPendingEvents() = 0;
    // The "No Message" box.
    virtual bool Quiet() const = 0;
    // The user pressed "Cancel".
    virtual bool CancelRequested() const = 0;
};

class ProgressSink {
  public:
    // With "No Message" on, events run after this many texts.
    static constexpr unsigned kQuietEventInterval = 8;

    // view may be null: nothing is shown and nothing is cancelled.
    explicit ProgressSink(ProgressView* view) : view_(view) {}

    // Shows prefix + text unless the view is quiet, then lets events run (after every text,
    // or every kQuietEventInterval texts while quiet).
    void Report(std::string_view prefix, std::string_view text = {});
    // Counts one step of a loop and lets events run every interval steps. False once the
    // user cancelled.
    bool Pace(unsigned interval);
    bool Cancelled() const;

  private:
    ProgressView* view_;
    unsigned quiet_texts_ = 0;
    unsigned steps_ = 0;
};

// The file-selection rule of the "↓"/"↑" buttons without a selected entry: the entries of from
// that pattern matches move to the end of to; a pattern beginning with "!" moves those that do
// not match the rest. Returns the number moved. The order of both lists is kept.
std::size_t MoveMatching(std::vector<std::string>& from, std::vector<std::string>& to,
                         std::string_view pattern);

}  // namespace kelvra::app
