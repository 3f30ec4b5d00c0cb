#pragma once
// Private-profile (INI) files, with the semantics the Windows calls have: section and key
// names match without regard to case, the first match wins, a write keeps every other line.

#include <string>
#include <string_view>

namespace kelvra::platform {

// The value of key in section, or fallback when the file, section or key is missing.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view fallback, const std::string& path);

// The leading decimal number of the value (with an optional sign), or fallback when the key is
// missing; a value that does not start with a number gives 0.
long GetPrivateProfileInt(std::string_view section, std::string_view key, long fallback,
                          const std::string& path);

// Sets key in section, creating the file, section or key when missing, and replaces the file
// atomically. RemovePrivateProfileKey and RemovePrivateProfileSection delete instead.
// False when the file could not be written
// (the old file is then intact).
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& path);
bool RemovePrivateProfileKey(std::string_view section, std::string_view key,
                             const std::string& path);
bool RemovePrivateProfileSection(std::string_view section, const std::string& path);

}  // namespace kelvra::platform
