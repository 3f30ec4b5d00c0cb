#pragma once
// Helpers shared by the channel and reader tests.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "net/httputils.h"
#include "net/result_codes.h"
#include "net/tcpip.h"
#include "util/tempdir.h"

namespace kelvra::net {

// A readable failure message (every test comparing these includes this header).
inline void PrintTo(const ResponseStatus& read, std::ostream* out) {
    *out << "{status " << read.status << ", ChannelCode " << static_cast<int>(read.failure) << "}";
}

}  // namespace kelvra::net

namespace kelvra::net::testing {

using kelvra::testing::TempDir;

// What ReadStatus gives when no answer arrived.
inline ResponseStatus Failed(ChannelCode code) {
    return {0, code};
}

// Whole content of the channel's temporary file.
inline std::string TempFileText(TCPIPClass& channel) {
    std::FILE* file = channel.TempStream();
    if (file == nullptr) return "<no file>";
    std::fflush(file);
    long position = std::ftell(file);
    std::rewind(file);
    std::string text;
    char block[65536];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, n);
    std::fseek(file, position, SEEK_SET);
    return text;
}

// Steps the reader until the message is complete or failed; returns the last code.
inline ChannelCode ReadToEnd(httputils& client) {
    ChannelCode code = ChannelCode::kOk;
    while (client.State() >= kHeaderComplete && client.State() < kMessageComplete) {
        client.Step(code);
    }
    return code;
}

// An httputils whose temporary file lives in its own directory, with a time-out that keeps
// a faulty test from hanging.
struct ClientFixture : ::testing::Test {
    ClientFixture() {
        client.SetTempDirectory(dir.Path());
        client.SetTimeout(5);
    }
    TempDir dir;
    httputils client;
};

}  // namespace kelvra::net::testing
