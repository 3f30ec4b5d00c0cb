#include "util/patternmatch.h"

#include <algorithm>
#include <string>

#include "util/ascii.h"

namespace kelvra::util {

namespace {

using Node = CompiledPattern::Node;
using Kind = CompiledPattern::Kind;
using ByteSet = CompiledPattern::ByteSet;

constexpr std::uint32_t kCountLimit = 0xFFFFFFFEu;

unsigned char Fold(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
}

void SetBit(ByteSet& set, unsigned char c) {
    set[c >> 6] |= std::uint64_t{1} << (c & 63);
}
bool TestBit(const ByteSet& set, unsigned char c) {
    return (set[c >> 6] >> (c & 63)) & 1;
}

}  // namespace

bool CaptureTable::Has(int n) const {
    if (n < 1 || n > kMax) return false;
    const Span& s = spans[n - 1];
    return s.begin != kNone && s.end != kNone && s.end >= s.begin;
}

std::string_view CaptureTable::Text(std::string_view subject, int n) const {
    if (!Has(n)) return {};
    const Span& s = spans[n - 1];
    if (s.end > subject.size()) return {};
    return subject.substr(s.begin, s.end - s.begin);
}

// Recursive descent over the pattern text, building sequences, groups and byte sets.
class PatternParser final {
  public:
    PatternParser(CompiledPattern& out, std::string_view text, unsigned options, bool captures)
        : out_(out),
          text_(text),
          ignore_case_(options & kPatternIgnoreCase),
          anchored_(options & kPatternAnchored),
          captures_(captures) {}

    void Run() {
        out_.anchored_ = anchored_;
        out_.sequences_.emplace_back();
        ParseSequence(0, /*in_group=*/false);
        out_.capture_count_ = opened_;
        std::size_t rows = 0;
        for (const auto& seq : out_.sequences_) {
            out_.sequence_rows_.push_back(rows);
            rows += seq.nodes.size() + 1;
        }
        out_.group_rows_ = rows;
        out_.total_rows_ = rows + 2 * out_.groups_.size() + 1;
    }

  private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return text_[pos_]; }

    void Fail() {
        out_.valid_ = false;
        pos_ = text_.size();
    }

    void Add(std::uint32_t seq, Node node) { out_.sequences_[seq].nodes.push_back(node); }

    std::uint32_t AddSet(const ByteSet& set) {
        out_.sets_.push_back(set);
        return static_cast<std::uint32_t>(out_.sets_.size() - 1);
    }

    Node LiteralAtom(unsigned char c) {
        ByteSet set{};
        SetBit(set, c);
        if (ignore_case_) {
            SetBit(set, Fold(c));
            if (c >= 'A' && c <= 'Z') SetBit(set, c + ('a' - 'A'));
        }
        return Node{Kind::kAtom, AddSet(set), 1, 1};
    }

    // Parses one sequence up to the end of the text or, inside a group, up to an unescaped
    // '|' or ')' (left for the caller).
    void ParseSequence(std::uint32_t seq, bool in_group) {
        const bool top = !in_group;
        bool atom_expected = true;  // start of pattern or alternative, or after '^'
        bool last_is_atom = false;
        bool at_pattern_start = top;
        while (!AtEnd()) {
            const char c = Peek();
            if (in_group && (c == '|' || c == ')')) return;
            if (last_is_atom && TryQuantifier(seq)) {
                last_is_atom = false;
                atom_expected = false;
                at_pattern_start = false;
                continue;
            }
            ++pos_;
            if (c == '^') {
                // Alternatives are matched anchored, and anchored matching refuses '^'.
                if (in_group || anchored_) {
                    Add(seq, Node{Kind::kFail, 0, 1, 1});
                } else if (at_pattern_start) {
                    out_.anchored_ = true;
                }
                // Elsewhere the rest already has to match at this position.
                atom_expected = true;
                last_is_atom = false;
                continue;
            }
            at_pattern_start = false;
            if (c == '*' && atom_expected) {
                Add(seq, Node{Kind::kAnyRun, 0, 0, 0});
                atom_expected = false;
                last_is_atom = false;
                continue;
            }
            atom_expected = false;
            last_is_atom = ParseItem(seq, c);
        }
    }

    // Parses the item starting with c (already consumed); true when it is an atom that a
    // quantifier may follow.
    bool ParseItem(std::uint32_t seq, char c) {
        switch (c) {
            case '$':
                Add(seq, Node{Kind::kEnd, 0, 1, 1});
                return false;
            case '.': {
                ByteSet all;
                all.fill(~std::uint64_t{0});
                Add(seq, Node{Kind::kAtom, AddSet(all), 1, 1});
                return true;
            }
            case '[':
                return ParseSet(seq);
            case '(':
                return ParseGroup(seq);
            case '\\':
                return ParseEscape(seq);
            default:
                Add(seq, LiteralAtom(static_cast<unsigned char>(c)));
                return true;
        }
    }

    bool ParseEscape(std::uint32_t seq) {
        if (AtEnd()) {
            Add(seq, LiteralAtom('\\'));
            return true;
        }
        const char c = text_[pos_++];
        if (captures_ && c == '(') {
            std::uint32_t number = 0;
            if (opened_ < CaptureTable::kMax) number = static_cast<std::uint32_t>(++opened_);
            open_stack_.push_back(number);
            Add(seq, Node{Kind::kOpen, number, 0, 0});
            return false;
        }
        if (captures_ && c == ')') {
            std::uint32_t number = 0;
            if (!open_stack_.empty()) {
                number = open_stack_.back();
                open_stack_.pop_back();
            }
            Add(seq, Node{Kind::kClose, number, 0, 0});
            return false;
        }
        Add(seq, LiteralAtom(static_cast<unsigned char>(c)));
        return true;
    }

    bool ParseGroup(std::uint32_t seq) {
        CompiledPattern::Group group;
        for (;;) {
            out_.sequences_.emplace_back();
            const auto alt = static_cast<std::uint32_t>(out_.sequences_.size() - 1);
            group.alternatives.push_back(alt);
            ParseSequence(alt, /*in_group=*/true);
            if (AtEnd()) {  // no ')'
                Fail();
                return false;
            }
            if (text_[pos_++] == ')') break;
        }
        out_.groups_.push_back(std::move(group));
        Add(seq, Node{Kind::kGroup, static_cast<std::uint32_t>(out_.groups_.size() - 1), 1, 1});
        return true;
    }

    // One member byte of a set, honouring '\'; false at the end of the text.
    bool SetByte(unsigned char& byte) {
        if (AtEnd()) return false;
        if (Peek() == '\\') {
            ++pos_;
            if (AtEnd()) return false;
        }
        byte = static_cast<unsigned char>(text_[pos_++]);
        return true;
    }

    bool ParseSet(std::uint32_t seq) {
        bool negate = false;
        if (!AtEnd() && Peek() == '^') {
            negate = true;
            ++pos_;
        }
        struct Range {
            signed char lo, hi;
        };
        std::vector<Range> ranges;
        for (;;) {
            if (AtEnd()) {
                Fail();
                return false;
            }
            if (Peek() == ']') {
                ++pos_;
                break;
            }
            unsigned char lo = 0;
            if (!SetByte(lo)) {
                Fail();
                return false;
            }
            unsigned char hi = lo;
            if (pos_ + 1 < text_.size() && Peek() == '-' && text_[pos_ + 1] != ']') {
                ++pos_;
                if (!SetByte(hi)) {
                    Fail();
                    return false;
                }
            }
            if (ignore_case_) {
                lo = Fold(lo);
                hi = Fold(hi);
            }
            ranges.push_back({static_cast<signed char>(lo), static_cast<signed char>(hi)});
        }
        ByteSet set{};
        for (int b = 0; b < 256; ++b) {
            const auto probe = static_cast<signed char>(
                ignore_case_ ? Fold(static_cast<unsigned char>(b)) : static_cast<unsigned char>(b));
            bool member = std::any_of(ranges.begin(), ranges.end(), [probe](const Range& r) {
                return probe >= r.lo && probe <= r.hi;
            });
            if (member != negate) SetBit(set, static_cast<unsigned char>(b));
        }
        Add(seq, Node{Kind::kAtom, AddSet(set), 1, 1});
        return true;
    }

    // Reads a decimal number, saturating; false when there is no digit.
    bool ReadNumber(std::size_t& at, std::uint32_t& value) const {
        if (at >= text_.size() || !IsDigit(text_[at])) return false;
        std::uint64_t v = 0;
        while (at < text_.size() && IsDigit(text_[at])) {
            v = std::min<std::uint64_t>(v * 10 + (text_[at] - '0'), kCountLimit);
            ++at;
        }
        value = static_cast<std::uint32_t>(v);
        return true;
    }

    // Applies *, +, ?, {n}, {n,m} or {n,} to the last node; false when none follows.
    bool TryQuantifier(std::uint32_t seq) {
        std::uint32_t min = 0, max = 0;
        const char c = Peek();
        if (c == '*') {
            min = 0, max = CompiledPattern::kUnbounded;
            ++pos_;
        } else if (c == '+') {
            min = 1, max = CompiledPattern::kUnbounded;
            ++pos_;
        } else if (c == '?') {
            min = 0, max = 1;
            ++pos_;
        } else if (c == '{') {
            std::size_t at = pos_ + 1;
            if (!ReadNumber(at, min)) return false;
            max = min;
            if (at < text_.size() && text_[at] == ',') {
                ++at;
                if (!ReadNumber(at, max)) max = CompiledPattern::kUnbounded;
            }
            if (at >= text_.size() || text_[at] != '}') return false;
            pos_ = at + 1;
        } else {
            return false;
        }
        Node& last = out_.sequences_[seq].nodes.back();
        last.min = min;
        last.max = max;
        return true;
    }

    CompiledPattern& out_;
    std::string_view text_;
    std::size_t pos_ = 0;
    bool ignore_case_;
    bool anchored_;
    bool captures_;
    int opened_ = 0;
    std::vector<std::uint32_t> open_stack_;
};

CompiledPattern::CompiledPattern(std::string_view pattern, unsigned options, bool with_captures) {
    PatternParser(*this, pattern, options, with_captures).Run();
}

// For every node i of every sequence and every subject position p, the end position that the
// rest of the sequence from node i reaches when started at p (or -1). Rows are filled from the
// last node backwards, so each row is computed once from the row after it: no backtracking.
class PatternEvaluator final {
  public:
    PatternEvaluator(const CompiledPattern& pattern, std::string_view subject)
        : p_(pattern), s_(subject), width_(subject.size() + 1) {
        thread_local std::vector<std::int32_t> arena;
        if (arena.size() < p_.total_rows_ * width_) arena.resize(p_.total_rows_ * width_);
        cells_ = arena.data();
    }

    void Evaluate() {
        // Alternatives are parsed after the sequence that holds their group, so they have
        // higher indices and are ready when that group is reached.
        for (std::size_t s = p_.sequences_.size(); s-- > 0;) EvaluateSequence(s);
    }

    const std::int32_t* Top() const { return Row(0, 0); }

    void Walk(std::uint32_t seq, std::size_t p, CaptureTable& captures) const {
        const auto& nodes = p_.sequences_[seq].nodes;
        for (std::size_t i = 0; i < nodes.size(); ++i) p = Step(seq, i, p, captures);
    }

  private:
    std::int32_t* Row(std::size_t seq, std::size_t node) const {
        return cells_ + (p_.sequence_rows_[seq] + node) * width_;
    }
    std::int32_t* GroupRow(std::size_t group) const {
        return cells_ + (p_.group_rows_ + 2 * group) * width_;
    }
    std::int32_t* TailRow(std::size_t group) const { return GroupRow(group) + width_; }
    std::int32_t* Temp() const { return cells_ + (p_.total_rows_ - 1) * width_; }
    std::size_t Len() const { return s_.size(); }
    bool AtomAt(const Node& n, std::size_t p) const {
        return p < Len() && TestBit(p_.sets_[n.index], static_cast<unsigned char>(s_[p]));
    }

    void EvaluateSequence(std::size_t seq) {
        const auto& nodes = p_.sequences_[seq].nodes;
        std::int32_t* last = Row(seq, nodes.size());
        for (std::size_t p = 0; p < width_; ++p) last[p] = static_cast<std::int32_t>(p);
        for (std::size_t i = nodes.size(); i-- > 0;) {
            EvaluateNode(nodes[i], Row(seq, i + 1), Row(seq, i));
        }
    }

    void EvaluateNode(const Node& n, const std::int32_t* next, std::int32_t* out) {
        switch (n.kind) {
            case Kind::kAtom:
                if (n.min == 1 && n.max == 1) {
                    for (std::size_t p = 0; p < width_; ++p)
                        out[p] = AtomAt(n, p) ? next[p + 1] : -1;
                } else {
                    RepeatAtom(n, next, out);
                }
                return;
            case Kind::kGroup:
                RepeatGroup(n, next, out);
                return;
            case Kind::kEnd:
                std::fill(out, out + width_, -1);
                out[Len()] = next[Len()];
                return;
            case Kind::kAnyRun: {
                // The shortest run first: the nearest position from which the rest matches.
                std::int32_t nearest = -1;
                for (std::size_t p = width_; p-- > 0;) {
                    if (next[p] >= 0) nearest = next[p];
                    out[p] = nearest;
                }
                return;
            }
            case Kind::kOpen:
            case Kind::kClose:
                std::copy(next, next + width_, out);
                return;
            case Kind::kFail:
                std::fill(out, out + width_, -1);
                return;
        }
    }

    // The greatest count within the bounds after which the rest matches.
    void RepeatAtom(const Node& n, const std::int32_t* next, std::int32_t* out) {
        std::int32_t* run = Temp();  // matching bytes from p on
        run[Len()] = 0;
        for (std::size_t p = Len(); p-- > 0;) run[p] = AtomAt(n, p) ? run[p + 1] + 1 : 0;
        // out doubles as "last position q <= p at which the rest matches" while filling.
        std::int32_t latest = -1;
        for (std::size_t p = 0; p < width_; ++p) {
            if (next[p] >= 0) latest = static_cast<std::int32_t>(p);
            out[p] = latest;
        }
        for (std::size_t p = 0; p < width_; ++p) {
            const std::size_t most = std::min<std::size_t>(n.max, run[p]);
            std::int32_t result = -1;
            if (n.min <= most) {
                const std::int32_t q = out[p + most];
                if (q >= 0 && static_cast<std::size_t>(q) >= p + n.min) result = next[q];
            }
            out[p] = result;  // out[p + most] with most >= 0 is read before it is overwritten
        }
    }

    void FillGroup(const Node& n) {
        std::int32_t* g = GroupRow(n.index);
        std::fill(g, g + width_, -1);
        for (std::uint32_t alt : p_.groups_[n.index].alternatives) {
            const std::int32_t* e = Row(alt, 0);
            for (std::size_t p = 0; p < width_; ++p) g[p] = std::max(g[p], e[p]);
        }
    }

    // Position after `count` iterations from p (a zero-width iteration repeats forever in
    // place), or -1.
    std::int32_t Iterate(const std::int32_t* g, std::size_t p, std::uint32_t count) const {
        std::int32_t at = static_cast<std::int32_t>(p);
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::int32_t to = g[at];
            if (to < 0) return -1;
            if (to == at) break;
            at = to;
        }
        return at;
    }

    void RepeatGroup(const Node& n, const std::int32_t* next, std::int32_t* out) {
        FillGroup(n);
        const std::int32_t* g = GroupRow(n.index);
        if (n.max == CompiledPattern::kUnbounded) {
            // tail[p]: the end when more iterations may follow from p, preferring more.
            std::int32_t* tail = TailRow(n.index);
            for (std::size_t p = width_; p-- > 0;) {
                const std::int32_t to = g[p];
                tail[p] = (to > static_cast<std::int32_t>(p) && tail[to] >= 0) ? tail[to] : next[p];
            }
            for (std::size_t p = 0; p < width_; ++p) {
                const std::int32_t at = Iterate(g, p, n.min);
                out[p] = at < 0 ? -1 : tail[at];
            }
            return;
        }
        for (std::size_t p = 0; p < width_; ++p) out[p] = BoundedGroupEnd(g, n, p, next);
    }

    std::size_t BoundedGroupCount(const std::int32_t* g, const Node& n, std::size_t p,
                                  const std::int32_t* next) const {
        std::size_t best_at = CaptureTable::kNone;
        std::int32_t at = static_cast<std::int32_t>(p);
        for (std::uint32_t k = 0;; ++k) {
            if (k >= n.min && next[at] >= 0) best_at = k;
            if (k == n.max) break;
            const std::int32_t to = g[at];
            if (to < 0) break;
            if (to == at) {  // every further count ends here too; the greatest one wins
                if (n.max >= n.min && next[at] >= 0) best_at = n.max;
                break;
            }
            at = to;
        }
        return best_at;
    }

    std::int32_t BoundedGroupEnd(const std::int32_t* g, const Node& n, std::size_t p,
                                 const std::int32_t* next) const {
        const std::size_t count = BoundedGroupCount(g, n, p, next);
        if (count == CaptureTable::kNone) return -1;
        return next[Iterate(g, p, static_cast<std::uint32_t>(count))];
    }

    // One step of the chosen path, recording captures; returns the position after node i.
    std::size_t Step(std::uint32_t seq, std::size_t i, std::size_t p,
                     CaptureTable& captures) const {
        const Node& n = p_.sequences_[seq].nodes[i];
        const std::int32_t* next = Row(seq, i + 1);
        switch (n.kind) {
            case Kind::kAtom: {
                std::size_t most = p;
                while (most < Len() && most - p < n.max && AtomAt(n, most)) ++most;
                for (std::size_t q = most + 1; q-- > p + n.min;) {
                    if (next[q] >= 0) return q;
                }
                return p;  // unreachable on a matched path
            }
            case Kind::kAnyRun:
                while (p < Len() && next[p] < 0) ++p;
                return p;
            case Kind::kOpen:
                if (n.index) captures.spans[n.index - 1].begin = p;
                return p;
            case Kind::kClose:
                if (n.index) captures.spans[n.index - 1].end = p;
                return p;
            case Kind::kGroup:
                return StepGroup(n, p, next, captures);
            case Kind::kEnd:
            case Kind::kFail:
                return p;
        }
        return p;
    }

    std::size_t StepGroup(const Node& n, std::size_t p, const std::int32_t* next,
                          CaptureTable& captures) const {
        const std::int32_t* g = GroupRow(n.index);
        std::size_t count = 0;
        if (n.max == CompiledPattern::kUnbounded) {
            const std::int32_t* tail = TailRow(n.index);
            std::int32_t at = Iterate(g, p, n.min);
            if (at < 0) return p;
            count = n.min;
            while (g[at] > at && tail[g[at]] >= 0) at = g[at], ++count;
        } else {
            count = BoundedGroupCount(g, n, p, next);
        }
        for (std::size_t k = 0; k < count; ++k) {
            const std::int32_t to = g[p];
            if (to < 0) break;
            WalkChosenAlternative(n, p, to, captures);
            if (static_cast<std::size_t>(to) == p) break;
            p = static_cast<std::size_t>(to);
        }
        return p;
    }

    void WalkChosenAlternative(const Node& n, std::size_t p, std::int32_t end,
                               CaptureTable& captures) const {
        for (std::uint32_t alt : p_.groups_[n.index].alternatives) {
            if (Row(alt, 0)[p] == end) {
                Walk(alt, p, captures);
                return;
            }
        }
    }

    const CompiledPattern& p_;
    std::string_view s_;
    std::size_t width_;
    std::int32_t* cells_ = nullptr;
};

std::optional<std::size_t> CompiledPattern::Match(std::string_view subject,
                                                  CaptureTable* captures) const {
    if (!valid_) return std::nullopt;
    if (subject.size() >= 0x7FFFFFFF) return std::nullopt;  // positions are 32-bit
    PatternEvaluator eval(*this, subject);
    eval.Evaluate();
    const std::int32_t* top = eval.Top();
    const std::size_t last_start = anchored_ ? 0 : subject.size();
    for (std::size_t start = 0; start <= last_start; ++start) {
        if (top[start] < 0) continue;
        if (captures) {
            *captures = CaptureTable{};
            captures->count = capture_count_;
            eval.Walk(0, start, *captures);
        }
        return static_cast<std::size_t>(top[start]);
    }
    return std::nullopt;
}

std::optional<std::size_t> PatternMatch(std::string_view subject, std::string_view pattern,
                                        unsigned options, CaptureTable* captures) {
    CompiledPattern compiled(pattern, options, captures != nullptr);
    return compiled.Match(subject, captures);
}

}  // namespace kelvra::util
