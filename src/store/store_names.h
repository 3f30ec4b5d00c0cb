#pragma once
// Record keys and local file names: how a URL becomes a key, and the rules that keep every
// name the store writes inside the data directory.

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvra::store {

inline constexpr std::size_t kMaxLocalName = 2047;

// The key form of a URL: percent-decoded, normalised, without scheme and user information.
std::string KeyOfUrl(std::string_view url);
// The lighter reduction used when removing: user information and scheme skipped, decoded only.
std::string DecodedKeyOfUrl(std::string_view url);
// Where the names of a key stop being split at '/' (the query boundary).
std::size_t KeySplitEnd(std::string_view key);

// True for a name that can be used as it is under the data directory: relative, with a
// directory part, no "." or ".." segment, no empty segment but a last one, no backslash, no
// ':' and no control byte, at most kMaxLocalName bytes.
bool IsConfinedName(std::string_view name);
// Makes a name derived from a key safe to use: "." and ".." segments get their dots written as
// "%2e", backslashes as "%5c", control bytes as "%xx", and a leading '/' as "%2f".
void ConfineName(std::string& name);
// True when some '/'-separated segment of path is "..".
bool HasParentSegment(std::string_view path);

// The six base-36 digits of a generated name, least significant first.
std::string Base36Seed(std::uint32_t seed);

}  // namespace kelvra::store
