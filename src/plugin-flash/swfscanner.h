#pragma once
// Finds the ActionGetURL targets of a Shockwave Flash movie: frame actions, button actions
// (DefineButton, DefineButton2) and sprites. Every read is checked against the end of the tag
// being read (and so of the file image): each byte is scanned once, whatever the lengths claim.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvra::florrin {

class SwfScanner final {
  public:
    static constexpr std::size_t kHeaderSize = 8;
    static constexpr std::uint32_t kMinLength = 21;
    static constexpr std::size_t kMaxUrl = 2047;  // longer URLs do not fit an entry: skipped
    static constexpr std::uint32_t kMaxImage = 256u << 20;  // a larger movie is not scanned
    static constexpr int kMaxSpriteDepth = 32;

    // Reads the movie (FWS, or zlib-compressed CWS); false when it is not one or is short.
    // Memory follows the bytes the file holds, not the length its header announces.
    bool Load(const std::string& path);
    // Takes a whole file image instead (for an image already in memory).
    bool LoadImage(const unsigned char* data, std::size_t size);
    // Scans the loaded image and frees it; the URLs found.
    std::vector<std::string> Scan();

  private:
    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    std::uint32_t Bits(int n);
    std::int32_t SignedBits(int n);
    void Align() { bits_left_ = 0; }

    bool Readable(std::size_t n) const;
    void TagList(int depth);
    void TagBody(std::uint32_t code, int depth);
    void Actions();
    void ButtonRecords(bool with_cxform);
    void DefineButton2();
    void Matrix();
    void CxformWithAlpha();

    std::vector<unsigned char> image_;
    std::size_t pos_ = 0;
    std::size_t limit_ = 0;  // end of the tag (or tag list) being read
    std::uint8_t bits_ = 0;
    int bits_left_ = 0;
    bool ok_ = true;
    std::uint8_t version_ = 0;
    std::vector<std::string> urls_;
};

}  // namespace kelvra::florrin
