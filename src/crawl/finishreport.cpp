#include "crawl/finishreport.h"

namespace kelvra::crawl {

namespace {

void HangUpIfWanted(CrawlDisplay& display, DialUpService& dial_up) {
    if (!display.AutoHangUp()) return;
    display.SetCaption(FinishText::kHangingUp);
    HangUpAll(dial_up);
    display.SetCaption(FinishText::kHungUp);
}

void ReportOutcome(CrawlDisplay& display, long processed) {
    if (processed <= 0) {
        display.ShowMessage(FinishText::kNothingFetched, FinishText::kNothingFetchedCaption,
                            MessageIcon::kError);
    } else {
        display.ShowMessage(FinishText::kCompleted, FinishText::kCompletedCaption,
                            MessageIcon::kInformation);
    }
}

void OfferRetryListFile(CrawlDisplay& display, const FinishReportActions& actions) {
    SaveFileRequest request{
        std::string(FinishText::kFilterName), std::string(FinishText::kFilterPattern),
        std::string(FinishText::kSaveTitle), std::string(FinishText::kDefaultExtension)};
    std::string path;
    if (!display.ChooseSaveFile(request, path)) return;
    if (actions.write_retry_list(path) < 1) {
        display.ShowMessage(FinishText::kSaveFailed, path, MessageIcon::kError);
    } else {
        display.ShowMessage(FinishText::kSaved, path, MessageIcon::kInformation);
    }
}

}  // namespace

bool FinishReport(CrawlDisplay& display, DialUpService& dial_up,
                  const std::vector<std::string>& error_urls, long processed,
                  const FinishReportActions& actions) {
    HangUpIfWanted(display, dial_up);
    bool requeued = false;
    if (error_urls.empty()) {
        ReportOutcome(display, processed);
    } else {
        std::vector<std::size_t> chosen;
        if (display.ChooseUrls(error_urls, chosen)) {
            for (std::size_t index : chosen) {
                if (index >= error_urls.size()) continue;
                actions.requeue(error_urls[index]);
                requeued = true;
            }
        } else {
            OfferRetryListFile(display, actions);
        }
    }
    display.SetCaption(FinishText::kDialogCaption);
    return requeued;
}

}  // namespace kelvra::crawl
