#pragma once
// The pattern language of the filters, the per-server limit table and the prohibit list.
//
// Matching runs in time proportional to (pattern nodes x subject length): every repetition is
// resolved by dynamic programming over subject positions, never by backtracking, so a hostile
// pattern such as thirty ".*" cannot stall a browser request.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kelvra::util {

enum PatternOptions : unsigned {
    kPatternIgnoreCase = 1,  // folds a-z to A-Z only
    kPatternAnchored = 2,    // the match must begin at the subject's first byte
};

// Positions of the \( ... \) captures of the match, numbered from 1 in order of their \(.
struct CaptureTable {
    static constexpr int kMax = 9;
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    struct Span {
        std::size_t begin = kNone;
        std::size_t end = kNone;
    };
    std::array<Span, kMax> spans{};
    int count = 0;  // captures opened in the pattern (at most kMax)

    // True when capture n (1-based) was recorded completely.
    bool Has(int n) const;
    std::string_view Text(std::string_view subject, int n) const;
};

class CompiledPattern final {
  public:
    // with_captures makes \( and \) capture marks; otherwise they are literal bytes.
    CompiledPattern(std::string_view pattern, unsigned options, bool with_captures);

    // False for an unclosed [ or ( (such a pattern never matches).
    bool valid() const { return valid_; }
    // The position just after the matched text, or none.
    std::optional<std::size_t> Match(std::string_view subject,
                                     CaptureTable* captures = nullptr) const;

    enum class Kind : std::uint8_t { kAtom, kGroup, kEnd, kAnyRun, kOpen, kClose, kFail };
    struct Node {
        Kind kind = Kind::kAtom;
        std::uint32_t index = 0;  // byte set (kAtom) or group (kGroup)
        std::uint32_t min = 1;
        std::uint32_t max = 1;  // kUnbounded for no upper limit
    };
    static constexpr std::uint32_t kUnbounded = 0xFFFFFFFFu;
    using ByteSet = std::array<std::uint64_t, 4>;

  private:
    friend class PatternParser;
    friend class PatternEvaluator;

    struct Sequence {
        std::vector<Node> nodes;
    };
    struct Group {
        std::vector<std::uint32_t> alternatives;  // sequence indices
    };

    std::vector<Sequence> sequences_;  // 0 is the whole pattern
    std::vector<Group> groups_;
    std::vector<ByteSet> sets_;
    // Row layout of the evaluation table: per sequence, per group (two rows), one scratch row.
    std::vector<std::size_t> sequence_rows_;
    std::size_t group_rows_ = 0;
    std::size_t total_rows_ = 0;
    bool anchored_ = false;  // matching starts at the subject's first byte only
    bool valid_ = true;
    int capture_count_ = 0;
};

// Compiles and matches in one go.
std::optional<std::size_t> PatternMatch(std::string_view subject, std::string_view pattern,
                                        unsigned options, CaptureTable* captures = nullptr);

}  // namespace kelvra::util
