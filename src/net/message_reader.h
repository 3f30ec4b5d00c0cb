#pragma once
// Reading one HTTP message (response, or request for the local server) from a channel: the
// header block, then the body by Content-length, by chunked transfer coding, or until the peer
// closes. The raw header and the (decoded) body end up in the channel's temporary file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "net/result_codes.h"

namespace kelvra::net {

class TCPIPClass;

inline constexpr std::size_t kRawAreaSize = 8192;         // a longer header fails the message
inline constexpr std::size_t kStatusTokenSize = 2048;     // token text at most this - 1 bytes
inline constexpr std::size_t kBodyBlockSize = 64 * 1024;  // bytes asked for per body receive
inline constexpr std::size_t kMaxTrailerBytes = 8192;     // trailer fields after the last chunk
inline constexpr std::int64_t kMaxBodyLength = std::int64_t{1} << 62;

enum MessageKind {
    kNoMessage = 0,
    kResponse = 1,     // "HTTP/"
    kGetRequest = 2,   // "GET "
    kHeadRequest = 3,  // "HEAD "
    kPostRequest = 4,  // "POST "
    kOtherRequest = 5,
    kInterimResponse = 6,  // 1xx, skipped
};

enum ReaderState {
    kReaderFailed = -1,
    kScanHeader = 0,  // last byte was not LF
    kAfterLf = 1,
    kAfterLfCr = 2,
    kHeaderComplete = 3,  // also: before the first chunk-size line
    kInChunk = 4,         // chunk data, its line end, or the trailer after the last chunk
    kAfterChunkData = 5,  // reading the next chunk-size line
    kMessageComplete = 6,
};

// One per connection, reused for every message.
struct HttpMessageBuffer {
    // Second word of the first line: the status code text of a response, a request's target.
    std::string status_token;
    // The header block as received, possibly followed by the first body bytes.
    std::array<char, kRawAreaSize> raw{};
    std::size_t header_length = 0;     // including the blank line
    std::size_t filled = 0;            // bytes in raw
    std::int64_t content_length = -1;  // -1: unknown
    std::int64_t remaining = -1;       // body bytes not yet received, from the header's view
    bool keep_alive = false;
    bool chunked = false;
    int version = 0;  // HTTP version of a response as major * 10 + minor

    std::string_view Header() const { return {raw.data(), header_length}; }
};

// True when "Proxy-Connection:" (else "Connection:") is "Keep-Alive", blanks and case aside.
bool KeepAliveResponse(const HttpMessageBuffer& buffer);

class InvestHeaderClass {
  public:
    InvestHeaderClass();
    virtual ~InvestHeaderClass() = default;

    // The channel the message is received from; its temporary file takes the message.
    virtual void AttachSink(TCPIPClass* sink);
    // Starts a new message in the given state (0 for HTTP; 3 when the caller has put a
    // header in place itself, as the FTP client does).
    virtual void Reset(int state);
    // One receive and its processing. Returns the new state; code is kOk, or the
    // failure's channel code (0 when the peer closed before a header). The state returned is
    // also State(), so a caller that reads that may drop it.
    virtual int Step(ChannelCode& code);
    virtual int State() const { return state_; }
    virtual int Kind() const { return kind_; }
    // 1 header complete, 0 nothing within timeout_us microseconds, -1 failed.
    [[nodiscard]] virtual int Poll(long timeout_us);
    // Interprets the header block of header_length bytes in the buffer; returns the kind.
    virtual int ParseHeader(std::size_t header_length);
    virtual HttpMessageBuffer& Buffer() { return buffer_; }
    virtual const HttpMessageBuffer& Buffer() const { return buffer_; }
    // Body bytes as they arrive: counting, completion, chunk decoding into the sink's file.
    virtual void ConsumeBody(const char* data, std::size_t count);
    virtual void ReadHeader();
    virtual void ReadBody();
    // The header is complete: a chunked body switches the tee off and keeps only the header
    // in the file, so that the file holds the header followed by decoded data only.
    virtual void HeaderCompleteHook();

    // The next messages carry no body whatever their header says (answers to HEAD).
    void ExpectNoBody(bool no_body) { no_body_ = no_body; }
    // True once the whole announced body arrived: Content-length reached, or the last chunk
    // with its trailer. A body that ends when the peer closes counts as complete.
    bool BodyComplete() const;
    std::int64_t Consumed() const { return consumed_; }
    std::int64_t ChunkSum() const { return chunk_sum_; }
    // Status code of a response header (the token's value), 0 when it is not 100..999.
    int StatusCode() const;
    // After a failure: reads what was received as a response header once more; its status
    // when that is a redirection (3xx), else 0. A redirection whose Location line arrived
    // whole is usable: its lines up to the last complete one become a complete message
    // without body.
    int RedirectStatusAfterFailure();

  protected:
    TCPIPClass* Sink() const { return sink_; }

  private:
    enum ChunkPhase {
        kChunkSize,       // hexadecimal digits
        kChunkSizeTail,   // blanks after the digits
        kChunkExtension,  // ";name=value" up to the line end
        kChunkSizeCr,
        kChunkData,
        kChunkDataCr,
        kChunkDataLf,
        kTrailerLineStart,
        kTrailerEmptyCr,
        kTrailerLine,
    };

    void SetState(int state);
    void Fail(ChannelCode code);
    void ScanHeader(std::size_t from);
    void PeerClosedInHeader();
    void PeerClosedInBody();
    void BeginBody();
    void FinishMessage(const char* rest, std::size_t count);
    void SkipInterim();
    void TakeCutRedirection();
    // field: the value of the header's "Content-length:" (data() null when it has none).
    bool ParseContentLength(std::string_view field);
    void ApplyResponseRules();
    std::size_t NextBodyRead() const;
    void DecodeChunked(const char* data, std::size_t count);
    std::size_t WriteChunkData(const char* data, std::size_t count);
    bool DecodeSizeByte(char c);
    void EndSizeLine();
    bool DecodeLineByte(char c);

    HttpMessageBuffer buffer_;
    // Not cleared: every byte used is received first, and the pages a short answer never
    // reaches are never touched.
    std::unique_ptr<char[]> block_;
    TCPIPClass* sink_ = nullptr;
    int kind_ = kNoMessage;
    int state_ = kScanHeader;
    ChannelCode failure_code_ = ChannelCode::kOk;
    bool no_body_ = false;
    bool bodiless_ = false;  // this message was taken as having no body
    ChunkPhase phase_ = kChunkSize;
    std::int64_t chunk_left_ = 0;
    std::uint64_t chunk_size_ = 0;  // accumulator of the size line
    int size_digits_ = 0;
    std::int64_t consumed_ = 0;
    std::int64_t chunk_sum_ = 0;
    std::size_t trailer_bytes_ = 0;
};

}  // namespace kelvra::net
