#pragma once
// HeaderInfo record texts and the record file format of kelvra.hif and its journal.
//
// A record in a file: optional '#' (a failed fetch, journal only), the key, LF, the text (with
// an LF added when it lacks one; nothing when empty), NUL.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::store {

inline constexpr std::size_t kMaxRecordText = 4095;  // characters of a record text
inline constexpr std::size_t kMaxLoadedKey = 2048;   // loaded keys must be shorter
inline constexpr std::size_t kMaxLoadedText = 4096;  // loaded texts must be shorter
inline constexpr std::size_t kMaxFileRecord = 4095;  // characters the record reader accepts

// A text starting "#\n" is a cookie record: stored as it is, never normalised.
bool IsCookieText(std::string_view text);

// The record line of an object fetched over https, so that it is checked again over https
// (http and https share keys). Records of http objects have none and stay as older copies
// write them; older readers drop the line.
inline constexpr std::string_view kSchemeKey = "XS:";
inline constexpr std::string_view kHttpsValue = "https";

// Turns a raw response header (status line and header lines, CR LF or LF) or an earlier record
// into normalised record text: at most the lines XR, CT, LM, XF, LO, WA, PA, CE, XRange, XS in
// this order (XS only with the value "https"). type_for_extension, when not empty, is the table
// type for the URL's extension; a Content-type that agrees with it up to its '/' is left out. An
// "XF:"/"X-Fn:" value that is not a confined local name is treated as absent. Lines that would take
// the text past kMaxRecordText are left out.
std::string BuildRecordText(std::string_view text, std::string_view type_for_extension);

// Appends a line the way fetch results add to a header: trailing bytes below space dropped,
// one LF, then line (which carries its own LF).
void AppendHeaderLine(std::string& header, std::string_view line);
// Removes the first field named key (with its continuation lines and line end). Returns the
// number of bytes removed (0 when there is no such line).
std::size_t DeleteHeaderLine(std::string& text, std::string_view key);
// The same on a NUL-terminated text in place.
std::size_t DeleteHeaderLine(char* text, std::string_view key);

// The text to write under key so that the reader gives back this one record with this key:
// bytes the reader drops are left out, as are empty lines (one ends a record early), then
// whole lines, longest first, until the record fits kMaxFileRecord characters. The local
// name, the partial mark and a cookie record's mark are never dropped. None when the key
// cannot be read back (a control byte, a leading blank or '#', kMaxLoadedKey characters or
// more) or what must stay does not fit.
std::optional<std::string> ReadableRecordText(std::string_view key, std::string_view text,
                                              bool valid);

// Writes one record; false on any short write.
[[nodiscard]] bool WriteRecordTo(std::FILE* stream, std::string_view key, std::string_view text,
                                 bool valid);
// The bytes of one record.
std::string FormatRecord(std::string_view key, std::string_view text, bool valid);

// Reads records of the file format. A record ends at a NUL, or at an LF right after a stored
// LF (an empty line), once something is stored. Bytes above space are stored; LF and space only
// after the first stored byte; CR, TAB and other control bytes never.
class HifRecordReader final {
  public:
    enum class Result { kRecord, kEnd, kError };
    explicit HifRecordReader(std::FILE* file);
    // kEnd at a clean end of file; kError when the file ends inside a record or a record runs
    // past kMaxFileRecord characters.
    Result Next(std::string& record);

  private:
    bool Fill();

    std::FILE* file_;
    std::vector<unsigned char> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
};

}  // namespace kelvra::store
