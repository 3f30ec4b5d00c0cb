#include "swfscanner.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kelvra::florrin {

namespace {

enum TagCode : std::uint32_t {
    kEnd = 0,
    kDefineButton = 7,
    kDoAction = 12,
    kDefineButton2 = 34,
    kDefineSprite = 39,
};
constexpr std::uint8_t kActionGetUrl = 0x83;
constexpr std::uint32_t kLongTag = 63;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::uint32_t LittleEndian32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Appends the inflated stream to dst until it holds want bytes; false when the stream is broken
// or ends early. dst grows with the data, not with what the header claims.
bool Inflate(const unsigned char* src, std::size_t size, std::vector<unsigned char>& dst,
             std::size_t want) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<unsigned char*>(src);
    z.avail_in = static_cast<uInt>(size);
    constexpr std::size_t kChunk = 65536;
    int rc = Z_OK;
    while (dst.size() < want && rc == Z_OK) {
        const std::size_t have = dst.size();
        const std::size_t grow = std::min(kChunk, want - have);
        dst.resize(have + grow);
        z.next_out = dst.data() + have;
        z.avail_out = static_cast<uInt>(grow);
        rc = inflate(&z, Z_NO_FLUSH);
        dst.resize(have + grow - z.avail_out);
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;  // input used up
    }
    inflateEnd(&z);
    return dst.size() == want;
}

// Appends the file's bytes to data until it holds want bytes or the file ends: data grows with
// what the file holds, not with what was asked for.
void ReadUpTo(std::FILE* file, std::vector<unsigned char>& data, std::size_t want) {
    constexpr std::size_t kBlock = 65536;
    while (data.size() < want) {
        const std::size_t have = data.size();
        data.resize(have + std::min(kBlock, want - have));
        const std::size_t got = std::fread(data.data() + have, 1, data.size() - have, file);
        data.resize(have + got);
        if (got == 0) return;
    }
}

}  // namespace

bool SwfScanner::LoadImage(const unsigned char* data, std::size_t size) {
    image_.clear();
    if (size < kHeaderSize) return false;
    const bool compressed = data[0] == 'C';
    if ((data[0] != 'F' && !compressed) || data[1] != 'W' || data[2] != 'S') return false;
    version_ = data[3];
    const std::uint32_t length = LittleEndian32(data + 4);
    if (length < kMinLength) return false;
    if (!compressed) {
        if (size < length) return false;  // the header promises more than the file has
        image_.assign(data, data + length);
        return true;
    }
    if (length > kMaxImage) return false;
    image_.assign(data, data + kHeaderSize);
    if (!Inflate(data + kHeaderSize, size - kHeaderSize, image_, length)) {
        image_.clear();
        return false;
    }
    return true;
}

bool SwfScanner::Load(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    unsigned char header[kHeaderSize];
    if (std::fread(header, 1, kHeaderSize, file.get()) != kHeaderSize) return false;
    if ((header[0] != 'F' && header[0] != 'C') || header[1] != 'W' || header[2] != 'S') {
        return false;
    }
    const std::uint32_t length = LittleEndian32(header + 4);
    // An uncompressed movie is read up to the length it announces (a shorter file fails in
    // LoadImage), a compressed one whole; neither beyond the cap.
    const bool compressed = header[0] == 'C';
    if (!compressed && (length < kMinLength || length > kMaxImage)) return false;
    std::vector<unsigned char> data(header, header + kHeaderSize);
    ReadUpTo(file.get(), data, compressed ? std::size_t{kMaxImage} + 1 : length);
    if (data.size() > kMaxImage) return false;
    return LoadImage(data.data(), data.size());
}

bool SwfScanner::Readable(std::size_t n) const {
    return ok_ && pos_ <= limit_ && limit_ - pos_ >= n;
}

std::uint8_t SwfScanner::U8() {
    Align();
    if (!Readable(1)) {
        ok_ = false;
        return 0;
    }
    return image_[pos_++];
}

std::uint16_t SwfScanner::U16() {
    const std::uint16_t lo = U8();
    return static_cast<std::uint16_t>(lo | (U8() << 8));
}

std::uint32_t SwfScanner::U32() {
    const std::uint32_t lo = U16();
    return lo | (static_cast<std::uint32_t>(U16()) << 16);
}

std::uint32_t SwfScanner::Bits(int n) {
    std::uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
        if (bits_left_ == 0) {
            if (!Readable(1)) {
                ok_ = false;
                return 0;
            }
            bits_ = image_[pos_++];
            bits_left_ = 8;
        }
        --bits_left_;
        value = (value << 1) | ((bits_ >> bits_left_) & 1);
    }
    return value;
}

std::int32_t SwfScanner::SignedBits(int n) {
    const std::uint32_t v = Bits(n);
    if (n == 0 || n >= 32) return static_cast<std::int32_t>(v);
    const std::uint32_t sign = 1u << (n - 1);
    return static_cast<std::int32_t>((v ^ sign) - sign);
}

void SwfScanner::Matrix() {
    Align();
    if (Bits(1)) {
        const int n = static_cast<int>(Bits(5));
        SignedBits(n);
        SignedBits(n);
    }
    if (Bits(1)) {
        const int n = static_cast<int>(Bits(5));
        SignedBits(n);
        SignedBits(n);
    }
    const int n = static_cast<int>(Bits(5));
    SignedBits(n);
    SignedBits(n);
}

void SwfScanner::CxformWithAlpha() {
    Align();
    const bool add = Bits(1);
    const bool multiply = Bits(1);
    const int n = static_cast<int>(Bits(4));
    for (int i = 0; i < (multiply ? 4 : 0) + (add ? 4 : 0); ++i) SignedBits(n);
}

void SwfScanner::Actions() {
    while (ok_) {
        const std::uint8_t code = U8();
        if (!ok_ || code == 0) return;
        if (!(code & 0x80)) continue;
        const std::uint16_t length = U16();
        if (!Readable(length)) {
            ok_ = false;
            return;
        }
        if (code == kActionGetUrl) {
            const char* url = reinterpret_cast<const char*>(image_.data() + pos_);
            const void* nul = std::memchr(url, 0, length);
            if (!nul) {  // the URL does not end inside its payload
                ok_ = false;
                return;
            }
            const std::size_t n = static_cast<std::size_t>(static_cast<const char*>(nul) - url);
            if (n <= kMaxUrl) urls_.emplace_back(url, n);
        }
        pos_ += length;
    }
}

void SwfScanner::ButtonRecords(bool with_cxform) {
    while (ok_) {
        if (U8() == 0 || !ok_) return;
        U16();  // character id
        U16();  // depth
        Matrix();
        if (with_cxform) CxformWithAlpha();
    }
}

void SwfScanner::DefineButton2() {
    U16();  // button id
    U8();   // flags
    const std::uint16_t action_offset = U16();
    ButtonRecords(true);
    if (action_offset == 0) return;
    while (ok_) {
        const std::uint16_t size = U16();
        U16();  // conditions
        Actions();
        if (size == 0) return;
    }
}

// A tag's handler reads only inside the tag; a sprite's list only inside the sprite. So no byte
// is scanned twice, however the lengths and the contents disagree.
void SwfScanner::TagList(int depth) {
    const std::size_t end = limit_;
    while (ok_) {
        const std::uint16_t header = U16();
        const std::uint32_t code = header >> 6;
        std::uint64_t length = header & kLongTag;
        if (length == kLongTag) length = U32();
        if (!ok_ || code == kEnd) return;
        const std::uint64_t next = pos_ + length;
        limit_ = static_cast<std::size_t>(std::min<std::uint64_t>(next, end));
        TagBody(code, depth);
        limit_ = end;
        if (next > end) return;  // the tag runs past the end of the list
        ok_ = true;              // a tag that breaks its own bounds ends only itself
        pos_ = static_cast<std::size_t>(next);
        Align();
    }
}

void SwfScanner::TagBody(std::uint32_t code, int depth) {
    switch (code) {
        case kDoAction:
            Actions();
            break;
        case kDefineButton:
            U16();  // button id
            ButtonRecords(false);
            Actions();
            break;
        case kDefineButton2:
            DefineButton2();
            break;
        case kDefineSprite:
            U16();  // sprite id
            U16();  // frame count
            if (ok_ && depth < kMaxSpriteDepth) TagList(depth + 1);
            break;
        default:
            break;
    }
}

std::vector<std::string> SwfScanner::Scan() {
    urls_.clear();
    pos_ = kHeaderSize;
    limit_ = image_.size();
    ok_ = true;
    Align();
    const int n = static_cast<int>(Bits(5));  // frame size RECT
    for (int i = 0; i < 4; ++i) SignedBits(n);
    U16();  // frame rate
    U16();  // frame count
    TagList(0);
    image_.clear();
    image_.shrink_to_fit();
    pos_ = 0;
    Align();
    return std::move(urls_);
}

}  // namespace kelvra::florrin
