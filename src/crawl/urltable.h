#pragma once
// The crawl's URL table, the queue walking the scheduler needs, and the adapter through which
// link extraction reads the header-information store.

#include <string>
#include <string_view>

#include "store/headerlist_cookie.h"
#include "store/pickuplink.h"
#include "store/robots.h"

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

using store::Allowed;

// The crawl's URL table: the frontier with link extraction and robots.txt.
using CrawlUrlTable = store::PickupLinkClassEx;

// The host part of the first entry ("" when the queue is empty); callers walking the queue
// hold the table's lock.
std::string_view CurrentHostName(CrawlUrlTable& table);
// Every context the jobs of the table refer to, in creation order.
std::vector<const store::CrawlRules*> Contexts(CrawlUrlTable& table);

}  // namespace kelvra::crawl
