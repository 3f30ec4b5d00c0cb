#pragma once
// The descriptor that travels with every queued URL, the per-crawl rules it points to, and the
// bits of its flag word.

#include <cstdint>
#include <optional>
#include <string>

#include "store/extfilter.h"
#include "store/homelist.h"

namespace kelvra::store {

class treelistnode;

// Bits of FetchJob::flags. The low 20 come from the acquisition condition.
namespace JobFlag {
inline constexpr std::uint32_t kRegetMask = 0x3;  // RegetLevel 0..3
inline constexpr std::uint32_t kSendCookie = 0x4;
inline constexpr std::uint32_t kRelativeLink = 0x8;
inline constexpr std::uint32_t kGetAll = 0x10;
inline constexpr std::uint32_t kSaveErrorPage = 0x20;
inline constexpr std::uint32_t kAuthentication = 0x40;
inline constexpr std::uint32_t kTraceMoved = 0x80;  // TraceMoved = 2
inline constexpr std::uint32_t kSrcObject = 0x100;  // SRCobject = 1 or 2
inline constexpr std::uint32_t kFormTag = 0x200;
inline constexpr std::uint32_t kFtpAll = 0x400;
inline constexpr std::uint32_t kNoCache = 0x800;
inline constexpr std::uint32_t kStrictModifyCheck = 0x1000;
inline constexpr std::uint32_t kModifyCheck = 0x2000;
inline constexpr std::uint32_t kSrcObjectAll = 0x4000;     // with kSrcObject: SRCobject = 2
inline constexpr std::uint32_t kTraceMovedStart = 0x8000;  // TraceMoved = 1
inline constexpr std::uint32_t kGetAllUndetermined = 0x10000;
inline constexpr std::uint32_t kPreserveOldData = 0x20000;
// https: a certificate that does not verify is accepted (chosen knowingly per condition).
inline constexpr std::uint32_t kAcceptAnyCertificate = 0x40000;
inline constexpr std::uint32_t kConditionMask = 0xFFFFF;  // the low 20 bits
inline constexpr std::uint32_t kRobots = 0x2000000;       // the robots.txt request itself
inline constexpr std::uint32_t kResume = 0x10000000;
inline constexpr std::uint32_t kPlainGet = 0x20000000;
inline constexpr std::uint32_t kPost = 0x40000000;
inline constexpr std::uint32_t kStartUrl = 0x80000000;
}  // namespace JobFlag

// Which stored objects a crawl fetches again (RegetLevel, the low bits of FetchJob::flags).
enum class RegetLevel : std::uint32_t {
    kFetchAll = 0,        // every object again
    kFetchText = 1,       // text objects again; the others from the store
    kFetchStartUrls = 2,  // the start URLs again; the others from the store
    kUseStored = 3,       // every stored object from the store
};

inline RegetLevel RegetLevelOf(std::uint32_t flags) {
    return static_cast<RegetLevel>(flags & JobFlag::kRegetMask);
}

// Built once per started crawl; every job of the crawl points to it.
struct CrawlRules {
    HomeListManager accept;                   // the allowed/denied URL prefixes
    ExtFilterClass filters;                   // empty when the crawl has no filter text
    std::optional<std::string> extra_header;  // none when empty or blank
    int index = 0;                            // 0 for the first context of the crawl
};

struct FetchJob {
    const treelistnode* referrer = nullptr;  // frontier node of the linking page
    CrawlRules* rules = nullptr;
    std::uint32_t flags = 0;
    std::uint16_t depth = 0;  // remaining link depth, 0 = unlimited
    std::uint16_t retry = 0;
    std::int16_t trace = 0;       // remaining update-check depth (CompleteTrace)
    std::uint16_t redirects = 0;  // redirects in a row that led to this URL
};

// A URL reached by kMaxRedirects redirects in a row has its own Location recorded but not
// followed: a site that moves every answer on to a new URL cannot hold the crawl for ever.
inline constexpr std::uint16_t kMaxRedirects = 20;

inline bool FollowsRedirect(const FetchJob& job) {
    return job.redirects < kMaxRedirects;
}

}  // namespace kelvra::store
