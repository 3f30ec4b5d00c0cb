#pragma once
// Where kelvraw.ini and proxycfg.pac live: ${XDG_CONFIG_HOME:-$HOME/.config}/kelvraw/, or the
// current directory when the program was started with -cd.

#include <string>

namespace kelvra::platform {

// The directory with a trailing '/'. Does not create it.
std::string SettingsDirectory(bool use_current_directory);

// Creates the directory (and its parents) when missing; true when it exists afterwards.
bool EnsureSettingsDirectory(bool use_current_directory);

}  // namespace kelvra::platform
