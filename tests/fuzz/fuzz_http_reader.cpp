// Feeds the response reader arbitrary bytes in blocks of arbitrary size through a channel
// stand-in (a transport that serves the input from memory), message after message as on a
// kept connection, and checks that the temporary file always holds exactly the header and
// the body the reader reports.

#include <fuzzer/FuzzedDataProvider.h>
#include <poll.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "net/httputils.h"
#include "net/result_codes.h"
#include "reader_checks.h"

namespace {

using namespace kelvra::net;
using kelvra::fuzz::kFakeSocket;
using kelvra::fuzz::ReadMessages;

// The peer: each Receive returns at most the next block; at the end the peer closes.
class MemoryTransport final : public Transport {
  public:
    explicit MemoryTransport(std::deque<std::string>& blocks) : blocks_(blocks) {}
    bool Connect(int, const sockaddr_in&) override { return true; }
    ChannelCode Established(int) override { return ChannelCode::kOk; }
    long Send(int, const char*, std::size_t length) override { return static_cast<long>(length); }
    long Receive(int, char* data, std::size_t capacity, bool) override {
        if (blocks_.empty()) return 0;
        std::string& block = blocks_.front();
        std::size_t n = std::min(capacity, block.size());
        std::copy(block.data(), block.data() + n, data);
        block.erase(0, n);
        if (block.empty()) blocks_.pop_front();
        return static_cast<long>(n);
    }
    int Wait(int, short events, int) override { return events & POLLIN; }
    int Peek(int) override { return blocks_.empty() ? -1 : 1; }
    int Close(int) override { return 0; }

  private:
    std::deque<std::string>& blocks_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool head = input.ConsumeBool();
    std::deque<std::string> blocks;
    while (input.remaining_bytes() > 0) {
        std::size_t length = input.ConsumeIntegralInRange<std::size_t>(1, 9000);
        blocks.push_back(input.ConsumeBytesAsString(length));
    }

    static httputils* client = nullptr;  // one channel and temporary file for the whole run
    static std::deque<std::string>* source = nullptr;
    if (client == nullptr) {
        source = new std::deque<std::string>();
        client = new httputils(std::make_unique<MemoryTransport>(*source));
    }
    source->swap(blocks);
    client->AdoptSocket(kFakeSocket);
    ReadMessages(*client, head);
    client->ReleaseSocket();
    source->clear();
    return 0;
}
