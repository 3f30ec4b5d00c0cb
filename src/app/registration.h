#pragma once
// URL registration: start URLs become start jobs of a crawl, each with its stored acquisition
// condition from kelvraw.cf or else the default one; when the crawl ends the fetched start
// URLs enter the [History] list.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/appcore.h"
#include "crawl/crawldisplay.h"
#include "crawl/kelvra.h"
#include "crawl/kelvra_log.h"
#include "store/condition.h"
#include "store/pickuplink.h"

namespace kelvra::app {

inline constexpr char kConditionFileName[] = "kelvraw.cf";
inline constexpr char kConnectionTableName[] = "kelvra.mcf";

// Whether an entered text is a URL: "://" must start within its first seven characters.
bool LooksLikeUrl(std::string_view text);

// An entered URL as it is registered: trailing blanks removed, everything from '#' on cut off,
// normalised. None when what is left is no URL.
std::optional<std::string> EnteredUrl(std::string_view text);

// The proxies, FTP log-in and limits a new crawl takes from the settings.
crawl::CrawlEnvironment CrawlEnvironmentFrom(const AppSettings& settings);

// A start job for urls with the condition's flag word, level limit, follow-up count, filters
// (only when the filter is on), extra header and accept list.
store::CrawlRequest StartJob(const store::AcquisitionCondition& condition,
                             std::vector<std::string> urls);

// A crawl for the started application: "GetThread" workers, kelvra.mcf of the data directory,
// set up with the settings' environment.
std::unique_ptr<crawl::KelvraClass_Log> CreateCrawl(AppCore& core, crawl::CrawlDisplay& display);

// Hands urls to the crawl in order: a URL with its own section in kelvraw.cf goes as a start job
// of its own, the others together as one start job with the default condition. Registered
// (accepted) URLs are appended to registered. every_eighth runs after every 8 URLs, so that a
// long list leaves the window responsive. Returns the number of URLs accepted.
int RegisterStartUrls(AppCore& core, crawl::KelvraClass& crawl,
                      const std::vector<std::string>& urls, std::vector<std::string>& registered,
                      const std::function<void()>& every_eighth = {});

// After a crawl: when something was fetched, every registered URL that now has a record in
// the store enters the [History] list (most recent first). The list is cleared.
void FinishCrawl(AppCore& core, std::vector<std::string>& registered, bool fetched);

}  // namespace kelvra::app
