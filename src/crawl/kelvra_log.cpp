#include "crawl/kelvra_log.h"

#include <ctime>

#include "crawl/finishreport.h"

namespace kelvra::crawl {

KelvraClass_Log::KelvraClass_Log(store::headerlist_cookie& store, int threads,
                                 const std::string& mcf_path, CrawlDisplay& display,
                                 std::unique_ptr<DialUpService> dial_up)
    : KelvraClass(store, threads, mcf_path, display), dial_up_(std::move(dial_up)) {}

long KelvraClass_Log::RunWithLog(bool& completed) {
    if (!environment().progress_log.empty()) {
        log_.Open(store().DataDirectory(), environment().progress_log, std::time(nullptr));
    }
    long processed = Run(completed);
    log_.Close();
    return processed;
}

void KelvraClass_Log::LogStatus(int worker, std::string_view status) {
    log_.LogStatus(worker, std::time(nullptr), slot(worker).url, status);
}

void KelvraClass_Log::ShowSlotStatus(int i, std::string_view text) {
    KelvraClass::ShowSlotStatus(i, text);
    LogStatus(i, text);
}

void KelvraClass_Log::ShowStatusNote(int i, std::string_view note) {
    KelvraClass::ShowStatusNote(i, note);
    LogStatus(i, note);
}

bool KelvraClass_Log::FinishReport(long processed) {
    FinishReportActions actions{
        [this](const std::string& url) { RequeueUrl(url); },
        [this](const std::string& path) { return WriteRetryList(path); },
    };
    return crawl::FinishReport(display(), *dial_up_, ErrorUrls(), processed, actions);
}

bool KelvraClass_Log::HangUpAll() {
    return crawl::HangUpAll(*dial_up_);
}

}  // namespace kelvra::crawl
