#include "app/registration.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "net/url.h"
#include "store/configclass.h"
#include "util/strutil.h"

namespace kelvra::app {
namespace {

constexpr char kDefaultConditionStatus[] = "Processing URLs with default acquisition condition...";
constexpr char kRegistrationDone[] = "URL registration done.";
constexpr unsigned char kRefusedMark = 0xFF;

// Entered URLs are taken up to this many bytes, as the entry box holds them.
constexpr std::size_t kMaxEnteredUrl = 2048;
constexpr std::size_t kUrlsBetweenEvents = 8;

bool Refused(const std::string& url) {
    return !url.empty() && static_cast<unsigned char>(url.front()) == kRefusedMark;
}

}  // namespace

bool LooksLikeUrl(std::string_view text) {
    return net::HasScheme(text);
}

std::optional<std::string> EnteredUrl(std::string_view text) {
    std::string url(text.substr(0, kMaxEnteredUrl));
    util::TrimRight(url);
    const std::size_t hash = url.find('#');
    if (hash != std::string::npos) url.erase(hash);
    if (!LooksLikeUrl(url)) return std::nullopt;
    net::NormalizeUrl(url);
    return url;
}

crawl::CrawlEnvironment CrawlEnvironmentFrom(const AppSettings& settings) {
    crawl::CrawlEnvironment environment;
    environment.http_proxy = settings.HttpProxySetting();
    environment.ftp_proxy = settings.FtpProxySetting();
    environment.https_proxy = settings.HttpsProxySetting();
    environment.check_certificates = settings.check_certificates;
    environment.ftp_user = settings.ftp_userid;
    environment.ftp_password = settings.ftp_password;
    environment.timeout = settings.get_timeout;
    environment.retry_count = settings.retry_count;
    environment.size_limit = settings.SizeLimitBytes();
    environment.progress_log = settings.progress_log;
    return environment;
}

store::CrawlRequest StartJob(const store::AcquisitionCondition& condition,
                             std::vector<std::string> urls) {
    store::CrawlRequest request;
    request.urls = std::move(urls);
    request.flags = store::ConditionFlags(condition);
    request.depth = static_cast<std::uint16_t>(condition.classes);
    request.trace = condition.complete_trace;
    if (condition.enable_filter) request.filters = condition.filters;
    request.extra_header = condition.extra_header;
    for (const std::string& entry : condition.accept) request.allowed.push_back(entry);
    return request;
}

std::unique_ptr<crawl::KelvraClass_Log> CreateCrawl(AppCore& core, crawl::CrawlDisplay& display) {
    const RunOverrides& overrides = core.Overrides();
    const std::string mcf_path = core.DataDirectoryPath() + kConnectionTableName;
    auto crawl = std::make_unique<crawl::KelvraClass_Log>(
        core.Store(), overrides.workers.value_or(core.Settings().get_thread), mcf_path, display);
    for (const std::string& unclear : crawl->limits().Unclear()) {
        std::fprintf(stderr, "warning: %s: %s\n", mcf_path.c_str(), unclear.c_str());
    }
    const std::string line = ConnectionLine(overrides);
    if (!line.empty()) {
        // The first matching line wins, so this one rules every server for this run.
        std::ostringstream table;
        table << line << std::ifstream(mcf_path, std::ios::binary).rdbuf();
        crawl->limits().Parse(table.str());
    }
    crawl->Setup(CrawlEnvironmentFrom(core.Settings()));
    return crawl;
}

int RegisterStartUrls(AppCore& core, crawl::KelvraClass& crawl,
                      const std::vector<std::string>& urls, std::vector<std::string>& registered,
                      const std::function<void()>& every_eighth) {
    UserInterface& ui = core.Ui();
    store::GetConditionClass conditions;
    // Without a readable condition file every URL takes the default condition.
    static_cast<void>(conditions.Load(core.DataDirectoryPath() + kConditionFileName));
    int accepted = 0;
    std::vector<std::string> default_list;
    std::size_t seen = 0;
    for (const std::string& url : urls) {
        if (every_eighth && ++seen % kUrlsBetweenEvents == 0) every_eighth();
        ui.StatusText(url);
        store::AcquisitionCondition condition;
        if (!conditions.ReadCondition(url, condition, true)) {
            default_list.push_back(url);
            continue;
        }
        ApplyOverrides(core.Overrides(), condition);
        store::CrawlRequest request = StartJob(condition, {url});
        const int queued = crawl.AddStartUrl(request);
        if (queued > 0) registered.push_back(url);
        accepted += queued;
    }
    ui.StatusText(kDefaultConditionStatus);
    if (!default_list.empty()) {
        store::AcquisitionCondition condition;
        conditions.ReadCondition(store::GetConditionClass::kDefaultSection, condition, false);
        ApplyOverrides(core.Overrides(), condition);
        store::CrawlRequest request = StartJob(condition, default_list);
        accepted += crawl.AddStartUrl(request);
        for (std::size_t i = 0; i < default_list.size() && i < request.urls.size(); ++i) {
            if (!Refused(request.urls[i])) registered.push_back(default_list[i]);
        }
    }
    ui.StatusText(kRegistrationDone);
    return accepted;
}

void FinishCrawl(AppCore& core, std::vector<std::string>& registered, bool fetched) {
    if (fetched) {
        for (const std::string& url : registered) {
            if (core.Store().FindRecord(url)) core.History().Add(url);
        }
    }
    registered.clear();
}

}  // namespace kelvra::app
