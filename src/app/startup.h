#pragma once
// Program entry and start-up: the checks made before anything else, the one store of the
// process over the data directory, and its repair from the journal of a run that did not end
// normally.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/lifo.h"
#include "app/settings.h"
#include "app/userinterface.h"
#include "store/headerlistex.h"

namespace kelvra::app {

inline constexpr char kMimeTableName[] = "kelvra.mtf";
inline constexpr char kHeaderFileName[] = "kelvra.hif";
// The store journals into kJournalName + ".tmp"; a save renames that to kJournalName.
inline constexpr char kJournalName[] = "kelvra.log";
inline constexpr char kJournalFileName[] = "kelvra.log.tmp";
inline constexpr char kStartupErrorCaption[] = "KelvraW起動ｴﾗｰ";
inline constexpr char kMainTitle[] = "KelvraW";

// Values computed once at program entry and kept for the life of the process.
struct ProgramEnvironment {
    std::string mime_table_path;  // beside the program
    std::string ini_path;
    std::string pac_path;
    bool use_current_directory = false;  // "-cd"
};

// The running program's directory with a trailing '/'; argv0 is only used when the system
// cannot tell the program's own path.
std::string ProgramDirectory(std::string_view argv0);

// True when the first argument (after the program name) is exactly "-cd".
bool UseCurrentDirectoryOption(int argc, const char* const* argv);

// Finds kelvra.mtf beside the program and the settings paths. When the table cannot be read
// the user is told and the result is none: the program then ends.
std::optional<ProgramEnvironment> PrepareProgram(UserInterface& ui, int argc,
                                                 const char* const* argv);

// One running instance per settings directory. Held for the lifetime of the object; released
// by the system when the process ends in any way.
class InstanceLock final {
  public:
    // None when another process holds the lock for this settings directory.
    static std::unique_ptr<InstanceLock> Acquire(const std::string& settings_directory);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

  private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

// The process's current directory with a trailing '/'.
std::string CurrentDirectory();

// Deletes the progress log named name in the data directory when it exists and may be
// written. A name that would leave the data directory is left alone. True when deleted.
bool DeleteProgressLog(const std::string& data_directory, const std::string& name);

// True when name, taken relative to the data directory, stays inside it.
bool StaysInside(std::string_view name);

// Loads kelvra.hif into the store and, when the journal of the previous run is still there
// (that run did not end normally), repairs the store from it, telling the user either way. A
// kelvra.hif whose load stopped early is reported and kept under another name (told too).
void LoadHeaderInformation(UserInterface& ui, store::headerlistex& store);

// Replays the journal kelvra.log.tmp into the store in the order it was written. Every record
// in it was committed after kelvra.hif was last written, so a journal record replaces the one
// loaded for its key and the last commit of a key wins. Failed fetches are skipped. Returns the
// number of records applied, negated when the journal ends inside a record (a run killed while
// writing it); 0 when it cannot be read.
long ReplayJournal(store::headerlistex& store);

}  // namespace kelvra::app
