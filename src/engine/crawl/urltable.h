#pragma once
// The crawl's URL table: the frontier with link extraction, plus the queue operations the
// scheduler needs to walk the queue in order, and the adapter through which link extraction
// reads the header-information store.

#include <string>
#include <string_view>

#include "store/headerlist_cookie.h"
#include "store/pickuplink.h"

namespace kelvra::crawl {

// Link extraction's view of the store.
class StoreObjectsAdapter final : public store::StoredObjects {
  public:
    explicit StoreObjectsAdapter(store::headerlist_cookie& store) : store_(store) {}
    const store::treelistnode* FindRecord(std::string_view url) override;
    std::string LocalPath(const store::treelistnode* record) override;
    std::optional<std::string> ContentType(const store::treelistnode* record) override;
    std::optional<std::string> Field(const store::treelistnode* record,
                                     std::string_view key) override;
    std::string TypeForExtension(std::string_view url) override;

  private:
    store::headerlist_cookie& store_;
};

// Answers of NextAllowed.
namespace Allowed {
inline constexpr int kNone = 0;   // the queue is empty
inline constexpr int kSkip = -1;  // the first entry was dropped or moved; go on
inline constexpr int kUrl = 1;    // out holds the first entry's URL
}  // namespace Allowed

class CrawlUrlTable final : public store::PickupLinkClass {
  public:
    explicit CrawlUrlTable(store::StoredObjects* store,
                           const std::string& plugin_library = store::PluginHost::kLibraryName);

    // Queue walking, each under the table's lock (callers that walk hold it themselves).
    void MoveFirstToEnd();
    void RemoveFirst();
    // The first entry's URL; removed when remove is set. Until the frontier's robots.txt layer
    // is in place every entry is allowed (never kSkip).
    int NextAllowed(std::string& out, bool remove);
    // The robots.txt exchange of a host ended (ok: its answer applies). Nothing to do until the
    // robots.txt layer is in place.
    void RobotsFetched(std::string_view url, const store::FetchJob& job, bool ok);
    // The host part of the first entry ("" when the queue is empty).
    std::string CurrentHostName();
    // Every context the table holds, in creation order.
    std::vector<const store::CrawlRules*> Contexts();
};

}  // namespace kelvra::crawl
