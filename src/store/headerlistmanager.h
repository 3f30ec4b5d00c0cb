#pragma once
// The header-information store: one HeaderInfo record per stored object, in a tree keyed by
// the URL key form (host, path segments, the query kept in the last name). Every operation
// that walks or changes the tree or reads a record holds the store's recursive lock; callers
// that keep a node or a view into a record across calls hold Mutex() themselves.

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "store/mimetype.h"
#include "store/store_files.h"
#include "store/treelistmanager.h"
#include "util/lock.h"

namespace kelvra::store {

inline constexpr std::size_t kMaxDataPath = 256;  // full paths must be shorter

class headerlistmanager : public treelistmanager, public MimeTypeClass {
  public:
    // data_directory: an existing directory, else the current one. journal_name: a file name in
    // the data directory (".tmp" is added), or none for no journal. A missing MIME table leaves
    // the table empty.
    headerlistmanager(std::string_view data_directory, std::string_view root_file_name,
                      std::optional<std::string_view> journal_name,
                      const std::string& mime_table_path);
    ~headerlistmanager() override;

    // The store's lock (recursive; every operation below takes it).
    util::MutexClass& Mutex() const { return mutex_; }

    // ---- files, by path relative to the data directory ('/' separators) --------------------
    // Opens data directory + rel (a regular file only, see OpenRegularFile); none when the full
    // path is too long or rel climbs out.
    virtual FilePtr OpenFile(std::string_view rel, const char* mode);
    // access(2) and stat(2) results; -1 when the path is too long or climbs out.
    virtual int AccessFile(std::string_view rel, int mode);
    virtual int StatFile(std::string_view rel, struct stat& info);
    // rename(2) result; -1 when a path is refused.
    [[nodiscard]] virtual int RenameFile(std::string_view rel_old, std::string_view rel_new);
    // data directory + rel, without checks (the directory itself, with its '/', for none).
    virtual std::string DataPath(std::string_view rel = {}) const;

    // Adds the records of a record file (first record of a key wins). Returns the number
    // added, negated when the file ended abnormally; 0 when it cannot be opened.
    [[nodiscard]] virtual long Load(std::string_view name);
    // True while the last Load of name stopped before the end of its file, also when it
    // added nothing before the break, until that file was kept (headerlistex).
    bool LoadStoppedEarly(std::string_view name) const;

    // ---- lookups -----------------------------------------------------------------------------
    // Value of record line key ("CT:", ...) of the URL's / node's record; false and out empty
    // when absent, empty, or there is no record.
    virtual bool GetUrlField(std::string_view url, std::string_view key, std::string& out);
    virtual bool GetNodeField(const treelistnode* node, std::string_view key, std::string& out);
    // A view into the record text: valid only while the caller holds Mutex().
    std::string_view NodeField(const treelistnode* node, std::string_view key) const;
    // Full path of the local file. The node form always succeeds; the URL form fails (out
    // empty) without a record.
    virtual bool GetUrlLocalPath(std::string_view url, std::string& out);
    virtual bool GetNodeLocalPath(const treelistnode* node, std::string& out);
    virtual const std::string& RootFileName() const;
    // The node of a key; the same only when it counts as an entry; the same for a URL.
    virtual treelistnode* FindKey(std::string_view key);
    virtual treelistnode* FindRecordByKey(std::string_view key);
    virtual treelistnode* FindRecord(std::string_view url);
    // Creates the directories of a relative directory path. -1 when all exist now, else the
    // length of the longest prefix before the first directory that could not be made.
    virtual long MakeDirectories(std::string_view relative_directory);
    // Whether MakeDirectories takes an existing relative_directory as it stands (no parent
    // segment, short enough), so that a file may be created in it without a look first.
    bool TakesDirectoryAsIs(std::string_view relative_directory) const;
    virtual bool GetUrlContentType(std::string_view url, std::string& out);
    virtual bool GetNodeContentType(const treelistnode* node, std::string& out);
    virtual bool IsHtml(const treelistnode* node);
    // ---- changes -----------------------------------------------------------------------------
    // Normalises text (unless a cookie record) and files it under the URL's key. Returns the
    // node, the existing one when overwrite is clear; none for a key the tree cannot hold.
    virtual treelistnode* Add(std::string_view url, std::string_view text, bool overwrite);
    virtual bool LocalFileExists(const treelistnode* node);
    virtual bool GetUrlLastModified(std::string_view url, std::string& out);
    virtual bool GetNodeLastModified(const treelistnode* node, std::string& out);
    // "LM:" as calendar time; 0 when absent or unreadable.
    virtual std::time_t GetNodeModifiedTime(const treelistnode* node);
    // Not the root, not removed, and a leaf or a node with a record text.
    virtual bool HasRecord(const treelistnode* node) const;
    // Deletes line key of the URL's record; true when a line was removed.
    virtual bool RemoveField(std::string_view url, std::string_view key);
    // Finds a free generated name prefix + six base-36 digits from seed + "." + extension of
    // the header's Content-type (or "web"); tries 33 seeds. False when all exist.
    virtual bool MakeUniqueName(std::string& out, std::string_view prefix,
                                std::string_view header_text, std::uint32_t seed);
    virtual std::string BuildRecord(std::string_view text,
                                    std::string_view type_for_extension) const;
    // data directory + rel; false when the result would be kMaxDataPath bytes or more, or rel
    // has a ".." segment.
    virtual bool LimitedDataPath(std::string_view rel, std::string& out) const;

    // ---- state -------------------------------------------------------------------------------
    std::string NodeKey(const treelistnode* node) const;
    const std::string& DataDirectory() const { return data_directory_; }
    const std::optional<std::string>& JournalPath() const { return journal_path_; }
    bool Changed() const { return changed_.load(); }
    void SetChanged(bool changed) { changed_.store(changed); }
    bool CookiesEnabled() const { return cookies_enabled_.load(); }
    void SetCookiesEnabled(bool enabled) { cookies_enabled_.store(enabled); }

    // The node of a key exactly as given (no normalisation), created when missing; none for a
    // key the tree cannot hold.
    treelistnode* InsertKey(std::string_view key);

  protected:
    // The local name a key maps to when its record names none (no data directory).
    std::string DerivedName(std::string_view key, std::size_t capacity) const;
    // Whether a record of cookie text was ever added: until then no URL has cookies to send,
    // and a site without cookies spares every request the search for them. Mutex() held.
    bool CookieRecordAdded() const { return cookie_record_added_; }
    void ForgetStoppedLoad(std::string_view name);

  private:
    void SetDataDirectory(std::string_view data_directory);

    mutable util::MutexClass mutex_;
    std::string data_directory_;  // ends in '/'
    std::string root_file_name_;
    std::optional<std::string> journal_path_;
    std::set<std::string, std::less<>> stopped_loads_;
    bool cookie_record_added_ = false;  // guarded by mutex_
    std::atomic<bool> changed_{false};
    std::atomic<bool> cookies_enabled_{false};
};

}  // namespace kelvra::store
