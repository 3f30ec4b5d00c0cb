#pragma once
// Private-profile (INI) files, with the semantics the Windows calls have: section and key
// names match without regard to case, the first match wins, a write keeps every other line.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::platform {

// The text of one INI file held in memory, so that a whole set of keys is read from one reading
// of the file and written with one replacement of it (a crash cannot leave half of them written).
// Lines we do not touch are written back byte for byte.
class ProfileDocument final {
  public:
    // The file's text; a missing file gives an empty document, an unreadable one none.
    static std::optional<ProfileDocument> Load(const std::string& path);

    // The value of key in section (blanks and one pair of quotes removed), none when missing.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view fallback) const;
    // The leading decimal number of the value (with an optional sign), or fallback when the key
    // is missing or empty; a value that does not start with a number gives 0.
    long GetInt(std::string_view section, std::string_view key, long fallback) const;

    // Sets key in section, adding the section or key when missing. False (and nothing changed)
    // when the section, key or value would not read back as written.
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    void RemoveKey(std::string_view section, std::string_view key);
    void RemoveSection(std::string_view section);

    // Replaces the file atomically when the text changed since Load. False when it could not
    // be written (the old file is then intact).
    bool Save(const std::string& path) const;

  private:
    // Each line keeps its own line end ("\n", "\r\n" or none on the last line).
    std::vector<std::string> lines_;
    std::string loaded_;
};

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
