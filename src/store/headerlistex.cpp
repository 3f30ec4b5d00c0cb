#include "store/headerlistex.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/url.h"
#include "store/store_names.h"
#include "store/store_record.h"
#include "util/crc32.h"
#include "util/fileutil.h"
#include "util/header.h"
#include "util/httpdate.h"

namespace kelvra::store {

namespace {

constexpr std::size_t kBodyBlock = 65536;
constexpr std::size_t kSaveBuffer = 1 << 20;
constexpr std::size_t kMaxStoredName = 256;  // longer derived names are replaced
constexpr std::size_t kLongNamePrefix = 246;
constexpr std::size_t kNameCapacity = 2048;
constexpr std::string_view kMovedSuffix = ".$mv";
constexpr std::string_view kTmpSuffix = ".tmp";
constexpr int kMaxKeptCopies = 100;

// Read by position, so the stream's buffer stays empty and the body's copy goes on from the
// descriptor without seeking back first.
bool ReadHead(std::FILE* stream, std::size_t length, std::string& head) {
    if (std::fflush(stream) != 0) return false;
    head.resize(length);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(::fileno(stream), head.data() + done, length - done,
                                  static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A complete body without a date is stored only when it differs from the stored copy.
bool ComparesWithStoredCopy(bool complete, std::string_view header_text) {
    return complete && util::FindHeader(header_text, "Last-modified:").empty();
}

std::string XRangeLine(std::int64_t bytes) {
    return "XRange:" + std::to_string(bytes) + "\n";
}

std::time_t HeaderDate(std::string_view header_text) {
    const std::string_view date = util::FindHeader(header_text, "Last-modified:");
    if (date.empty()) return 0;
    std::tm tm = util::ParseHttpDate(date);
    return tm.tm_mday == 0 ? 0 : ::timegm(&tm);
}

bool IsHtmlHeader(std::string_view header_text) {
    return util::FindHeader(header_text, "Content-type:").find("/html") != std::string_view::npos;
}

// The directory part of a name: up to its last '/' before any query boundary.
std::string DirectoryOf(std::string_view name) {
    const std::size_t end = net::DirectoryEnd(name);
    return end >= name.size() ? std::string() : std::string(name.substr(0, end));
}

std::string_view HostPart(std::string_view key) {
    return key.substr(0, key.find('/'));
}

// "dir/file_<mtime>.ext" (or without extension) for a file that is about to be replaced.
std::string BackupName(std::string_view directory, std::string_view name, std::time_t mtime) {
    std::string_view file = name.substr(name.rfind('/') + 1);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "_%lx", static_cast<unsigned long>(mtime));
    std::string backup(directory);
    if (!backup.empty()) backup += '/';
    const std::size_t dot = file.rfind('.');
    if (dot == std::string_view::npos) {
        backup.append(file).append(stamp);
    } else {
        backup.append(file.substr(0, dot)).append(stamp).append(file.substr(dot));
    }
    return backup;
}

// Where an answer is stored is the store's choice alone: a name the server offers could be
// the file of another host's page. Names only come from records (carried over below), the
// scheme line only from the URL fetched.
void DropOfferedLines(std::string& header) {
    constexpr std::string_view kOffered[] = {"XF:", "X-Fn:", kSchemeKey};
    for (const std::string_view key : kOffered) {
        while (DeleteHeaderLine(header, key) > 0) {
        }
    }
}

}  // namespace

// Name chosen by StoreBody and whether it differs from the one the key gives.
struct headerlistex::BodyState {
    std::string name;
    std::string directory;
    std::uint32_t seed = 0;
    bool differs = false;
};

headerlistex::~headerlistex() = default;

// ---- Commit ------------------------------------------------------------------------------

Committed headerlistex::Commit(std::string_view url, const std::string& response_path,
                               ReceivedObject& job, unsigned flags) {
    FilePtr stream(std::fopen(response_path.c_str(), "r+b"));
    if (!stream) return {};
    return Commit(url, stream.get(), job, flags);
}

Committed headerlistex::Commit(std::string_view url, std::FILE* stream, ReceivedObject& job,
                               unsigned flags) {
    SetChanged(true);
    if (!stream || job.header_length <= 0) return {};
    std::string header;
    if (!ReadHead(stream, static_cast<std::size_t>(job.header_length), header)) return {};
    header.resize(std::strlen(header.c_str()));
    job.header_text = std::move(header);
    DropOfferedLines(job.header_text);
    if (url.starts_with("https://")) {
        AppendHeaderLine(job.header_text,
                         std::string(kSchemeKey) + std::string(kHttpsValue) + "\n");
    }

    const std::string key = KeyOfUrl(url);
    CarryOverFields(key, job.header_text);

    const bool tail_may_follow = job.response_length >= 0;
    const std::int64_t held = tail_may_follow ? job.response_length : StreamSize(stream);
    std::int64_t size = held;
    bool complete = !job.cut_short;
    if (job.content_length >= 0) {
        const std::int64_t expected = job.header_length + job.content_length;
        if (size < expected) complete = false;
        size = std::min(size, expected);
    }
    // Bytes past the body (past the announced length, or left of an earlier response) are cut
    // off before any reader that goes on to the stream's end; the body's own copy stops at its
    // length. A stream that cannot be cut would store bytes that are not the body.
    const bool read_to_end = !tail_may_follow || (flags & CommitFlags::Resume) ||
                             ComparesWithStoredCopy(complete, job.header_text);
    const bool cut_failed =
        read_to_end && !EndStreamAt(stream, size, tail_may_follow ? -1 : held);
    // The descriptor's own seek: a stream's would read the block the offset falls in. The
    // stream, flushed by ReadHead, holds no position of its own.
    ::lseek(::fileno(stream), static_cast<off_t>(job.header_length), SEEK_SET);

    CommitResult outcome;
    if (cut_failed) {
        outcome = CommitResult::Failed;
    } else if (flags & CommitFlags::Resume) {
        outcome = ResumeBody(key, stream, complete, job);
    } else if (!(flags & CommitFlags::HeadOnly) || (complete && size > job.header_length)) {
        outcome = WriteBody(key, stream, size - job.header_length, complete, flags, job);
    } else {
        outcome = JudgeByDate(key, job.header_text);
    }
    AppendToJournal(key, job.header_text, outcome != CommitResult::Failed);
    if (outcome == CommitResult::Failed) return {};
    return {Add(key, job.header_text, true), outcome};
}

CommitResult headerlistex::ResumeBody(std::string_view key, std::FILE* stream, bool complete,
                                      ReceivedObject& job) {
    std::string path;
    {
        util::MutexLock lock(Mutex());
        const treelistnode* previous = FindRecordByKey(key);
        if (!previous) return CommitResult::Failed;
        GetNodeLocalPath(previous, path);
    }
    if (!AppendToLocalFile(path, stream, job.stop)) return CommitResult::Failed;
    if (complete) return CommitResult::Stored;
    struct stat info {};
    const std::int64_t total = ::stat(path.c_str(), &info) == 0 ? info.st_size : 0;
    AppendHeaderLine(job.header_text, XRangeLine(total));
    return CommitResult::Partial;
}

CommitResult headerlistex::WriteBody(std::string_view key, std::FILE* stream, std::int64_t body,
                                     bool complete, unsigned flags, ReceivedObject& job) {
    std::string& header_text = job.header_text;
    if (ComparesWithStoredCopy(complete, header_text)) {
        util::MutexLock lock(Mutex());
        const treelistnode* previous = FindRecordByKey(key);
        if (previous && SameAsLocalFile(previous, stream)) return CommitResult::Unchanged;
    }
    const std::int64_t written = StoreBody(key, header_text, stream, body, flags, job.stop);
    if (written < 0) return CommitResult::Failed;
    // A stopped copy leaves the start of the body, to be resumed like a cut transfer.
    if (complete && written == body) return CommitResult::Stored;
    AppendHeaderLine(header_text, XRangeLine(written));
    return CommitResult::Partial;
}

CommitResult headerlistex::JudgeByDate(std::string_view key, std::string_view header_text) {
    const std::time_t offered = HeaderDate(header_text);
    util::MutexLock lock(Mutex());
    const treelistnode* previous = FindRecordByKey(key);
    return previous && GetNodeModifiedTime(previous) >= offered ? CommitResult::NotNewer
                                                                : CommitResult::Partial;
}

void headerlistex::AppendToJournal(std::string_view key, const std::string& header_text,
                                   bool valid) {
    util::MutexLock lock(Mutex());
    if (!JournalPath()) return;
    // The reader of a journal stops at a record it cannot hold, and every later record would be
    // lost on repair; such a header goes in as its normalised record instead.
    std::string text = header_text;
    if (key.size() + text.size() + 2 > kMaxFileRecord) {
        auto readable = ReadableRecordText(
            key, BuildRecord(text, TypeForExtension(net::GetExtension(key))), valid);
        if (!readable) return;
        text = std::move(*readable);
    }
    if (!journal_) journal_ = OpenRegularFile(*JournalPath(), "ab");
    // A journal that cannot be written or flushed is opened afresh for the next record.
    if (!journal_ || !WriteRecord(journal_.get(), key, text, valid) ||
        (!journal_held_ && std::fflush(journal_.get()) != 0)) {
        journal_.reset();
        journal_lost_ = true;
    }
}

bool headerlistex::FlushJournal() {
    util::MutexLock lock(Mutex());
    const bool flushed = !journal_lost_ && (!journal_ || std::fflush(journal_.get()) == 0);
    if (!flushed) journal_.reset();
    journal_lost_ = false;
    return flushed;
}

// ---- carrying over and storing -----------------------------------------------------------

treelistnode* headerlistex::CarryOverFields(std::string_view key, std::string& header_text) {
    util::MutexLock lock(Mutex());
    treelistnode* previous = FindRecordByKey(key);
    if (!previous) return nullptr;
    static constexpr std::pair<std::string_view, std::string_view> kChallenges[] = {
        {"WWW-Authenticate:", "WA:"}, {"Proxy-Authenticate:", "PA:"}};
    for (const auto& [header, short_key] : kChallenges) {
        const std::string_view old_value = NodeField(previous, short_key);
        if (util::FindHeader(header_text, header).empty() && !old_value.empty()) {
            AppendHeaderLine(header_text, std::string(short_key) + std::string(old_value) + "\n");
        }
    }
    const std::string_view name = NodeField(previous, "XF:");
    if (IsConfinedName(name)) AppendHeaderLine(header_text, "XF:" + std::string(name) + "\n");
    return previous;
}

std::int64_t headerlistex::StoreBody(std::string_view key, std::string& header_text,
                                     std::FILE* stream, std::int64_t length, unsigned flags,
                                     const StopCheck& stop) {
    BodyState state;
    state.seed = util::Crc32(key.data(), key.size());
    if (!ChooseName(key, header_text, flags, state)) return -1;
    // Nearly always the directory is there and nothing is at the name yet: one open. Only a
    // name that is taken, or an open that failed otherwise, needs looking at.
    errno = 0;
    FilePtr out =
        TakesDirectoryAsIs(state.directory) ? OpenFile(state.name, "wbx") : FilePtr{};
    if (!out && errno != EEXIST) {
        if (!PrepareDirectories(header_text, state)) return -1;
        out = OpenFile(state.name, "wbx");
    }
    if (!out) {
        // The comparison with the file there reads the stream to its end.
        const off_t at = ::ftello(stream);
        if (length >= 0 && (at < 0 || !EndStreamAt(stream, at + length))) return -1;
        if (!HandleExistingFile(header_text, stream, flags, state)) return -1;
        out = OpenOutput(header_text, state);
        if (!out) return -1;
    }
    if (state.differs) {
        while (DeleteHeaderLine(header_text, "XF:") > 0) {
        }
        AppendHeaderLine(header_text, "XF:" + state.name + "\n");
    }
    const std::int64_t written = CopyRest(stream, out.get(), kBodyBlock, stop, length);
    const bool closed = CloseChecked(out);
    return written >= 0 && closed ? written : -1;
}

// Steps that pick the name: a recorded name, a generated one for a query, the
// Content-Location, or the name the key gives.
bool headerlistex::ChooseName(std::string_view key, std::string& header_text, unsigned flags,
                              BodyState& state) {
    const std::string_view recorded = util::FindHeader(header_text, "XF:");
    if (IsConfinedName(recorded)) {
        state.name = recorded;
        state.directory = DirectoryOf(state.name);
        return true;
    }
    // A recorded name that would leave the data directory is dropped.
    while (DeleteHeaderLine(header_text, "XF:") > 0) {
    }
    const std::size_t boundary = KeySplitEnd(key);
    if (boundary < key.size()) {
        std::string prefix(key.substr(0, boundary));
        net::ColonToUnderscore(prefix);
        prefix += '.';
        if (!MakeUniqueName(state.name, prefix, header_text, state.seed)) return false;
        state.differs = true;
    } else if (ContentLocationName(key, header_text, state.name)) {
        state.differs = true;
    } else {
        state.name = DerivedName(key, kNameCapacity);
        if (flags & CommitFlags::MovedBody) {
            state.name += kMovedSuffix;
            state.differs = true;
        } else {
            if (state.name.find('/') == std::string::npos) {
                state.name += '/';
                state.differs = true;
            }
            if (state.name.back() == '/') {
                state.name += RootFileName();
                state.differs = true;
            }
        }
        if (state.name.size() > kMaxStoredName) {
            const std::string prefix = state.name.substr(0, kLongNamePrefix);
            if (!MakeUniqueName(state.name, prefix, header_text, state.seed)) return false;
            state.differs = true;
        }
    }
    state.directory = DirectoryOf(state.name);
    return true;
}

// A Content-Location is used when it resolves to a name under the key's own host.
bool headerlistex::ContentLocationName(std::string_view key, std::string_view header_text,
                                       std::string& name) {
    const std::string_view location = util::FindHeader(header_text, "Content-Location:");
    if (location.empty()) return false;
    net::BaseUrl base;
    net::MakeBaseUrl(base, key);
    std::string resolved;
    if (net::ResolveLink(resolved, base, location) == net::kNotFollowable) return false;
    net::NormalizeUrl(resolved);
    resolved.erase(0, net::HostStart(resolved));
    if (HostPart(resolved) != HostPart(key)) return false;
    std::string candidate = DerivedName(resolved, kNameCapacity);
    if (!IsConfinedName(candidate) || candidate.size() > kMaxStoredName) return false;
    name = std::move(candidate);
    return true;
}

bool headerlistex::PrepareDirectories(std::string_view header_text, BodyState& state) {
    const long made = MakeDirectories(state.directory);
    if (made < 0) return true;
    state.directory.resize(static_cast<std::size_t>(made));
    if (!MakeUniqueName(state.name, state.directory, header_text, state.seed)) return false;
    state.differs = true;
    return true;
}

bool headerlistex::HandleExistingFile(std::string_view header_text, std::FILE* stream,
                                      unsigned flags, BodyState& state) {
    struct stat info {};
    if (StatFile(state.name, info) != 0) return true;
    if (!S_ISREG(info.st_mode)) {
        if (!MakeUniqueName(state.name, state.directory, header_text, state.seed)) return false;
        state.differs = true;
        return true;
    }
    if (!(flags & CommitFlags::KeepOldVersion)) return true;
    FilePtr old = OpenFile(state.name, "rb");
    if (!old) return true;
    const bool same = SameContent(old.get(), stream, IsHtmlHeader(header_text));
    old.reset();
    if (same) return true;
    // A backup that cannot be made does not keep the new version out.
    static_cast<void>(
        RenameFile(state.name, BackupName(state.directory, state.name, info.st_mtime)));
    return true;
}

FilePtr headerlistex::OpenOutput(std::string_view header_text, BodyState& state) {
    FilePtr out = OpenFile(state.name, "wb");
    if (out) return out;
    if (!MakeUniqueName(state.name, state.directory, header_text, state.seed)) return nullptr;
    state.differs = true;
    return OpenFile(state.name, "wb");
}

bool headerlistex::AppendToLocalFile(const std::string& path, std::FILE* stream,
                                     const StopCheck& stop) {
    const std::int64_t rest = RemainingBytes(stream);
    FilePtr out = OpenRegularFile(path, "ab");
    if (!out) return false;
    const std::int64_t copied = CopyRest(stream, out.get(), kBodyBlock, stop);
    return CloseChecked(out) && copied == rest;
}

bool headerlistex::SameAsLocalFile(const treelistnode* node, std::FILE* stream) {
    util::MutexLock lock(Mutex());
    if (!IsHtml(node)) return false;
    std::string path;
    GetNodeLocalPath(node, path);
    FilePtr local = OpenRegularFile(path, "rb");
    return local && SameContent(local.get(), stream, true);
}

// ---- records, saving, removal ------------------------------------------------------------

bool headerlistex::WriteRecord(std::FILE* stream, std::string_view key, std::string_view text,
                               bool valid) {
    return stream && WriteRecordTo(stream, key, text, valid);
}

std::vector<treelistnode*> headerlistex::ListNodes(const treelistnode* node) {
    util::MutexLock lock(Mutex());
    return ListOrder(node);
}

long headerlistex::Save(std::string_view name, bool quick) {
    util::MutexLock lock(Mutex());
    if (quick && !Changed()) return 0;
    if (LoadStoppedEarly(name) && !KeepStoppedLoad(name)) return 0;
    const std::string tmp = std::string(name) + std::string(kTmpSuffix);
    FilePtr file = OpenFile(tmp, "wb");
    if (!file) return 0;
    long count = 0;
    if (!WriteSaveFile(file, quick, count)) {
        std::remove(DataPath(tmp).c_str());
        return -count;
    }
    // rename(2) replaces the old file in one step: there is never a moment without kelvra.hif,
    // and when it fails the old file, the ".tmp" and the journal all stay.
    if (RenameFile(tmp, name) != 0) return -count;
    RotateJournal();
    SetChanged(false);
    return count;
}

bool headerlistex::WriteSaveFile(FilePtr& file, bool quick, long& count) {
    std::setvbuf(file.get(), nullptr, _IOFBF, kSaveBuffer);
    for (const treelistnode* node : ListNodes(Root())) {
        if (!HasRecord(node) || (!quick && !LocalFileExists(node))) continue;
        const std::string key = KeyOf(node);
        const char* text = node->value().text();
        // A record the loader could not read back would end the next load there.
        const auto readable = ReadableRecordText(key, text ? text : "", true);
        if (!readable || !FitsTreeWhenLoaded(key)) continue;
        if (!WriteRecord(file.get(), key, *readable, true)) {
            static_cast<void>(CloseChecked(file));  // the save has failed already
            return false;
        }
        ++count;
    }
    const bool synced = std::fflush(file.get()) == 0 && ::fsync(::fileno(file.get())) == 0;
    return CloseChecked(file) && synced;
}

bool headerlistex::FitsTreeWhenLoaded(const std::string& key) const {
    // Loading files a key under its key form again. Of all that normalisation does, only an
    // entity ("&#47;") can add a name, and only a key with '&' can hold one.
    if (key.find('&') == std::string::npos) return true;
    const std::string loaded = KeyOfUrl(key);
    return !loaded.empty() && NameCount(loaded, KeySplitEnd(loaded)) <= kMaxDepth;
}

std::optional<std::string> headerlistex::KeepStoppedLoad(std::string_view name) {
    util::MutexLock lock(Mutex());
    if (!LoadStoppedEarly(name)) return std::nullopt;
    const std::string from = DataPath(name);
    for (int n = 1; n <= kMaxKeptCopies; ++n) {
        std::string kept = std::string(name) + std::string(kKeptSuffix);
        if (n > 1) kept += std::to_string(n);
        const std::string to = DataPath(kept);
        if (::access(to.c_str(), F_OK) == 0) continue;
        // A second name for the same file: a save replaces name, never the file behind it.
        // Where the file system has no hard links, a copy does.
        if (::link(from.c_str(), to.c_str()) != 0) {
            if (errno == EEXIST) continue;
            if (!util::CopyFile(from, to)) return std::nullopt;
        }
        ForgetStoppedLoad(name);
        return kept;
    }
    return std::nullopt;
}

void headerlistex::RotateJournal() {
    journal_.reset();  // later records go to a new journal
    const std::optional<std::string>& journal = JournalPath();
    if (!journal || ::access(journal->c_str(), F_OK) != 0) return;
    const std::string previous = journal->substr(0, journal->size() - kTmpSuffix.size());
    std::remove(previous.c_str());
    std::rename(journal->c_str(), previous.c_str());
}

bool headerlistex::Remove(std::string_view url) {
    const std::string key = DecodedKeyOfUrl(url);
    util::MutexLock lock(Mutex());
    treelistnode* node = FindKey(key);
    if (!node || node->IsRoot()) return false;
    treelistnode* parent = node->parent();
    RemoveNode(node);
    while (parent && !parent->IsRoot() && parent->IsLeaf() && !parent->value().IsText()) {
        treelistnode* above = parent->parent();
        RemoveNode(parent);
        parent = above;
    }
    SetChanged(true);
    return true;
}

}  // namespace kelvra::store
