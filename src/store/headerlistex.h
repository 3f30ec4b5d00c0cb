#pragma once
// The journal-and-saving layer of the store: committing fetched responses to local files and
// records, the journal of commits, saving kelvra.hif, and removal.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/headerlistmanager.h"
#include "store/store_files.h"

namespace kelvra::store {

// Bits a caller passes to Commit.
struct CommitFlags {
    static constexpr unsigned HeadOnly = 1;   // an update check: judge a bodiless answer by date
    static constexpr unsigned Resume = 2;     // the body continues a partial local file
    static constexpr unsigned MovedBody = 4;  // a redirect's body: stored as name + ".$mv"
    static constexpr unsigned KeepOldVersion = 8;  // back up a changed file before replacing it
};

enum class CommitResult : int {
    Failed = 0,     // the body could not be stored or appended
    Stored = 1,     // the complete body was stored
    Unchanged = 2,  // the stored file already holds this content
    Partial = 3,    // stored incompletely; HeadOnly: newer or of unknown age
    NotNewer = 4,   // HeadOnly: the stored copy is not older
};

// What Commit did: the record it stored (none when nothing was) and how the body went.
struct Committed {
    treelistnode* record = nullptr;
    CommitResult result = CommitResult::Failed;
};

// What a fetch hands over with its response file (raw header, then the body).
struct ReceivedObject {
    std::int64_t header_length = 0;
    std::int64_t content_length = -1;  // announced body length; negative when unknown
    // The body ended early where no length tells (a chunked body cut short, a failed read):
    // what arrived is stored as a partial file.
    bool cut_short = false;
    // Bytes of the stream that belong to the response, when more may follow them; negative:
    // the response ends with the stream.
    std::int64_t response_length = -1;
    // Filled by Commit: the header as received plus the lines Commit adds.
    std::string header_text;
    // Asked while the body is copied to its local file: true ends the copy, and what was
    // copied is kept as a partial object (a stop must not wait for gigabytes to be copied).
    StopCheck stop;
};

class headerlistex : public headerlistmanager {
  public:
    using headerlistmanager::headerlistmanager;
    ~headerlistex() override;

    // Stores a response held in stream (opened for reading and writing: a body longer than
    // announced is cut). A header that cannot be read stores nothing (result Failed).
    [[nodiscard]] virtual Committed Commit(std::string_view url, std::FILE* stream,
                                           ReceivedObject& job, unsigned flags);
    // The same for a response file given by path.
    [[nodiscard]] Committed Commit(std::string_view url, const std::string& response_path,
                                   ReceivedObject& job, unsigned flags);
    // Deletes the URL's node with everything below it, then ancestors left empty.
    [[nodiscard]] virtual bool Remove(std::string_view url);
    // Writes every record (quick) or those whose local file exists (full) to name via
    // name + ".tmp". Returns the count, negated on a write failure; 0 when nothing was done.
    // A record the loader could not read back is shortened or left out. The file of a load
    // that stopped early is kept first (KeepStoppedLoad); when it cannot be, nothing is done.
    [[nodiscard]] virtual long Save(std::string_view name, bool quick);
    // The file of a load that stopped early still holds the records after the break: keeps it
    // under name + kKeptSuffix (a number added when that exists), a name no other file of the
    // program takes, before a save may replace name. Returns the name it was kept under;
    // none when it could not be kept, or name's load did not stop early.
    std::optional<std::string> KeepStoppedLoad(std::string_view name);
    static constexpr std::string_view kKeptSuffix = ".broken";
    // Writes the body from the stream's position under the key's local name, up to its end or
    // until stop answers true. length: the bytes left in the stream when known, else -1.
    // Returns the bytes written, or -1. May replace the "XF:" line of header_text.
    [[nodiscard]] virtual std::int64_t StoreBody(std::string_view key, std::string& header_text,
                                                 std::FILE* stream, std::int64_t length,
                                                 unsigned flags, const StopCheck& stop);
    // Copies authentication challenges and the local name of the key's previous record into
    // header_text. Returns the previous record's node or none.
    virtual treelistnode* CarryOverFields(std::string_view key, std::string& header_text);
    [[nodiscard]] virtual bool WriteRecord(std::FILE* stream, std::string_view key,
                                           std::string_view text, bool valid);
    // Appends the rest of stream to the file at path (a full path); false when that failed or
    // stop ended it early.
    [[nodiscard]] virtual bool AppendToLocalFile(const std::string& path, std::FILE* stream,
                                                 const StopCheck& stop);
    // Every node below node, parents first, siblings descending (taken under the lock).
    virtual std::vector<treelistnode*> ListNodes(const treelistnode* node);
    // True when node is an HTML document whose local file has the text of stream's rest.
    virtual bool SameAsLocalFile(const treelistnode* node, std::FILE* stream);

  protected:
    void AppendToJournal(std::string_view key, const std::string& header_text, bool valid);
    // While held, journal records are buffered instead of flushed one by one, so that a batch
    // costs one write; FlushJournal writes them out and tells whether every record since the
    // last flush reached the file.
    void HoldJournal(bool hold) { journal_held_ = hold; }
    [[nodiscard]] bool FlushJournal();

  private:
    struct BodyState;
    // The previous record is looked up again under the lock in each step, as another thread
    // may have removed it since.
    CommitResult ResumeBody(std::string_view key, std::FILE* stream, bool complete,
                            ReceivedObject& job);
    // body: the bytes left in stream, as Commit measured them.
    CommitResult WriteBody(std::string_view key, std::FILE* stream, std::int64_t body,
                           bool complete, unsigned flags, ReceivedObject& job);
    CommitResult JudgeByDate(std::string_view key, std::string_view header_text);
    bool ChooseName(std::string_view key, std::string& header_text, unsigned flags,
                    BodyState& state);
    bool ContentLocationName(std::string_view key, std::string_view header_text, std::string& name);
    bool PrepareDirectories(std::string_view header_text, BodyState& state);
    bool HandleExistingFile(std::string_view header_text, std::FILE* stream, unsigned flags,
                            BodyState& state);
    FilePtr OpenOutput(std::string_view header_text, BodyState& state);
    bool WriteSaveFile(FilePtr& file, bool quick, long& count);
    // False for a key that, loaded, would have more names than the tree holds.
    bool FitsTreeWhenLoaded(const std::string& key) const;
    void RotateJournal();

    // Kept open between commits (opening and closing it for each record costs two system calls
    // and a name lookup); flushed after every record, so a killed process loses none.
    FilePtr journal_;
    bool journal_held_ = false;
    bool journal_lost_ = false;  // a held record did not reach the journal
};

}  // namespace kelvra::store
