#pragma once
// The report at the end of a crawl: the outcome message, or the failed URLs offered for another
// attempt, or saved as a retry list; and the automatic hang-up of dial-up connections.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crawl/crawldisplay.h"
#include "crawl/dialup.h"

namespace kelvra::crawl {

namespace FinishText {
inline constexpr std::string_view kHangingUp = "ただいま回線切断中....";
inline constexpr std::string_view kHungUp = "回線切断完了";
inline constexpr std::string_view kNothingFetched = "全く取得できません\nURLを確認してください";
inline constexpr std::string_view kNothingFetchedCaption = "取得ｴﾗｰ";
inline constexpr std::string_view kCompleted = "取得作業が完了しました";
inline constexpr std::string_view kCompletedCaption = "終了報告";
inline constexpr std::string_view kFilterName = "ﾘﾄﾗｲﾘｽﾄﾌｧｲﾙ (*.rlf)";
inline constexpr std::string_view kFilterPattern = "*.rlf";
inline constexpr std::string_view kSaveTitle = "ﾘﾄﾗｲﾘｽﾄを保存するﾌｧｲﾙ名を入力してください";
inline constexpr std::string_view kDefaultExtension = "rlf";
inline constexpr std::string_view kSaveFailed = "ﾘﾄﾗｲﾘｽﾄが保存出来ません";
inline constexpr std::string_view kSaved = "ﾘﾄﾗｲﾘｽﾄを保存しました";
inline constexpr std::string_view kDialogCaption = "取得状況ﾀﾞｲｱﾛｸﾞ";
}  // namespace FinishText

struct FinishReportActions {
    // Queues a failed URL again (its retry count cleared).
    std::function<void(const std::string& url)> requeue;
    // Writes the retry list; the number of jobs written or -1.
    std::function<int(const std::string& path)> write_retry_list;
};

// True when URLs were queued again (the crawl goes on).
bool FinishReport(CrawlDisplay& display, DialUpService& dial_up,
                  const std::vector<std::string>& error_urls, long processed,
                  const FinishReportActions& actions);

}  // namespace kelvra::crawl
