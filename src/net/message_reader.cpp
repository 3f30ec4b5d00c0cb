#include "net/message_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "net/result_codes.h"
#include "net/tcpip.h"
#include "util/header.h"
#include "util/strutil.h"

namespace kelvra::net {

namespace {

constexpr std::string_view kKeepAlive = "Keep-Alive";

// The fields that say whether the connection stays, in the order they count.
constexpr std::array<std::string_view, 2> kConnectionNames = {"Proxy-Connection:", "Connection:"};

// The first of the connection fields' values the header has (data() null: neither).
std::string_view ConnectionValue(std::span<const std::string_view, 2> values) {
    return values[0].data() != nullptr ? values[0] : values[1];
}

std::string_view ConnectionField(std::string_view header) {
    std::array<std::string_view, kConnectionNames.size()> values;
    util::FindHeaders(header, kConnectionNames, values);
    return ConnectionValue(values);
}

int KindOfFirstLine(std::string_view header, int& version) {
    version = 0;
    if (util::StartsWithNoCase(header, "HTTP/")) {
        std::size_t at = 5;
        int major = 0;
        while (at < header.size() && header[at] >= '0' && header[at] <= '9' && major < 1000) {
            major = major * 10 + (header[at++] - '0');
        }
        int minor = 0;
        if (at < header.size() && header[at] == '.' && at + 1 < header.size() &&
            header[at + 1] >= '0' && header[at + 1] <= '9') {
            minor = header[at + 1] - '0';
        }
        version = major * 10 + minor;
        return kResponse;
    }
    if (util::StartsWithNoCase(header, "GET ")) return kGetRequest;
    if (util::StartsWithNoCase(header, "HEAD ")) return kHeadRequest;
    if (util::StartsWithNoCase(header, "POST ")) return kPostRequest;
    return kOtherRequest;
}

// The second word of the first line, at most kStatusTokenSize - 1 bytes.
std::string SecondWord(std::string_view header) {
    auto is_word = [](char c) { return !util::IsWhite(static_cast<unsigned char>(c)); };
    std::size_t at = 0;
    while (at < header.size() && is_word(header[at])) ++at;
    while (at < header.size() && (header[at] == ' ' || header[at] == '\t')) ++at;
    std::size_t end = at;
    while (end < header.size() && is_word(header[end]) && end - at < kStatusTokenSize - 1) ++end;
    return std::string(header.substr(at, end - at));
}

// Digits only, at most kMaxBodyLength; -1 otherwise.
std::int64_t ParseLength(std::string_view text) {
    if (text.empty()) return -1;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        if (value > (kMaxBodyLength - (c - '0')) / 10) return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

bool KeepAliveResponse(const HttpMessageBuffer& buffer) {
    std::string_view value = ConnectionField(buffer.Header());
    return value.data() != nullptr && util::EqualsNoCase(util::Trim(value), kKeepAlive);
}

InvestHeaderClass::InvestHeaderClass()
    : block_(std::make_unique_for_overwrite<char[]>(kBodyBlockSize)) {}

void InvestHeaderClass::AttachSink(TCPIPClass* sink) {
    sink_ = sink;
    Reset(kScanHeader);
}

void InvestHeaderClass::Reset(int state) {
    buffer_.status_token.clear();
    buffer_.header_length = 0;
    buffer_.filled = 0;
    buffer_.content_length = -1;
    buffer_.remaining = -1;
    buffer_.keep_alive = false;
    buffer_.chunked = false;
    buffer_.version = 0;
    kind_ = kNoMessage;
    failure_code_ = ChannelCode::kOk;
    bodiless_ = false;
    phase_ = kChunkSize;
    chunk_left_ = 0;
    chunk_size_ = 0;
    size_digits_ = 0;
    consumed_ = 0;
    chunk_sum_ = 0;
    trailer_bytes_ = 0;
    SetState(state);
}

void InvestHeaderClass::SetState(int state) {
    state_ = state;
}

void InvestHeaderClass::Fail(ChannelCode code) {
    failure_code_ = code;
    SetState(kReaderFailed);
}

int InvestHeaderClass::Step(ChannelCode& code) {
    code = ChannelCode::kOk;
    if (state_ >= kScanHeader && state_ <= kAfterLfCr) {
        ReadHeader();
        if (state_ == kHeaderComplete) BeginBody();
    } else if (state_ >= kHeaderComplete && state_ <= kAfterChunkData) {
        ReadBody();
    }
    if (state_ < 0) code = failure_code_;
    return state_;
}

int InvestHeaderClass::Poll(long timeout_us) {
    if (state_ >= kHeaderComplete) return 1;
    if (state_ < 0) return -1;
    int waiting = sink_ == nullptr ? -2 : sink_->Peek(timeout_us);
    if (waiting == -2) return -1;
    if (waiting == 0) return 0;
    ChannelCode code;
    Step(code);
    if (state_ >= kHeaderComplete) return 1;
    return state_ < 0 ? -1 : 0;
}

void InvestHeaderClass::ReadHeader() {
    if (sink_ == nullptr) return Fail(ChannelCode::kNoSocket);
    char* at = buffer_.raw.data() + buffer_.filled;
    const Received received = sink_->Receive(at, kRawAreaSize - buffer_.filled);
    if (!received.Got()) return received.PeerClosed() ? PeerClosedInHeader() : Fail(received.code);
    std::size_t from = buffer_.filled;
    buffer_.filled += static_cast<std::size_t>(received.count);
    ScanHeader(from);
    if (state_ == kHeaderComplete) {
        ParseHeader(buffer_.header_length);
    } else if (buffer_.filled == kRawAreaSize) {
        Fail(ChannelCode::kReceiveFailed);  // header longer than the raw area
    }
}

// A header ends at LF LF or LF CR LF; a CR elsewhere is ignored.
void InvestHeaderClass::ScanHeader(std::size_t from) {
    int state = state_;
    for (std::size_t i = from; i < buffer_.filled; ++i) {
        char c = buffer_.raw[i];
        if (state == kScanHeader) {
            if (c == '\n') state = kAfterLf;
        } else if (state == kAfterLf) {
            state = c == '\n' ? kHeaderComplete : (c == '\r' ? kAfterLfCr : kScanHeader);
        } else {
            state = c == '\n' ? kHeaderComplete : kScanHeader;
        }
        if (state == kHeaderComplete) {
            buffer_.header_length = i + 1;
            break;
        }
    }
    SetState(state);
}

// A header cut after a line end still counts as a (bodiless) message; before that it is lost.
void InvestHeaderClass::PeerClosedInHeader() {
    if (state_ == kScanHeader) return Fail(ChannelCode::kOk);
    buffer_.header_length = buffer_.filled;
    SetState(kHeaderComplete);
    ParseHeader(buffer_.header_length);
    if (state_ == kHeaderComplete) SetState(kMessageComplete);
}

void InvestHeaderClass::BeginBody() {
    const char* body = buffer_.raw.data() + buffer_.header_length;
    std::size_t count = buffer_.filled - buffer_.header_length;
    if (no_body_) {
        bodiless_ = true;
        return FinishMessage(body, count);
    }
    ConsumeBody(body, count);
}

int InvestHeaderClass::ParseHeader(std::size_t header_length) {
    buffer_.header_length = header_length;
    std::string_view header = buffer_.Header();
    kind_ = KindOfFirstLine(header, buffer_.version);
    // The fields the framing depends on, found in one walk over the header.
    enum { kProxyConnection, kConnection, kTransferEncoding, kContentLength, kFieldCount };
    static constexpr std::array<std::string_view, kFieldCount> kNames = {
        kConnectionNames[0], kConnectionNames[1], "Transfer-Encoding:", "Content-length:"};
    std::array<std::string_view, kFieldCount> field;
    util::FindHeaders(header, kNames, field);
    const std::string_view connection =
        ConnectionValue(std::span(field).subspan<kProxyConnection, 2>());
    if (connection.data() != nullptr) {
        buffer_.keep_alive = util::StartsWithNoCase(connection, kKeepAlive);
    } else {
        buffer_.keep_alive = kind_ == kResponse && buffer_.version > 10;
    }
    buffer_.chunked = util::StartsWithNoCase(field[kTransferEncoding], "chunked");
    buffer_.status_token = SecondWord(header);
    if (!ParseContentLength(field[kContentLength])) {
        Fail(ChannelCode::kReceiveFailed);
        return kind_;
    }
    if (kind_ == kResponse) ApplyResponseRules();
    if (kind_ == kInterimResponse) {
        SkipInterim();
        return kInterimResponse;
    }
    HeaderCompleteHook();
    return kind_;
}

// A Content-length that is not a plain number of at most 2^62 fails the message. With
// chunked coding the field does not count (RFC 9112 §6.3).
bool InvestHeaderClass::ParseContentLength(std::string_view field) {
    if (field.data() == nullptr || buffer_.chunked) return true;
    std::int64_t length = ParseLength(util::Trim(field));
    if (length < 0) return false;
    buffer_.content_length = length;
    buffer_.remaining = static_cast<std::int64_t>(buffer_.header_length) + length -
                        static_cast<std::int64_t>(buffer_.filled);
    return true;
}

void InvestHeaderClass::ApplyResponseRules() {
    const std::string& status = buffer_.status_token;
    if (!status.empty() && status[0] == '1') {
        kind_ = kInterimResponse;
        return;
    }
    bool unknown_length_on_kept =
        !buffer_.chunked && buffer_.content_length < 0 && buffer_.keep_alive;
    bool no_body = status == "304" || (unknown_length_on_kept && status != "200");
    if (unknown_length_on_kept && status == "200") buffer_.keep_alive = false;
    if (no_body) {
        buffer_.content_length = 0;
        buffer_.remaining = 0;
    }
}

// The interim answer leaves neither the buffer nor the file: what followed it is handed back
// to the channel and read as the start of the real header.
void InvestHeaderClass::SkipInterim() {
    std::size_t rest = buffer_.filled - buffer_.header_length;
    if (sink_ != nullptr) {
        if (sink_->Tee() && !sink_->CutTempFile(static_cast<std::int64_t>(buffer_.filled))) {
            return Fail(ChannelCode::kTempFileFailed);
        }
        sink_->Unread(buffer_.raw.data() + buffer_.header_length, rest);
    }
    Reset(kScanHeader);
}

void InvestHeaderClass::HeaderCompleteHook() {
    if (!buffer_.chunked || sink_ == nullptr) return;
    bool was_on = sink_->Tee();
    sink_->SetTee(false);
    std::int64_t body_bytes = static_cast<std::int64_t>(buffer_.filled - buffer_.header_length);
    if (was_on && !sink_->CutTempFile(body_bytes)) Fail(ChannelCode::kTempFileFailed);
}

// Bytes past the end of the message belong to the next one on the connection.
void InvestHeaderClass::FinishMessage(const char* rest, std::size_t count) {
    if (count > 0 && sink_ != nullptr) {
        if (sink_->Tee() && !sink_->CutTempFile(static_cast<std::int64_t>(count))) {
            return Fail(ChannelCode::kTempFileFailed);
        }
        sink_->Unread(rest, count);
    }
    SetState(kMessageComplete);
}

void InvestHeaderClass::ConsumeBody(const char* data, std::size_t count) {
    if (buffer_.chunked) {
        consumed_ += static_cast<std::int64_t>(count);
        return DecodeChunked(data, count);
    }
    if (buffer_.content_length < 0) {
        consumed_ += static_cast<std::int64_t>(count);
        return;
    }
    std::int64_t wanted = buffer_.content_length - consumed_;
    std::size_t taken = static_cast<std::size_t>(std::min<std::int64_t>(wanted, count));
    consumed_ += static_cast<std::int64_t>(taken);
    if (consumed_ >= buffer_.content_length) FinishMessage(data + taken, count - taken);
}

std::size_t InvestHeaderClass::NextBodyRead() const {
    if (!buffer_.chunked && buffer_.content_length >= 0) {
        return static_cast<std::size_t>(
            std::min<std::int64_t>(buffer_.content_length - consumed_, kBodyBlockSize));
    }
    if (buffer_.chunked && phase_ == kChunkData) {
        return static_cast<std::size_t>(std::min<std::int64_t>(chunk_left_, kBodyBlockSize));
    }
    return kBodyBlockSize;
}

void InvestHeaderClass::ReadBody() {
    if (sink_ == nullptr) return Fail(ChannelCode::kNoSocket);
    std::size_t wanted = NextBodyRead();
    if (wanted == 0) return FinishMessage(nullptr, 0);
    const Received received = sink_->Receive(block_.get(), wanted);
    if (!received.Got()) return received.PeerClosed() ? PeerClosedInBody() : Fail(received.code);
    ConsumeBody(block_.get(), static_cast<std::size_t>(received.count));
}

// Without a length the close ends the body. A chunked body cut before its last chunk is lost
// data and fails; a short Content-length body stays complete-by-close for the caller to judge
// by BodyComplete (a partial file can be resumed).
void InvestHeaderClass::PeerClosedInBody() {
    bool in_trailer = phase_ >= kTrailerLineStart;
    if (buffer_.chunked && !in_trailer) return Fail(ChannelCode::kReceiveFailed);
    if (buffer_.chunked) buffer_.content_length = chunk_sum_;
    SetState(kMessageComplete);
}

bool InvestHeaderClass::BodyComplete() const {
    if (state_ != kMessageComplete) return false;
    if (bodiless_ || buffer_.content_length < 0) return true;
    if (buffer_.chunked) return phase_ >= kTrailerLineStart;
    return consumed_ >= buffer_.content_length;
}

void InvestHeaderClass::DecodeChunked(const char* data, std::size_t count) {
    std::size_t at = 0;
    while (at < count && state_ >= kHeaderComplete && state_ <= kAfterChunkData) {
        if (phase_ == kChunkData) {
            std::size_t written = WriteChunkData(data + at, count - at);
            if (state_ < 0) return;
            at += written;
            continue;
        }
        bool ok = phase_ <= kChunkSizeCr ? DecodeSizeByte(data[at]) : DecodeLineByte(data[at]);
        ++at;
        if (!ok) return Fail(ChannelCode::kReceiveFailed);
    }
    if (state_ == kMessageComplete) FinishMessage(data + at, count - at);
}

std::size_t InvestHeaderClass::WriteChunkData(const char* data, std::size_t count) {
    std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(chunk_left_, count));
    if (sink_ != nullptr && !sink_->AppendToTemp(data, n)) {
        Fail(ChannelCode::kTempFileFailed);
        return n;
    }
    chunk_left_ -= static_cast<std::int64_t>(n);
    if (chunk_left_ == 0) phase_ = kChunkDataCr;
    return n;
}

// chunk-size [ BWS ] [ ";" chunk-ext ] CRLF (RFC 9112 §7.1); a bare LF ends it as well.
bool InvestHeaderClass::DecodeSizeByte(char c) {
    const bool blank = c == ' ' || c == '\t';
    switch (phase_) {
        case kChunkSize: {
            int digit = util::HexDigitValue(static_cast<unsigned char>(c));
            if (digit >= 0) {
                if (chunk_size_ > static_cast<std::uint64_t>(kMaxBodyLength) >> 4) return false;
                chunk_size_ = chunk_size_ * 16 + static_cast<unsigned>(digit);
                ++size_digits_;
                return true;
            }
            if (size_digits_ == 0) return false;
            if (blank)
                phase_ = kChunkSizeTail;
            else if (c == ';')
                phase_ = kChunkExtension;
            else if (c == '\r')
                phase_ = kChunkSizeCr;
            else if (c == '\n')
                EndSizeLine();
            else
                return false;
            return true;
        }
        case kChunkSizeTail:
            if (c == ';')
                phase_ = kChunkExtension;
            else if (c == '\r')
                phase_ = kChunkSizeCr;
            else if (c == '\n')
                EndSizeLine();
            else if (!blank)
                return false;
            return true;
        case kChunkExtension:
            if (c == '\n') EndSizeLine();
            return true;
        default:  // kChunkSizeCr
            if (c != '\n') return false;
            EndSizeLine();
            return true;
    }
}

void InvestHeaderClass::EndSizeLine() {
    std::int64_t size = static_cast<std::int64_t>(chunk_size_);
    chunk_size_ = 0;
    size_digits_ = 0;
    if (size > kMaxBodyLength - chunk_sum_) return Fail(ChannelCode::kReceiveFailed);
    chunk_sum_ += size;
    chunk_left_ = size;
    phase_ = size == 0 ? kTrailerLineStart : kChunkData;
    SetState(kInChunk);
}

// The line end after chunk data, and the trailer lines up to the empty line that ends the
// message (RFC 9112 §7.1.2); trailer fields are not kept.
bool InvestHeaderClass::DecodeLineByte(char c) {
    switch (phase_) {
        case kChunkDataCr:
            if (c == '\r')
                phase_ = kChunkDataLf;
            else if (c == '\n')
                phase_ = kChunkSize;
            else
                return false;
            break;
        case kChunkDataLf:
            if (c != '\n') return false;
            phase_ = kChunkSize;
            break;
        default:
            if (++trailer_bytes_ > kMaxTrailerBytes) return false;
            if (c == '\n') {
                if (phase_ == kTrailerLine) {
                    phase_ = kTrailerLineStart;
                } else {
                    buffer_.remaining = 0;
                    buffer_.content_length = chunk_sum_;
                    SetState(kMessageComplete);
                }
                return true;
            }
            phase_ = (c == '\r' && phase_ == kTrailerLineStart) ? kTrailerEmptyCr : kTrailerLine;
            return true;
    }
    if (phase_ == kChunkSize) SetState(kAfterChunkData);
    return true;
}

int InvestHeaderClass::StatusCode() const {
    const std::string& token = buffer_.status_token;
    if (token.size() != 3) return 0;
    int value = 0;
    for (char c : token) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value >= 100 ? value : 0;
}

int InvestHeaderClass::RedirectStatusAfterFailure() {
    std::string_view received(buffer_.raw.data(), buffer_.filled);
    int version = 0;
    if (KindOfFirstLine(received, version) != kResponse) return 0;
    std::string token = SecondWord(received);
    if (token.empty() || token[0] != '3') return 0;
    buffer_.status_token = std::move(token);
    buffer_.version = version;
    if (buffer_.header_length == 0) buffer_.header_length = buffer_.filled;
    kind_ = kResponse;
    TakeCutRedirection();
    return StatusCode();
}

// Only complete lines count: a Location value cut inside its line could name another URL.
void InvestHeaderClass::TakeCutRedirection() {
    const std::string_view received(buffer_.raw.data(), buffer_.header_length);
    const std::size_t end = received.rfind('\n') + 1;  // 0 without a line end
    if (util::FindHeader(received.substr(0, end), "Location:").empty()) return;
    const std::int64_t rest = static_cast<std::int64_t>(buffer_.filled - end);
    if (sink_ != nullptr && sink_->Tee() && !sink_->CutTempFile(rest)) return;
    buffer_.header_length = end;
    buffer_.filled = end;
    buffer_.content_length = 0;
    buffer_.remaining = 0;
    buffer_.keep_alive = false;
    buffer_.chunked = false;
    bodiless_ = true;
    failure_code_ = ChannelCode::kOk;
    SetState(kMessageComplete);
}

}  // namespace kelvra::net
