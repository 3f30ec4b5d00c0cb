#pragma once
// Copying, moving and removing stored objects with their records: the destination ends as a
// complete data directory with its own kelvra.hif.
//
// Nothing is lost when the work stops at any point (a failure, or the process killed): an
// object leaves the source only after its copy is closed in the destination and its record
// written to the destination's journal, and the destination's kelvra.hif is replaced in one
// rename.

#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dataprogress.h"
#include "store/headerlist_cookie.h"
#include "store/headerlistex.h"

namespace kelvra::app {

inline constexpr char kErrorPrefix[] = "Error : ";
inline constexpr char kBrokenDestination[] = "Destination .hif is broken.";
inline constexpr char kSameDirectory[] = "Same directory.";
inline constexpr char kNotADirectory[] = "Destination is not a directory.";
inline constexpr char kStoreFailed[] = "Cannot store ";
inline constexpr char kProcessedSuffix[] = " files processed.";

enum class DataOperation { kCopy = 0, kMove = 1, kRemove = 2 };

struct TransferResult {
    enum class Outcome { kDone, kRefused, kFailed, kCancelled };
    long handled = 0;
    Outcome outcome = Outcome::kDone;
};

class MoveDataCore {
  public:
    // mime_table_path: the MIME table the destination's records are normalised with.
    MoveDataCore(store::headerlistex& source, std::string mime_table_path, ProgressSink& progress);

    // The operation list, in the order collected.
    void Add(store::treelistnode* node) { nodes_.push_back(node); }
    void Add(const std::vector<store::treelistnode*>& nodes);
    std::size_t Size() const { return nodes_.size(); }

    // Copies each listed object to destination (none: no copy) unless the destination holds
    // a complete copy at least as new, and with delete_from_source takes it out of the source
    // (record marked removed, file deleted). hif_name is the destination's record file.
    TransferResult Transfer(const std::optional<std::string>& destination,
                            std::string_view hif_name, bool delete_from_source);

  private:
    class Destination;
    class FileRemover;
    // False when the copy could not be stored (the transfer stops).
    bool CopyNode(Destination& to, store::treelistnode* node, const std::string& key, bool move);
    // The source file under its own name in the destination: a second link within one file
    // system, else a plain copy. False when neither is possible (the name is taken, ...).
    bool PlaceAsIs(Destination& to, const std::string& path, const struct stat& info,
                   std::string& header);
    void Record(Destination& to, const std::string& key, const std::string& header,
                const struct timespec* modified);
    // The objects whose copies were recorded leave the source once their journal lines are
    // written; false (all stay) when the journal failed.
    bool Commit(Destination* to, FileRemover& remover, std::vector<store::treelistnode*>& copied);
    // Marks node's record removed; returns its file's path (empty for none).
    std::string TakeOut(store::treelistnode* node);
    bool Refused(const std::string& destination) const;

    store::headerlistex& source_;
    std::string mime_table_path_;
    ProgressSink& progress_;
    std::vector<store::treelistnode*> nodes_;
};

// Loads a data directory's record file and then the records of its journal (a run that ended
// without saving left them there only). Negative when the record file is broken.
long LoadWithJournal(store::headerlistex& store, std::string_view hif_name);

// "選択階層": for each URL (a final "/" dropped unless it has a query; empty for the whole
// store) its node and every node below it, parents first, that holds a valid object.
std::vector<store::treelistnode*> SelectBelow(store::headerlistex& store,
                                              const std::vector<std::string>& urls);

// "起動後に取得": the keys of the valid records of this run's journal in the data directory,
// depth first; empty without a journal.
std::vector<std::string> FetchedSinceStart(const store::headerlistex& store);

// The nodes of the chosen keys that the store holds as valid objects, taken from the last
// chosen to the first.
std::vector<store::treelistnode*> FindChosen(store::headerlistex& store,
                                             const std::vector<std::string>& keys);

// "選択URLの全ﾘﾝｸ": the stored objects reachable by links from urls, found in the stored pages
// only (nothing is fetched). Each URL follows its own condition in condition_file, or the
// default one, but with every stored object used as it is and links traced without end. Empty
// when cancelled.
std::vector<store::treelistnode*> SelectLinked(store::headerlist_cookie& store,
                                               const std::string& condition_file,
                                               const std::vector<std::string>& urls,
                                               ProgressSink& progress);

}  // namespace kelvra::app
