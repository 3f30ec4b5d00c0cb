#pragma once
// What every response-reader fuzz target checks after a message: the temporary file holds the
// header and exactly the body the reader counted, and no more than Content-Length was taken.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "net/httputils.h"
#include "net/message_reader.h"

namespace kelvra::fuzz {

inline long FileSize(std::FILE* file) {
    std::fflush(file);
    struct stat info {};
    return ::fstat(::fileno(file), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

inline void CheckFile(net::httputils& client) {
    const net::HttpMessageBuffer& buffer = client.Buffer();
    std::int64_t body = buffer.chunked ? client.ChunkSum() : client.Consumed();
    std::int64_t expected = static_cast<std::int64_t>(buffer.header_length) + body;
    if (FileSize(client.TempStream()) != expected) __builtin_trap();
    if (buffer.content_length >= 0 && !buffer.chunked &&
        client.Consumed() > buffer.content_length) {
        __builtin_trap();
    }
}

}  // namespace kelvra::fuzz
