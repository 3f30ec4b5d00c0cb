#pragma once
// quenlo: rebuilds or completes kelvra.hif for the data directory it is run in, from the files
// stored there.

#include <cstdio>
#include <string>
#include <vector>

namespace kelvra::hifbuild {

inline constexpr int kExitDone = 0;
inline constexpr int kExitNoBackup = 255;

// Relative paths ('/' separators) of the regular files below the subdirectories of root;
// files directly in root are not collected. Entries of a directory come in name order;
// symbolic links are not followed.
std::vector<std::string> CollectStoredFiles(const std::string& root);

// The whole run in the current directory, printing to out. Returns the exit status.
int Run(std::FILE* out);

}  // namespace kelvra::hifbuild
