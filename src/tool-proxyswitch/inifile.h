#pragma once
// The little of the private-profile (INI) semantics dravel needs: writing one key. Section and
// key names match without regard to case, the first match wins, every other line is kept
// byte for byte, and the file is replaced atomically.

#include <string>
#include <string_view>

namespace kelvra::proxyswitch {

// kelvraw.ini in ${XDG_CONFIG_HOME:-$HOME/.config}/kelvraw/.
std::string SettingsFilePath();

// Sets key in section of the file at path, creating the directory, file, section or key when
// missing. False when a name or the value cannot be stored on one line, or the file cannot be
// read or replaced (it is then unchanged).
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path);

}  // namespace kelvra::proxyswitch
