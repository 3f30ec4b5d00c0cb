// The local server's request side: the request reader over arbitrary bytes, then the command
// parser, the reload test, the prohibit list (matching and rewriting) and the confinement of
// the target to the data directory. No socket and no name lookup is involved.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/message_reader.h"
#include "net/tcpip.h"
#include "net/url.h"
#include "server/prohibitlist.h"
#include "server/servercommand.h"
#include "server/spoolpath.h"

namespace {

const kelvra::server::ProhibitClass& List() {
    static const kelvra::server::ProhibitClass list = [] {
        kelvra::server::ProhibitClass built;
        for (const char* line :
             {"ads;.gif", ".exe :404", "\\(oldhost\\)/\\(.*\\)/ http://\\1/x/\\2",
              "cgi-bin *nsv $1", "!keep;secret", "\\([a-z]*\\)\\.\\([a-z]*\\) \\2\\1"}) {
            built.Add(kelvra::server::ParseProhibitLine(line));
        }
        return built;
    }();
    return list;
}

void Examine(const kelvra::net::HttpMessageBuffer& buffer) {
    std::string target = buffer.status_token;
    const std::string_view header = buffer.Header();
    kelvra::server::IsBrowserReload(header);
    if (!target.empty() && target.front() == '/') {
        for (int level = 1; level <= 2; ++level) {
            kelvra::server::ParseServerCommand(target, level, 0x23, level == 2);
        }
    }
    kelvra::util::CaptureTable captures;
    const kelvra::server::ProhibitEntry* entry = List().Find(target, captures);
    if (entry != nullptr && kelvra::server::HasCaptures(captures)) {
        const std::string subject(kelvra::server::MatchSubject(target));
        kelvra::server::Rewrite(target, entry->text, subject, captures);
    }
    const std::size_t start = std::min(kelvra::net::HostStart(target), target.size());
    kelvra::server::ConfinedRelativePath(std::string_view(target).substr(start), "p.csv");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kelvra::server::ParseProhibitLine(input);

    // The reader takes the bytes as if they had arrived on a connection, possibly several
    // requests in a row.
    kelvra::net::TCPIPClass channel;
    channel.SetTee(false);
    channel.Unread(input.data(), input.size());
    kelvra::net::InvestHeaderClass reader;
    reader.AttachSink(&channel);
    for (int message = 0; message < 4 && channel.HeldBackBytes() > 0; ++message) {
        reader.Reset(kelvra::net::kScanHeader);
        kelvra::net::ChannelCode code = kelvra::net::ChannelCode::kOk;
        while (reader.State() >= 0 && reader.State() < kelvra::net::kHeaderComplete &&
               channel.HeldBackBytes() > 0) {
            reader.Step(code);
        }
        if (reader.State() < kelvra::net::kHeaderComplete) break;
        Examine(reader.Buffer());
        // the rest of the message's body, as the server would consume it
        while (reader.State() >= kelvra::net::kHeaderComplete &&
               reader.State() < kelvra::net::kMessageComplete && channel.HeldBackBytes() > 0) {
            reader.Step(code);
        }
    }
    return 0;
}
