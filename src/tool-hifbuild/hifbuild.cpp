#include "tool-hifbuild/hifbuild.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <memory>

#include "store/headerlistex.h"
#include "store/store_record.h"
#include "util/fileutil.h"
#include "util/httpdate.h"

namespace kelvra::hifbuild {

namespace {

constexpr const char* kHifName = "kelvra.hif";
constexpr const char* kBackupName = "kelvra.hif.hif";
constexpr const char* kRootFileName = "index.html";

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

std::vector<std::string> SortedEntries(const std::string& directory) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void Walk(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    for (const std::string& name : SortedEntries(relative.empty() ? root : root + relative)) {
        const std::string path = relative + name;
        struct stat info {};
        if (::lstat((root + path).c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            Walk(root, path + "/", out);
        } else if (S_ISREG(info.st_mode) && !relative.empty()) {
            out.push_back(path);
        }
    }
}

bool Exists(const char* path) {
    return ::access(path, F_OK) == 0;
}

// Step 2: one backup of kelvra.hif, never overwritten. False when it could not be made.
bool MakeBackup(std::FILE* out) {
    if (!Exists(kHifName)) return true;
    if (Exists(kBackupName)) {
        std::fprintf(out, "%s found.\nStop making.\n", kBackupName);
        return true;
    }
    std::fprintf(out, "now making backup file \"%s\" ... ", kBackupName);
    if (!util::CopyFile(kHifName, kBackupName)) {
        std::fprintf(out, "can't make. Error terminated.\n");
        return false;
    }
    std::fprintf(out, "done.\n");
    return true;
}

// Gives a stored file a node and, unless it has one, a date line from its modification time.
void RecordFile(store::headerlistex& store, const std::string& key, std::FILE* out) {
    util::MutexLock lock(store.Mutex());
    store::treelistnode* node = store.FindRecordByKey(key);
    if (!node) {
        node = store.InsertKey(key);
        if (!node) return;  // deeper than the tree can hold
        store.SetChanged(true);
        std::fprintf(out, "Added: %s\n", key.c_str());
    }
    if (!store.NodeField(node, "LM:").empty() || node->value().IsRemoved()) return;
    struct stat info {};
    if (::stat(store.DataPath(key).c_str(), &info) != 0) return;
    std::tm utc{};
    ::gmtime_r(&info.st_mtime, &utc);
    const char* old_text = node->value().text();
    std::string text = old_text ? old_text : "";
    text += "LM:" + util::FormatHttpDate(utc) + "\n";
    if (text.size() > store::kMaxRecordText) return;
    node->value() = store::NodeValue::Text(text);
    store.SetChanged(true);
}

void ScanFiles(store::headerlistex& store, std::FILE* out) {
    std::fprintf(out, "now picking up all entries ... ");
    const std::vector<std::string> files = CollectStoredFiles(store.DataDirectory());
    if (files.empty()) {
        std::fprintf(out, "No file were found. Check directory.\n");
    } else {
        std::fprintf(out, "%d entries were found.\n", static_cast<int>(files.size()));
        std::fprintf(out, "now restructuring header information ... \n");
        for (const std::string& key : files) RecordFile(store, key, out);
    }
    std::fprintf(out, "done.\n");
}

}  // namespace

std::vector<std::string> CollectStoredFiles(const std::string& root) {
    std::vector<std::string> files;
    std::string base = root;
    if (!base.empty() && base.back() != '/') base += '/';
    Walk(base, "", files);
    return files;
}

int Run(std::FILE* out) {
    std::fprintf(out, "%s%s %s\n", "Make header information file (for kelvra) ver.2.2", ".1",
                 "by Tesmarin");
    if (!MakeBackup(out)) return kExitNoBackup;

    store::headerlistex store("", kRootFileName, std::nullopt, "");
    std::fprintf(out, "now reading %s ... ", kHifName);
    // A missing or broken file is what this tool rebuilds: whatever was read is a start.
    static_cast<void>(store.Load(kHifName));
    std::fprintf(out, "done.\n");

    if (store::FilePtr hif = store.OpenFile(kHifName, "ab")) {
        ScanFiles(store, out);
    }
    std::fprintf(out, "now writing %s ... ", kHifName);
    // Output and exit status stay as they are: a failed save leaves the previous file in
    // place (it is replaced through a temporary), and the backup above keeps it too.
    static_cast<void>(store.Save(kHifName, true));
    std::fprintf(out, "done.\nterminated.\n");
    return kExitDone;
}

}  // namespace kelvra::hifbuild
