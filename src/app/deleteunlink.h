#pragma once
// Files in the data directory that no record names ("履歴情報の無いﾃﾞｰﾀ"): finding them below
// the selected URLs, moving them to another directory or removing them, and pruning the
// directories left empty.

#include <optional>
#include <string>
#include <vector>

#include "app/dataprogress.h"
#include "store/headerlistex.h"

namespace kelvra::app {

inline constexpr char kFindingFiles[] = "Finding all files...";
inline constexpr char kCheckingHistory[] = "Checking file history ...";
inline constexpr char kInProcess[] = "In process ...";
inline constexpr char kRemovingDirectories[] = "Removing empty directories....";

class DeleteUnlink {
  public:
    // Events run every this many nodes or files.
    static constexpr unsigned kEventInterval = 16;

    DeleteUnlink(store::headerlistex& store, ProgressSink& progress);

    // Files (paths relative to the data directory) below the local directories of urls that
    // no valid record names. An empty URL or "/" is the whole data directory without the files
    // lying directly in it (the program's own). None when the user cancelled.
    std::optional<std::vector<std::string>> FindUnlinked(const std::vector<std::string>& urls);

    struct Outcome {
        long handled = 0;
        bool cancelled = false;
    };
    // Takes the chosen files from the last to the first: moved to the same relative path
    // under destination (directories made as needed), or removed without one.
    Outcome Process(const std::vector<std::string>& chosen,
                    const std::optional<std::string>& destination);

    // Removes every directory below the urls' local directories that holds nothing but empty
    // directories, deepest first; the URL's own directory stays. Returns the number removed.
    long PruneEmptyDirectories(const std::vector<std::string>& urls);

  private:
    // The local directory of a URL relative to the data directory ("" for the whole of it).
    static std::string LocalDirectory(const std::string& url);
    bool MoveFile(const std::string& relative, const std::string& destination);

    store::headerlistex& store_;
    ProgressSink& progress_;
};

}  // namespace kelvra::app
