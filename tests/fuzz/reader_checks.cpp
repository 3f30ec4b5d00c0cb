#include "reader_checks.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "net/message_reader.h"
#include "net/result_codes.h"

namespace kelvra::fuzz {

namespace {

// More messages on one connection add nothing the first ones did not reach.
constexpr int kMaxMessages = 16;

long FileSize(std::FILE* file) {
    std::fflush(file);
    struct stat info {};
    return ::fstat(::fileno(file), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

void CheckFile(net::httputils& client) {
    const net::HttpMessageBuffer& buffer = client.Buffer();
    std::int64_t body = buffer.chunked ? client.ChunkSum() : client.Consumed();
    std::int64_t expected = static_cast<std::int64_t>(buffer.header_length) + body;
    if (FileSize(client.TempStream()) != expected) __builtin_trap();
    if (buffer.content_length >= 0 && !buffer.chunked &&
        client.Consumed() > buffer.content_length) {
        __builtin_trap();
    }
}

}  // namespace

void ReadMessages(net::httputils& client, bool head) {
    client.ExpectNoBody(head);
    for (int message = 0; message < kMaxMessages; ++message) {
        const net::ResponseStatus read = client.ReadStatus();
        if (client.State() < 0) break;
        if (read.Arrived() && (read.status < 100 || read.status > 999)) __builtin_trap();
        net::ChannelCode code = net::ChannelCode::kOk;
        while (client.State() >= net::kHeaderComplete && client.State() < net::kMessageComplete) {
            client.Step(code);
        }
        if (client.State() != net::kMessageComplete) break;
        CheckFile(client);
        if (client.Peek(0) != 1) break;
    }
}

}  // namespace kelvra::fuzz
