#pragma once
// Stream helpers of the store: owned FILE handles, block copies and content comparison.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/ownedfile.h"

namespace kelvra::store {

using platform::FilePtr;

// fopen(path, mode) for a regular file only (an existing one, or one the mode creates). A
// FIFO, device, socket or directory in its place is refused at once: opening them could wait
// for a peer that never comes, or write the data where nothing keeps it. A mode with 'x'
// creates the file and fails when the name is taken.
FilePtr OpenRegularFile(const std::string& path, const char* mode);
// The same refusal for a plain descriptor opened for reading, with the file's status in info:
// what reads a small part of many files uses it to save the stream's set-up.
platform::UniqueFd OpenRegularForReading(const std::string& path, struct stat& info);

// Closes an owned file and reports whether everything written reached the system.
[[nodiscard]] bool CloseChecked(FilePtr& file);

// Bytes from the current position to the end, or -1. The position is kept.
std::int64_t RemainingBytes(std::FILE* file);
// Size of the whole file, or -1.
std::int64_t StreamSize(std::FILE* file);
// Cuts off what the file holds past end (the file's size when known, else -1 to ask the file);
// false when that fails. A negative end cuts nothing.
bool EndStreamAt(std::FILE* file, std::int64_t end, std::int64_t size = -1);

// Asked after each block of a copy: true ends the copy there.
using StopCheck = std::function<bool()>;

// Copies the rest of from into to in blocks of block_size bytes, up to the end or until stop
// answers true. Returns the number of bytes copied, or -1 when a block could not be written
// completely. A length of 0 or more copies at most that many bytes: given the length the rest
// is known to have, the copy ends without a last call that only finds the end.
std::int64_t CopyRest(std::FILE* from, std::FILE* to, std::size_t block_size,
                      const StopCheck& stop = {}, std::int64_t length = -1);

// Compares the rest of a with the rest of b. As bytes: equal remaining length and bytes. As
// text: line by line (lines up to 4096 bytes), trailing bytes at or below space ignored, and b
// must end where a ends. Both positions are restored.
bool SameContent(std::FILE* a, std::FILE* b, bool as_text);

}  // namespace kelvra::store
