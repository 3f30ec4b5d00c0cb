#include "app/csvexport.h"

#include "app/storeview.h"
#include "net/url.h"
#include "platform/rawfile.h"

namespace kelvra::app {

namespace {

// The node of an exported URL: its key as the store holds it, a final "/" dropped unless the
// URL has a query part.
store::treelistnode* ExportedNode(store::headerlistmanager& store, std::string_view url) {
    url.remove_prefix(net::SkipScheme(url));
    if (net::PathEnd(url) == url.size() && url.ends_with('/')) url.remove_suffix(1);
    return store.FindKey(net::PercentDecode(url));
}

// Whether node gets a line: not removed, no cookie, not a directory's own document (its
// directory's line carries it), and a leaf or a directory with a document or record.
const store::treelistnode* ExportedData(const store::treelistnode& node) {
    if (node.name().empty() || node.name().starts_with('#')) return nullptr;
    return DataNodeOf(node);
}

void AppendLine(store::headerlistmanager& store, const store::treelistnode& node,
                const store::treelistnode& data, std::string& out) {
    out += store.NodeKey(&node);
    out += ',';
    if (std::optional<ObjectColumns> object = StoredObjectColumns(store, data, "/html")) {
        out += object->title + ", " + object->web_date + ", " + object->file_date + ", " +
               object->size;
    } else {
        out += node.IsLeaf() ? " (No object)" : " <Folder>";
    }
    out += '\n';
}

std::size_t AppendSubtree(store::headerlistmanager& store, const store::treelistnode& node,
                          std::string& out) {
    std::size_t lines = 0;
    if (const store::treelistnode* data = ExportedData(node)) {
        AppendLine(store, node, *data, out);
        ++lines;
    }
    for (const store::treelistnode* child : node.children()) {
        lines += AppendSubtree(store, *child, out);
    }
    return lines;
}

}  // namespace

std::size_t AppendExportLines(store::headerlistmanager& store, std::string_view url,
                              std::string& out) {
    util::MutexLock lock(store.Mutex());
    const store::treelistnode* node = ExportedNode(store, url);
    return node ? AppendSubtree(store, *node, out) : 0;
}

bool ExportList(AppCore& core, BusyState& busy, const std::vector<std::string>& urls) {
    if (busy != BusyState::kIdle) return false;
    BusyGuard modal(busy, BusyState::kModal);
    if (urls.empty()) return true;
    UserInterface& ui = core.Ui();
    const FileQuestion question{kExportFileTitle, "CSV File (*.csv)", "*.csv", "csv", true};
    const std::optional<std::string> name = ui.ChooseFile(question);
    if (!name) return true;
    ui.StatusText(kExportProgressStatus);
    std::string lines;
    std::size_t count = 0;
    for (const std::string& url : urls) count += AppendExportLines(core.Store(), url, lines);
    if (count > 0 && platform::ReplaceFileContents(*name, lines)) {
        ShowMessage(ui, kExportDoneText, *name, MessageIcon::kInformation);
    } else {
        ShowMessage(ui, kExportFailedText, *name, MessageIcon::kStop);
    }
    ui.StatusText(kExportDoneStatus);
    return true;
}

}  // namespace kelvra::app
