#pragma once
// Builders of uncompressed Flash movies (SWF) for the plug-in's tests: tags, GetURL actions and
// the movie around them, byte for byte as a movie file holds them (little-endian).

#include <cstdint>
#include <string>
#include <vector>

namespace kelvra::test {

using Bytes = std::vector<unsigned char>;

inline void Put16(Bytes& b, unsigned v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
inline void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void PutText(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
}

inline Bytes Tag(unsigned code, const Bytes& body, bool long_form = false) {
    Bytes t;
    if (long_form || body.size() >= 63) {
        Put16(t, (code << 6) | 63);
        Put32(t, static_cast<std::uint32_t>(body.size()));
    } else {
        Put16(t, (code << 6) | static_cast<unsigned>(body.size()));
    }
    t.insert(t.end(), body.begin(), body.end());
    return t;
}

// Action records: one ActionGetURL per URL, then the end mark.
inline Bytes GetUrls(const std::vector<std::string>& urls) {
    Bytes a;
    for (const std::string& url : urls) {
        Bytes payload;
        PutText(payload, url);
        PutText(payload, "_self");
        a.push_back(0x83);
        Put16(a, static_cast<unsigned>(payload.size()));
        a.insert(a.end(), payload.begin(), payload.end());
    }
    a.push_back(0x07);  // ActionStop: no payload
    a.push_back(0);
    return a;
}

// "FWS", version, length, an empty RECT, frame rate and count, the tags and End.
inline Bytes Movie(const std::vector<Bytes>& tags, char signature = 'F') {
    Bytes m = {static_cast<unsigned char>(signature), 'W', 'S', 6, 0, 0, 0, 0, 0x00};
    Put16(m, 12 << 8);
    Put16(m, 1);
    for (const Bytes& t : tags) m.insert(m.end(), t.begin(), t.end());
    Put16(m, 0);  // End
    const auto length = static_cast<std::uint32_t>(m.size());
    for (int i = 0; i < 4; ++i) m[4 + i] = (length >> (8 * i)) & 0xFF;
    return m;
}

}  // namespace kelvra::test
