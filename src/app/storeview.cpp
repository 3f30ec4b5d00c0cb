#include "app/storeview.h"

namespace kelvra::app {

std::vector<TreeItem> TreeItemsBelow(store::headerlistmanager&, std::span<const std::string>, int) {
    return {};
}

std::string TreeItemUrl(std::span<const std::string>) {
    return {};
}

std::vector<std::string> TreePathOfUrl(std::string_view) {
    return {};
}

std::span<const ListColumn> ListColumns() {
    return {};
}

const std::string& ListRow::Column(std::size_t) const {
    return name;
}

std::string ListRowUrl(std::string_view, std::string_view) {
    return {};
}

ListFill::ListFill(store::headerlistmanager& store, std::string_view, bool report)
    : store_(store), report_(report) {}

bool ListFill::Next(std::vector<ListRow>&, std::size_t) {
    return false;
}

ListRow MakeListRow(store::headerlistmanager&, const store::treelistnode&, bool) {
    return {};
}

std::string FormatWebDate(std::string_view) {
    return {};
}

std::string FormatFileDate(std::time_t) {
    return {};
}

std::string FormatSizeKB(std::int64_t) {
    return {};
}

std::optional<std::string> PageTitle(const std::string&) {
    return std::nullopt;
}

std::optional<std::string> NodeTitle(store::headerlistmanager&, const store::treelistnode&,
                                     std::string_view) {
    return std::nullopt;
}

std::string Cp932ToUtf8(std::string_view) {
    return {};
}

int CompareColumnTexts(std::size_t, std::string_view, std::string_view) {
    return 0;
}

bool ListSortState::Click(std::size_t) {
    return true;
}

const store::treelistnode* DataNodeOf(const store::treelistnode&) {
    return nullptr;
}

store::treelistnode* DirectoryNode(store::headerlistmanager&, std::string_view) {
    return nullptr;
}

}  // namespace kelvra::app
