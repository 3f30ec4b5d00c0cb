#include "store/headerlistmanager.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "net/url.h"
#include "store/store_names.h"
#include "store/store_record.h"
#include "util/fileutil.h"
#include "util/header.h"
#include "util/httpdate.h"

namespace kelvra::store {

namespace {

constexpr std::size_t kLocalPathCapacity = 256;   // FileSafeName capacity for lookups
constexpr std::size_t kDirectoryWalkLimit = 241;  // no directory part starts this far in
constexpr int kUniqueNameTries = 33;
constexpr std::string_view kDefaultExtension = "web";

// "/." resolves only through a directory, so one access(2) also tells that it is one.
bool IsUsableDirectory(const std::string& path) {
    return ::access((path + "/.").c_str(), R_OK | W_OK) == 0;
}

std::string CurrentDirectory() {
    std::string cwd(PATH_MAX, '\0');
    if (!::getcwd(cwd.data(), cwd.size())) return ".";
    cwd.resize(std::char_traits<char>::length(cwd.c_str()));
    return cwd.substr(0, kMaxDataPath);
}

}  // namespace

headerlistmanager::headerlistmanager(std::string_view data_directory,
                                     std::string_view root_file_name,
                                     std::optional<std::string_view> journal_name,
                                     const std::string& mime_table_path)
    : treelistmanager('/'), root_file_name_(root_file_name) {
    SetDataDirectory(data_directory);
    if (journal_name && !journal_name->empty()) {
        journal_path_ = data_directory_ + std::string(*journal_name) + ".tmp";
    }
    if (!mime_table_path.empty()) LoadMimeTable(mime_table_path);
}

headerlistmanager::~headerlistmanager() {
    util::MutexLock lock(mutex_);
    ClearBelow(Root());
}

void headerlistmanager::SetDataDirectory(std::string_view data_directory) {
    std::string dir(data_directory);
    if (dir.empty() || util::IsDirectory(dir) != 1) dir = CurrentDirectory();
    if (dir.empty() || dir.back() != '/') dir.push_back('/');
    data_directory_ = std::move(dir);
}

// ---- files -------------------------------------------------------------------------------

std::string headerlistmanager::DataPath(std::string_view rel) const {
    std::string path = data_directory_;
    path.append(rel);
    return path;
}

bool headerlistmanager::LimitedDataPath(std::string_view rel, std::string& out) const {
    out.clear();
    if (data_directory_.size() + rel.size() >= kMaxDataPath || HasParentSegment(rel)) {
        return false;
    }
    out = DataPath(rel);
    return true;
}

FilePtr headerlistmanager::OpenFile(std::string_view rel, const char* mode) {
    std::string path;
    if (!LimitedDataPath(rel, path)) return nullptr;
    return OpenRegularFile(path, mode);
}

int headerlistmanager::AccessFile(std::string_view rel, int mode) {
    std::string path;
    if (!LimitedDataPath(rel, path)) return -1;
    return ::access(path.c_str(), mode);
}

int headerlistmanager::StatFile(std::string_view rel, struct stat& info) {
    std::string path;
    if (!LimitedDataPath(rel, path)) return -1;
    return ::stat(path.c_str(), &info);
}

int headerlistmanager::RenameFile(std::string_view rel_old, std::string_view rel_new) {
    std::string from;
    std::string to;
    if (!LimitedDataPath(rel_old, from) || !LimitedDataPath(rel_new, to)) return -1;
    return std::rename(from.c_str(), to.c_str());
}

// ---- loading -----------------------------------------------------------------------------

long headerlistmanager::Load(std::string_view name) {
    FilePtr file = OpenFile(name, "rb");
    if (!file) return 0;
    HifRecordReader reader(file.get());
    std::string record;
    long count = 0;
    util::MutexLock lock(mutex_);
    BeginBulkInsert();
    HifRecordReader::Result result;
    while ((result = reader.Next(record)) == HifRecordReader::Result::kRecord) {
        if (record.front() == '#') continue;  // a failed fetch in a journal
        const std::size_t lf = record.find('\n');
        if (lf == std::string::npos) continue;
        const std::string_view key(record.data(), lf);
        const std::string_view text = std::string_view(record).substr(lf + 1);
        if (key.size() >= kMaxLoadedKey || text.size() >= kMaxLoadedText) continue;
        if (Add(key, text, false)) ++count;
    }
    EndBulkInsert();
    if (result != HifRecordReader::Result::kError) {
        ForgetStoppedLoad(name);
        return count;
    }
    stopped_loads_.emplace(name);
    return -count;
}

bool headerlistmanager::LoadStoppedEarly(std::string_view name) const {
    util::MutexLock lock(mutex_);
    return stopped_loads_.contains(name);
}

void headerlistmanager::ForgetStoppedLoad(std::string_view name) {
    util::MutexLock lock(mutex_);
    if (const auto found = stopped_loads_.find(name); found != stopped_loads_.end()) {
        stopped_loads_.erase(found);
    }
}

// ---- lookups -----------------------------------------------------------------------------

std::string headerlistmanager::NodeKey(const treelistnode* node) const {
    util::MutexLock lock(mutex_);
    return KeyOf(node);
}

std::string_view headerlistmanager::NodeField(const treelistnode* node,
                                              std::string_view key) const {
    if (!node) return {};
    const char* text = node->value().text();
    if (!text) return {};
    return util::FindHeader(text, key);
}

bool headerlistmanager::GetNodeField(const treelistnode* node, std::string_view key,
                                     std::string& out) {
    util::MutexLock lock(mutex_);
    out = NodeField(node, key);
    return !out.empty();
}

bool headerlistmanager::GetUrlField(std::string_view url, std::string_view key, std::string& out) {
    util::MutexLock lock(mutex_);
    out.clear();
    const treelistnode* node = FindRecord(url);
    return node && GetNodeField(node, key, out);
}

std::string headerlistmanager::DerivedName(std::string_view key, std::size_t capacity) const {
    std::string name = net::FileSafeName(key, capacity);
    ConfineName(name);
    return name;
}

bool headerlistmanager::GetNodeLocalPath(const treelistnode* node, std::string& out) {
    util::MutexLock lock(mutex_);
    const std::string_view recorded = NodeField(node, "XF:");
    std::string name = IsConfinedName(recorded) ? std::string(recorded)
                                                : DerivedName(KeyOf(node), kLocalPathCapacity);
    if (name.empty() || name.back() == '/') name += root_file_name_;
    out = DataPath(name);
    return true;
}

bool headerlistmanager::GetUrlLocalPath(std::string_view url, std::string& out) {
    util::MutexLock lock(mutex_);
    out.clear();
    const treelistnode* node = FindRecord(url);
    return node && GetNodeLocalPath(node, out);
}

const std::string& headerlistmanager::RootFileName() const {
    return root_file_name_;
}

treelistnode* headerlistmanager::FindKey(std::string_view key) {
    util::MutexLock lock(mutex_);
    return FindPath(key, KeySplitEnd(key));
}

treelistnode* headerlistmanager::FindRecordByKey(std::string_view key) {
    util::MutexLock lock(mutex_);
    treelistnode* node = FindKey(key);
    return HasRecord(node) ? node : nullptr;
}

treelistnode* headerlistmanager::FindRecord(std::string_view url) {
    return FindRecordByKey(KeyOfUrl(url));
}

bool headerlistmanager::HasRecord(const treelistnode* node) const {
    return node && !node->IsRoot() && !node->value().IsRemoved() &&
           (node->IsLeaf() || node->value().IsText());
}

bool headerlistmanager::TakesDirectoryAsIs(std::string_view relative_directory) const {
    return !HasParentSegment(relative_directory) &&
           data_directory_.size() + relative_directory.size() < kDirectoryWalkLimit;
}

long headerlistmanager::MakeDirectories(std::string_view relative_directory) {
    if (HasParentSegment(relative_directory)) return 0;
    const std::string full = DataPath(relative_directory);
    // Nearly always the whole directory is there already: one look, and without the lock,
    // instead of one look per level while every other thread waits.
    if (TakesDirectoryAsIs(relative_directory) && IsUsableDirectory(full)) return -1;
    util::MutexLock lock(mutex_);
    const std::size_t base = data_directory_.size();
    long made = 0;
    std::size_t part_start = base;
    for (std::size_t at = base; at <= full.size(); ++at) {
        if (at < full.size() && full[at] != '/') continue;
        if (part_start >= kDirectoryWalkLimit) return made;
        if (at > part_start) {
            const std::string component = full.substr(0, at);
            // Nothing inside a directory this long could be opened (the path limit of the file
            // operations), so it counts as one that cannot be made.
            if (component.size() >= kMaxDataPath) return made;
            if (!IsUsableDirectory(component)) {
                struct stat info {};
                if (::lstat(component.c_str(), &info) == 0) return made;
                if (::mkdir(component.c_str(), 0777) != 0 && !IsUsableDirectory(component))
                    return made;
            }
        }
        made = static_cast<long>(at - base);
        part_start = at + 1;
    }
    return -1;
}

bool headerlistmanager::GetNodeContentType(const treelistnode* node, std::string& out) {
    util::MutexLock lock(mutex_);
    out.clear();
    if (!node) return false;
    out = NodeField(node, "CT:");
    if (out.empty()) out = TypeForExtension(net::GetExtension(node->name()));
    return !out.empty();
}

bool headerlistmanager::GetUrlContentType(std::string_view url, std::string& out) {
    util::MutexLock lock(mutex_);
    out.clear();
    const std::string key = KeyOfUrl(url);
    if (const treelistnode* node = FindRecordByKey(key)) out = NodeField(node, "CT:");
    if (out.empty()) out = TypeForExtension(net::GetExtension(key));
    return !out.empty();
}

bool headerlistmanager::IsHtml(const treelistnode* node) {
    std::string type;
    return GetNodeContentType(node, type) && type.find("/html") != std::string::npos;
}

bool headerlistmanager::LocalFileExists(const treelistnode* node) {
    std::string path;
    GetNodeLocalPath(node, path);
    return path.size() < kMaxDataPath && ::access(path.c_str(), F_OK) == 0;
}

bool headerlistmanager::GetNodeLastModified(const treelistnode* node, std::string& out) {
    return GetNodeField(node, "LM:", out);
}

bool headerlistmanager::GetUrlLastModified(std::string_view url, std::string& out) {
    return GetUrlField(url, "LM:", out);
}

std::time_t headerlistmanager::GetNodeModifiedTime(const treelistnode* node) {
    std::string date;
    if (!GetNodeLastModified(node, date)) return 0;
    std::tm tm = util::ParseHttpDate(date);
    if (tm.tm_mday == 0) return 0;  // not a date
    return ::timegm(&tm);
}

// ---- changes -----------------------------------------------------------------------------

treelistnode* headerlistmanager::InsertKey(std::string_view key) {
    if (key.empty()) return nullptr;
    util::MutexLock lock(mutex_);
    return InsertPath(key, KeySplitEnd(key));
}

treelistnode* headerlistmanager::Add(std::string_view url, std::string_view text, bool overwrite) {
    const std::string record = IsCookieText(text)
                                   ? std::string(text)
                                   : BuildRecord(text, TypeForExtension(net::GetExtension(url)));
    const std::string key = KeyOfUrl(url);
    if (key.empty()) return nullptr;
    util::MutexLock lock(mutex_);
    bool created = false;
    treelistnode* node = InsertPath(key, KeySplitEnd(key), created);
    if (!node) return nullptr;
    if (!created && HasRecord(node) && !overwrite) return node;
    node->value() = record.empty() ? NodeValue() : NodeValue::Text(record);
    if (IsCookieText(record)) cookie_record_added_ = true;
    return node;
}

bool headerlistmanager::RemoveField(std::string_view url, std::string_view key) {
    util::MutexLock lock(mutex_);
    treelistnode* node = FindRecord(url);
    return node && DeleteHeaderLine(node->value().mutable_text(), key) > 0;
}

std::string headerlistmanager::BuildRecord(std::string_view text,
                                           std::string_view type_for_extension) const {
    return BuildRecordText(text, type_for_extension);
}

bool headerlistmanager::MakeUniqueName(std::string& out, std::string_view prefix,
                                       std::string_view header_text, std::uint32_t seed) {
    out.assign(prefix);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    if (!out.empty() && out.back() != '.' && out.back() != '/') out.push_back('/');
    // The digits make the last segment safe; the directories before it must be as well.
    const std::size_t last_slash = out.rfind('/');
    if (last_slash != std::string::npos) {
        std::string directory = out.substr(0, last_slash);
        ConfineName(directory);
        out.replace(0, last_slash, directory);
    }
    std::string_view extension = ExtensionForType(util::FindHeader(header_text, "Content-type:"));
    if (extension.empty()) extension = kDefaultExtension;
    const std::size_t stem = out.size();
    for (int attempt = 0; attempt < kUniqueNameTries; ++attempt, ++seed) {
        out.resize(stem);
        out.append(Base36Seed(seed)).append(".").append(extension);
        if (AccessFile(out, F_OK) != 0) return true;
    }
    out.resize(stem);
    return false;
}

}  // namespace kelvra::store
