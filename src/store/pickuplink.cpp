#include "store/pickuplink.h"

#include <array>

#include "store/store_files.h"
#include "store/store_record.h"
#include "util/fileutil.h"
#include "util/strutil.h"

namespace kelvra::store {

namespace {

constexpr std::size_t kFormUrlBuffer = 1024;  // the form URL being built, NUL included
constexpr std::size_t kFormQueryLimit = 1021;
constexpr std::size_t kMaxAction = 1023;

bool IsSeparator(unsigned char c) {
    return c == ';' || c == ',';
}

// True when value equals the first value.size() bytes of word.
bool PrefixOf(std::string_view value, std::string_view word) {
    return value.size() <= word.size() && word.substr(0, value.size()) == value;
}

bool StartsWithWord(std::string_view lower, std::string_view word) {
    return lower.substr(0, word.size()) == word &&
           (lower.size() == word.size() || util::IsWhite(lower[word.size()]));
}

char LowerByte(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Offset of the next word at or after i and, through end, just after it. Double-quoted runs
// belong to their word.
std::size_t NextWord(std::string_view s, std::size_t i, bool stop, std::size_t& end) {
    const std::size_t n = s.size();
    auto separates = [&](unsigned char c) { return util::IsWhite(c) || (stop && IsSeparator(c)); };
    while (i < n && separates(s[i])) ++i;
    std::size_t j = i;
    while (j < n && !separates(s[j])) {
        if (s[j] == '"') {
            const std::size_t close = s.find('"', j + 1);
            j = close == std::string_view::npos ? n : close + 1;
        } else {
            ++j;
        }
    }
    end = j;
    return i;
}

// The value after a matched attribute name ending at j; none when no '=' follows.
std::optional<AttributeSpan> ValueAfter(std::string_view text, std::string_view lower,
                                        std::size_t j, bool stop) {
    const std::size_t n = lower.size();
    while (j < n && util::IsWhite(lower[j])) ++j;
    if (j >= n || lower[j] != '=') return std::nullopt;
    ++j;
    while (j < n && util::IsWhite(lower[j])) ++j;
    if (j < n && (lower[j] == '"' || lower[j] == '\'')) {
        const char quote = lower[j++];
        while (j < n && util::IsWhite(lower[j])) ++j;
        std::size_t e = j;
        while (e < n && text[e] != quote && static_cast<unsigned char>(text[e]) >= 0x20) ++e;
        return AttributeSpan{j, e - j, (e < n && text[e] == quote) ? e + 1 : e};
    }
    std::size_t e = j;
    while (e < n && !util::IsWhite(lower[e]) && !(stop && IsSeparator(lower[e]))) ++e;
    return AttributeSpan{j, e - j, e};
}

// Takes the first word off a space-separated list of names.
std::string_view TakeName(std::string_view& names) {
    std::size_t space = 0;
    while (space < names.size() && names[space] != ' ') ++space;  // names are a few bytes
    const std::string_view word = names.substr(0, space);
    names = space == names.size() ? std::string_view() : names.substr(space + 1);
    return word;
}

bool WordStartsWith(std::string_view lower, std::size_t i, std::string_view word) {
    return lower[i] == word[0] && lower.substr(i, word.size()) == word;
}

// Find over a tag's words as its reader split them: the same words Find would walk from the
// start of the tag without separators.
std::optional<AttributeSpan> FindInWords(const Tag& tag, std::string_view name) {
    const std::vector<TagWord>& words = *tag.words;
    std::size_t w = 0;
    while (!name.empty()) {
        const std::string_view word = TakeName(name);
        while (w < words.size() && !WordStartsWith(tag.lower, words[w].start, word)) ++w;
        if (w == words.size()) return std::nullopt;
        if (name.empty())
            return ValueAfter(tag.text, tag.lower, words[w].start + word.size(), false);
        ++w;
    }
    return std::nullopt;
}

std::optional<AttributeSpan> Find(const Tag& tag, std::string_view name, bool stop = false,
                                  std::size_t from = 0) {
    if (tag.words && !stop && from == 0) return FindInWords(tag, name);
    const std::size_t n = tag.lower.size();
    std::size_t i = from;
    while (!name.empty()) {
        const std::string_view word = TakeName(name);
        std::size_t end = 0;
        for (;;) {
            i = NextWord(tag.lower, i, stop, end);
            if (i >= n) return std::nullopt;
            if (WordStartsWith(tag.lower, i, word)) break;
            i = end;
        }
        if (name.empty()) return ValueAfter(tag.text, tag.lower, i + word.size(), stop);
        i = end;
    }
    return std::nullopt;
}

// Find for several one-word names at once, in one walk over the words.
template <std::size_t N>
std::array<std::optional<AttributeSpan>, N> FindEach(const Tag& tag,
                                                     const std::array<std::string_view, N>& names) {
    std::array<std::optional<AttributeSpan>, N> found;
    if (!tag.words) {
        for (std::size_t k = 0; k < N; ++k) found[k] = Find(tag, names[k]);
        return found;
    }
    std::array<bool, N> seen{};
    std::size_t left = N;
    for (const TagWord& word : *tag.words) {
        for (std::size_t k = 0; k < N; ++k) {
            if (seen[k] || !WordStartsWith(tag.lower, word.start, names[k])) continue;
            seen[k] = true;
            found[k] = ValueAfter(tag.text, tag.lower, word.start + names[k].size(), false);
            if (--left == 0) return found;
        }
    }
    return found;
}

std::string_view ValueText(const Tag& tag, const AttributeSpan& span) {
    return tag.text.substr(span.offset, span.length);
}
std::string_view ValueLower(const Tag& tag, const AttributeSpan& span) {
    return tag.lower.substr(span.offset, span.length);
}

// Reads past the end of a /* */ comment whose "/*" was just read; false when it never ends.
bool SkipCssComment(PageReader& text) {
    int previous = 0;
    for (int c; (c = text.Get()) != -1; previous = c) {
        if (previous == '*' && c == '/') return true;
    }
    return false;
}

// Reads past the next needle outside /* */ comments, case-insensitively when fold is set;
// false at the end. No proper start of a needle may recur inside it (" url(", "@import \"").
bool FindOutsideComments(PageReader& text, std::string_view needle, bool fold) {
    std::size_t matched = 0;
    for (int c; (c = text.Get()) != -1;) {
        if (c == '/' && text.Peek() == '*') {
            text.Get();
            if (!SkipCssComment(text)) return false;
            matched = 0;
            continue;
        }
        const char k = fold ? LowerByte(static_cast<char>(c)) : static_cast<char>(c);
        if (k == needle[matched]) {
            if (++matched == needle.size()) return true;
        } else {
            matched = k == needle[0] ? 1 : 0;
        }
    }
    return false;
}

// A link of kMaxCssValue bytes or more resolves to a URL too long to queue (or, starting with
// '#', to the page itself): keeping only its start changes nothing and bounds the memory.
constexpr std::size_t kMaxCssValue = 2 * net::kUrlBuffer;

// Reads a value up to its end byte (taken too); false when the text ends first.
bool ReadCssValue(PageReader& text, char end, std::string& value) {
    value.clear();
    for (int c; (c = text.Get()) != -1;) {
        if (c == end) return true;
        if (value.size() < kMaxCssValue) value.push_back(static_cast<char>(c));
    }
    return false;
}

}  // namespace

std::optional<AttributeSpan> FindAttribute(std::string_view text, std::string_view lower,
                                           std::string_view name, bool stop_at_separators,
                                           std::size_t from) {
    return Find(Tag{text, lower}, name, stop_at_separators, from);
}

bool TagReader::SkipComment() {
    constexpr std::uint64_t kNone = PageReader::kNoEnd;
    constexpr std::string_view kCommentStart = "<!-";
    std::uint64_t after_first_gt = kNone;
    int before = '-';        // "<!->" ends at once
    std::size_t nested = 0;  // bytes of another comment start seen
    for (int c; (c = page_.Get()) != -1; before = c) {
        if (c == '>') {
            if (before == '-') return true;
            if (after_first_gt == kNone) after_first_gt = page_.Tell();
        }
        nested = c == kCommentStart[nested] ? nested + 1 : (c == '<' ? 1 : 0);
        if (nested == kCommentStart.size()) break;
    }
    // Unterminated, or another comment starts inside: resume after the first '>'.
    if (after_first_gt != kNone) {
        page_.Seek(after_first_gt);
        return true;
    }
    if (!page_.SkipTo('>')) return false;
    page_.Get();
    return true;
}

bool TagReader::Next(Tag& tag) {
    for (;;) {
        if (!page_.SkipTo('<')) return false;
        tag_start_ = page_.Tell();
        page_.Get();
        bool bang = false;
        if (page_.Peek() == '!') {
            page_.Get();
            if (page_.Peek() == '-') {
                page_.Get();
                if (!SkipComment()) return false;
                continue;
            }
            bang = true;
        } else if (SkipShortTag()) {
            continue;
        }
        const PageReader::Taken body = page_.TakeUntil('>', '<', text_, kTagBuffer);
        if (page_.Peek() == '>') page_.Get();  // a '<' starts the next tag
        tag_end_ = page_.Tell();
        const std::uint64_t length = body.length + (bang ? 1 : 0);
        if (length < kMinTag || length >= kTagBuffer) continue;
        if (bang) {
            bang_text_.assign(1, '!').append(body.text);
            tag.text = bang_text_;
        } else {
            tag.text = body.text;
        }
        lower_.resize(tag.text.size());
        for (std::size_t k = 0; k < tag.text.size(); ++k) {
            const char c = tag.text[k];
            lower_[k] = static_cast<unsigned char>(c) < 0x20 ? ' ' : LowerByte(c);
        }
        tag.lower = lower_;
        SplitWords(tag);
        return true;
    }
}

// Most tags of a page are too short to hold a link ("<p>", "</a>"); they are passed over here
// without being taken. False, with nothing taken, for a tag that needs the full look.
bool TagReader::SkipShortTag() {
    const std::string_view ahead = page_.Ahead(kMinTag);
    std::size_t end = 0;
    while (end < ahead.size() && ahead[end] != '>' && ahead[end] != '<') ++end;
    if (end == ahead.size()) return false;
    page_.Skip(ahead[end] == '>' ? end + 1 : end);
    tag_end_ = page_.Tell();
    return true;
}

void TagReader::SplitWords(Tag& tag) {
    words_.clear();
    const std::size_t n = tag.lower.size();
    for (std::size_t i = 0, end = 0; (i = NextWord(tag.lower, i, false, end)) < n; i = end) {
        words_.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(end)});
    }
    tag.words = &words_;
}

PickupLinkClass::PickupLinkClass(StoredObjects* store, const std::string& plugin_library)
    : store_(store), plugin_(std::make_unique<PluginHost>(plugin_library)) {}

PickupLinkClass::~PickupLinkClass() = default;

std::string PickupLinkClass::QueueForm(std::string_view url) {
    std::string text;
    QueueForm(url, text);
    return text;
}

void PickupLinkClass::QueueForm(std::string_view url, std::string& text) {
    net::PercentDecode(text, url.substr(0, url.find('#')));
    net::NormalizeUrl(text);
    util::TrimRight(text);
}

int PickupLinkClass::QueueLink(std::string_view url, FetchJob& job, int mode,
                               bool clear_link_flags) {
    const std::string text = QueueForm(url);
    const std::uint32_t saved = job.flags;
    if (clear_link_flags) job.flags &= JobFlag::kConditionMask;
    const int result = AdmitUrl(text, job, mode);
    job.flags = saved;
    return result;
}

// The sink through which a scan admits each link as soon as it is read.
class PickupLinkClass::Admitting final : public LinkSink {
  public:
    Admitting(PickupLinkClass& table, const FetchJob& job) : table_(table), job_(job) {}
    void Link(const net::BaseUrl& base, std::string_view link, int kind,
              std::uint32_t link_flags) override {
        table_.AddLinkWithFlags(base, link, job_, kind, link_flags);
    }
    void MovedTarget(std::string_view target) override {
        table_.AllowMovedTarget(target, job_, false, {});
    }

  private:
    PickupLinkClass& table_;
    const FetchJob& job_;
};

namespace {

// The sink that keeps each link resolved and in queue form for its admission later.
class Recording final : public LinkSink {
  public:
    Recording(FoundLinks& found, const getlistmanager& table) : found_(found), table_(table) {}
    void Link(const net::BaseUrl& base, std::string_view link, int kind,
              std::uint32_t link_flags) override {
        if (net::ResolveLink(url_, base, link) < 0 || url_.size() >= net::kUrlBuffer) return;
        PickupLinkClass::QueueForm(url_, queued_);
        // Its admission would change nothing.
        if (table_.SurelyKnown(getlistmanager::UrlKey(queued_))) return;
        found_.Add(queued_, {0, link_flags, kind, url_.rfind("ftp://", 0) == 0, false});
    }
    void MovedTarget(std::string_view target) override {
        found_.Add(target, {0, 0, kLinkOrdinary, false, true});
    }

  private:
    FoundLinks& found_;
    const getlistmanager& table_;
    // Kept from link to link so that a page's links need no allocation each.
    std::string url_;
    std::string queued_;
};

bool FormsWanted(const FetchJob& job) {
    return (job.flags & JobFlag::kFormTag) != 0;
}

}  // namespace

int PickupLinkClass::AddLink(const net::BaseUrl& base, std::string_view link, const FetchJob& job,
                             int kind) {
    return AddLinkWithFlags(base, link, job, kind, 0);
}

int PickupLinkClass::AddLinkWithFlags(const net::BaseUrl& base, std::string_view link,
                                      const FetchJob& job, int kind, std::uint32_t link_flags) {
    std::string url;
    if (net::ResolveLink(url, base, link) < 0) return kLinkUnresolvable;
    if (url.size() >= net::kUrlBuffer) return kLinkTooLong;
    return AdmitLink(QueueForm(url), {0, link_flags, kind, url.rfind("ftp://", 0) == 0, false},
                     job);
}

int PickupLinkClass::AdmitLink(std::string_view url, const FoundLinks::Entry& link,
                               const FetchJob& job) {
    const std::uint32_t f = job.flags;
    const int kind = link.kind;
    int mode = kModeOrdinary;
    if ((f & JobFlag::kGetAll) || (link.ftp && (f & JobFlag::kFtpAll)) ||
        (kind == kLinkObject && (f & JobFlag::kSrcObject)) ||
        (kind == kLinkFrame && (f & JobFlag::kSrcObjectAll))) {
        mode = kModeForced;
    }
    FetchJob copy = job;
    copy.flags = (f & JobFlag::kConditionMask) | link.link_flags;
    if (kind == kLinkOrdinary) {
        // Only ordinary links use up depth; page objects and frames belong to their page.
        if (copy.depth == 1) {
            mode = kModeDepthUsedUp;
        } else if (copy.depth > 1) {
            --copy.depth;
        }
        if (copy.trace > 0) --copy.trace;
    }
    return AdmitUrl(url, copy, mode);
}

void LinkReader::AddValue(const Tag& tag, const AttributeSpan& span, const net::BaseUrl& base,
                          int kind) {
    sink_.Link(base, ValueText(tag, span), kind, 0);
}

void PickupLinkClass::AllowMovedTarget(std::string_view target, const FetchJob& job,
                                       bool replace_page, std::string_view page) {
    if (!job.rules) return;
    util::MutexLock lock(mutex());
    HomeListManager& accept = job.rules->accept;
    const std::uint32_t f = job.flags;
    if (f & JobFlag::kTraceMoved) {
        accept.AddDirectory(target);
    } else if ((f & JobFlag::kStartUrl) && (f & JobFlag::kTraceMovedStart)) {
        if (replace_page) accept.RemoveDirectory(page);
        accept.AddDirectory(target);
    }
}

bool LinkReader::ScanFrame(const Tag& tag, const net::BaseUrl& base) {
    const auto src = Find(tag, "frame src");
    if (!src) return false;
    std::string target;
    if (net::ResolveLink(target, base, ValueText(tag, *src)) >= 0) {
        sink_.MovedTarget(target);
    }
    AddValue(tag, *src, base, kLinkFrame);
    return true;
}

bool LinkReader::ScanRefresh(const Tag& tag, const net::BaseUrl& base) {
    const auto equiv = Find(tag, "meta http-equiv");
    if (!equiv || !PrefixOf(ValueLower(tag, *equiv), "refresh")) return false;
    const auto content = Find(tag, "content", false, equiv->next);
    if (!content) return false;
    const Tag inner{ValueText(tag, *content), ValueLower(tag, *content)};
    if (const auto url = Find(inner, "url", true)) {
        std::string target;
        if (net::ResolveLink(target, base, ValueText(inner, *url)) >= 0) {
            sink_.MovedTarget(target);
        }
        AddValue(inner, *url, base, kLinkFrame);
    }
    return true;
}

bool LinkReader::ScanApplet(const Tag& tag, const net::BaseUrl& base) {
    if (util::SkipWhite(tag.lower).substr(0, 7) != "applet ") return false;
    std::string prefix;
    if (const auto codebase = Find(tag, "codebase")) {
        prefix = std::string(ValueText(tag, *codebase)) + "/";
    }
    for (const char* name : {"code", "archive"}) {
        if (const auto v = Find(tag, name)) {
            sink_.Link(base, prefix + std::string(ValueText(tag, *v)), kLinkObject, 0);
        }
    }
    return true;
}

void LinkReader::ScanAttributes(const Tag& tag, const net::BaseUrl& base) {
    static constexpr std::array<std::string_view, 7> kNames = {
        "href", "rel", "src", "background", "lowsrc", "dynsrc", "style"};
    const auto found = FindEach(tag, kNames);
    if (const auto& href = found[0]) {
        const auto& rel = found[1];
        const bool sheet = rel && PrefixOf(ValueLower(tag, *rel), "stylesheet");
        AddValue(tag, *href, base, sheet ? kLinkObject : kLinkOrdinary);
    }
    for (std::size_t k = 2; k < 6; ++k) {
        if (found[k]) AddValue(tag, *found[k], base, kLinkObject);
    }
    if (const auto& style = found[6]) ScanCss(ValueText(tag, *style), base);
}

void LinkReader::ScanCss(std::string_view text, const net::BaseUrl& base) {
    PageReader reader(text);
    ScanCss(reader, base);
}

void LinkReader::ScanCss(PageReader& text, const net::BaseUrl& base) {
    std::string value;
    while (FindOutsideComments(text, " url(", true)) {
        int c;
        while ((c = text.Peek()) != -1 && util::IsWhite(static_cast<unsigned char>(c))) text.Get();
        const bool quoted = c == '"' || c == '\'';
        if (quoted) text.Get();
        if (!ReadCssValue(text, quoted ? static_cast<char>(c) : ')', value)) break;
        sink_.Link(base, value, kLinkObject, 0);
    }
    text.Rewind();
    while (FindOutsideComments(text, "@import \"", false)) {
        if (!ReadCssValue(text, '"', value)) break;
        sink_.Link(base, value, kLinkObject, 0);
    }
}

void LinkReader::ScanForm(TagReader& reader, const Tag& form, const net::BaseUrl& base) {
    // The form tag's own values come from its lower-case copy.
    bool post = false;
    if (const auto method = Find(form, "method")) {
        const std::string_view m = ValueLower(form, *method);
        post =
            m.size() <= 5 && util::EqualsNoCase(m, std::string_view("POST ").substr(0, m.size()));
    }
    std::string url;
    if (const auto action = Find(form, "action")) {
        if (action->length == 0) return;
        url = ValueLower(form, *action).substr(0, kMaxAction);
        if (url.find('?') == std::string::npos) url += '?';
    }
    bool submit = false;
    Tag tag;
    while (reader.Next(tag)) {
        if (tag.lower == "/form") break;
        if (tag.lower.find("input ") != std::string_view::npos) {
            if (const auto onclick = Find(tag, "onclick")) {
                const std::size_t open = tag.text.find('\'', onclick->offset);
                const std::size_t close =
                    open == std::string_view::npos ? open : tag.text.find('\'', open + 1);
                if (close != std::string_view::npos) {
                    sink_.Link(base, tag.text.substr(open + 1, close - open - 1), kLinkOrdinary, 0);
                }
                continue;
            }
            const auto type = Find(tag, "type");
            if (!type) continue;
            const std::string_view t = ValueLower(tag, *type);
            const bool image = t.substr(0, 5) == "image";
            const bool is_submit = t.substr(0, 6) == "submit";
            const bool hidden = t.substr(0, 6) == "hidden";
            if (image) {
                if (const auto src = Find(tag, "src", false, type->next)) {
                    AddValue(tag, *src, base, kLinkObject);
                }
                submit = true;
                continue;
            }
            if (!is_submit && !hidden) return;  // a field the user fills in
            submit = submit || is_submit;
            const auto name = Find(tag, "name");
            const auto value = Find(tag, "value");
            const std::string_view name_text = name ? ValueText(tag, *name) : std::string_view();
            if (url.size() >= kFormQueryLimit) return;
            if (url.empty() || url.back() != '?') url += '&';
            url += name_text;
            url += '=';
            if (url.size() >= kFormUrlBuffer) return;
            const std::string_view v = value ? ValueText(tag, *value) : std::string_view();
            if (net::FormEncode(url, kFormUrlBuffer - 1, v) < 0) return;
            continue;
        }
        if (tag.lower.find("textarea") != std::string_view::npos) return;
        ScanAttributes(tag, base);
    }
    if (submit) sink_.Link(base, url, kLinkOrdinary, post ? JobFlag::kPost : 0);
}

void LinkReader::ScanHtml(PageReader& page, const net::BaseUrl& page_base, bool full_scan) {
    net::BaseUrl base = page_base;
    TagReader reader(page);
    std::uint64_t style_start = PageReader::kNoEnd;
    Tag tag;
    while (reader.Next(tag)) {
        if (const auto href = Find(tag, "base href")) {
            std::string resolved;
            if (net::ResolveLink(resolved, base, ValueText(tag, *href)) >= 0) {
                net::MakeBaseUrl(base, resolved);
            }
            continue;
        }
        if (ScanFrame(tag, base) || ScanRefresh(tag, base)) continue;
        if (!full_scan) continue;
        if (StartsWithWord(tag.lower, "style")) {
            style_start = reader.tag_end();
            continue;
        }
        if (StartsWithWord(tag.lower, "/style")) {
            if (style_start != PageReader::kNoEnd) {
                PageReader sheet = page.Range(style_start, reader.tag_start());
                ScanCss(sheet, base);
                style_start = PageReader::kNoEnd;
            }
            continue;
        }
        if (forms_ && tag.lower.substr(0, 4) == "form") {
            ScanForm(reader, tag, base);
            continue;
        }
        if (!ScanApplet(tag, base)) ScanAttributes(tag, base);
    }
}

void PickupLinkClass::ScanHtml(std::string_view page, const net::BaseUrl& base, const FetchJob& job,
                               bool full_scan) {
    PageReader reader(page);
    ScanHtml(reader, base, job, full_scan);
}

void PickupLinkClass::ScanHtml(PageReader& page, const net::BaseUrl& base, const FetchJob& job,
                               bool full_scan) {
    Admitting sink(*this, job);
    LinkReader(sink, FormsWanted(job)).ScanHtml(page, base, full_scan);
}

void PickupLinkClass::ScanCss(std::string_view text, const net::BaseUrl& base,
                              const FetchJob& job) {
    Admitting sink(*this, job);
    LinkReader(sink, FormsWanted(job)).ScanCss(text, base);
}

namespace {

// Reads the links of the body received, or else of the file at path; false when it cannot be
// opened.
bool ReadLinks(LinkReader& reader, const std::string& path, ReceivedBody body,
               LinkSource source, const net::BaseUrl& base, bool full_scan) {
    FilePtr file;
    if (body.file == nullptr) {
        file.reset(std::fopen(path.c_str(), "rb"));
        if (!file) return false;
        body = {file.get(), 0};
    }
    PageReader page(body.file, body.start, body.end);
    if (source == LinkSource::kHtml) {
        reader.ScanHtml(page, base, full_scan);
    } else {
        reader.ScanCss(page, base);
    }
    return true;
}

bool ReadFor(const FoundLinks& found, std::string_view url, const std::string& path,
             LinkSource source, bool full_scan, bool forms) {
    return found.source == source && found.page_url == url && found.path == path &&
           found.full_scan == full_scan && found.forms == forms;
}

}  // namespace

LinkSource PickupLinkClass::SourceOf(std::string_view url, std::string_view type) {
    if (type.find("/html") != std::string_view::npos) return LinkSource::kHtml;
    if (type.find("/css") != std::string_view::npos ||
        store_->TypeForExtension(url).find("/css") != std::string::npos) {
        return LinkSource::kCss;
    }
    return LinkSource::kNone;
}

bool PickupLinkClass::ReadLinksAhead(std::string_view url, const treelistnode* record,
                                     const FetchJob& job, bool full_scan, FoundLinks& found,
                                     ReceivedBody body) {
    found.entries.clear();
    found.urls.clear();
    found.source = LinkSource::kNone;
    if (!store_ || !record || (job.flags & JobFlag::kRobots)) return false;
    const auto type = store_->ContentType(record);
    const LinkSource source = type ? SourceOf(url, *type) : LinkSource::kNone;
    if (source == LinkSource::kNone) return false;
    found.page_url = url;
    found.path = store_->LocalPath(record);
    found.full_scan = full_scan;
    found.forms = FormsWanted(job);
    net::BaseUrl base;
    net::MakeBaseUrl(base, url);
    Recording sink(found, *this);
    LinkReader reader(sink, found.forms);
    if (!ReadLinks(reader, found.path, body, source, base, full_scan)) return false;
    found.source = source;
    return true;
}

bool PickupLinkClass::ProcessObject(std::string_view url, const treelistnode* record,
                                    const FetchJob& job, bool full_scan) {
    return ProcessRecord(url, record, job, full_scan, nullptr);
}

bool PickupLinkClass::ProcessReadAhead(std::string_view url, const treelistnode* record,
                                       const FetchJob& job, bool full_scan,
                                       const FoundLinks& found) {
    if (found.source == LinkSource::kNone) return ProcessObject(url, record, job, full_scan);
    return ProcessRecord(url, record, job, full_scan, &found);
}

bool PickupLinkClass::ProcessRecord(std::string_view url, const treelistnode* record,
                                    const FetchJob& job, bool full_scan, const FoundLinks* found) {
    if (!store_ || !record) return false;
    net::BaseUrl base;
    net::MakeBaseUrl(base, url);
    const auto location = store_->Field(record, "LO:");
    if (location && FollowsRedirect(job)) {
        std::string target;
        if (net::ResolveLink(target, base, *location) >= 0) {
            bool denied = false;
            if (job.rules) {
                util::MutexLock lock(mutex());
                denied = job.rules->accept.AcceptCheck(HomeListManager::KeyForm(target)) == -1;
            }
            if (!denied) AllowMovedTarget(target, job, true, url);
            FetchJob moved = job;
            ++moved.redirects;
            const int mode = (job.flags & (JobFlag::kSrcObjectAll | JobFlag::kGetAll))
                                 ? kModeForced
                                 : kModeOrdinary;
            if (QueueLink(target, moved, mode, false) == kAdmitKnown) {
                const std::string queued = QueueForm(target);
                if (UrlKey(queued) == UrlKey(url)) RequeueWithScheme(queued);
            }
        }
    }
    FetchJob copy = job;
    copy.retry = 0;
    copy.redirects = 0;
    copy.referrer = FindUrl(url);
    const auto type = store_->ContentType(record);
    if (!type) return false;
    const std::string path = store_->LocalPath(record);
    const LinkSource source = SourceOf(url, *type);
    if (source != LinkSource::kNone) {
        const bool forms = FormsWanted(copy);
        if (found && ReadFor(*found, url, path, source, full_scan, forms)) {
            for (std::size_t k = 0; k < found->entries.size(); ++k) {
                const FoundLinks::Entry& entry = found->entries[k];
                if (entry.moved_target) {
                    AllowMovedTarget(found->Url(k), copy, false, {});
                } else {
                    AdmitLink(found->Url(k), entry, copy);
                }
            }
            return true;
        }
        Admitting sink(*this, copy);
        LinkReader reader(sink, forms);
        // A style sheet counts as processed even when it cannot be read.
        return ReadLinks(reader, path, {}, source, base, full_scan) || source == LinkSource::kCss;
    }
    const auto entries = plugin_->ProcessFile(path, *type);
    if (!entries) return false;
    for (const PluginHost::Entry& entry : *entries) {
        AddLink(base, entry.url, copy, entry.object ? kLinkObject : kLinkOrdinary);
    }
    return true;
}

std::optional<FetchJob> PickupLinkClass::NextUnprocessed(const treelistnode*& node) {
    util::MutexLock lock(mutex());
    // Entries examined before are all to be fetched: a walk from the head would only turn them
    // round to the tail once and leave the queue as it was, so the walk starts at the first
    // entry not yet examined and turns the queue only when it takes one.
    for (std::size_t k = queue_.FirstUnexamined(); k < queue_.size(); ++k) {
        if (queue_[k].state == kMustFetch) continue;
        const treelistnode* record = UsableStoredRecord(queue_[k]);
        node = record;
        if (record == nullptr) {
            queue_.MarkMustFetch(k);
            continue;
        }
        // What a walk from the head would have left: the entries before this one at the tail.
        for (; k > 0; --k) MoveFirstToEnd();
        const FetchJob job = queue_.front().node->value().ObjectAs<JobPayload>()->job;
        if (!store_->Field(record, "XRange:") && util::FileSize(store_->LocalPath(record)) >= 0) {
            queue_.pop_front();
        } else {
            queue_.MarkMustFetch(0);  // partial or missing: fetched later
        }
        return job;
    }
    return std::nullopt;
}

const treelistnode* PickupLinkClass::UsableStoredRecord(QueueEntry& entry) {
    if (!store_) return nullptr;
    const treelistnode* record = store_->FindRecord(EntryText(entry));
    const auto* payload = entry.node->value().ObjectAs<JobPayload>();
    if (!record || !payload) return nullptr;
    UseStoredScheme(entry, store_->Field(record, kSchemeKey).has_value());
    const std::uint32_t flags = payload->job.flags;
    const RegetLevel policy = RegetLevelOf(flags);
    if (policy == RegetLevel::kFetchText) {
        const auto type = store_->ContentType(record);
        return type && type->rfind("text", 0) != 0 ? record : nullptr;
    }
    const bool use_stored =
        policy == RegetLevel::kUseStored ||
        (policy == RegetLevel::kFetchStartUrls && !(flags & JobFlag::kStartUrl));
    return use_stored ? record : nullptr;
}

int PickupLinkClass::RegisterStartUrls(CrawlRequest& request) {
    CrawlRules* rules = AddCrawlContext(request.allowed, request.filters, request.extra_header);
    FetchJob job;
    job.rules = rules;
    job.flags = (request.flags & JobFlag::kConditionMask) | JobFlag::kStartUrl;
    job.depth = request.depth;
    job.trace = request.trace;
    int queued = 0;
    for (std::string& entry : request.urls) {
        std::string_view url = entry;
        FetchJob start = job;
        if (!url.empty() && url.front() == '*') {
            url.remove_prefix(1);
            start.flags |= JobFlag::kPost;
        }
        std::string scope(url);
        if (start.flags & JobFlag::kRelativeLink) {
            const std::size_t slash = scope.find('/', net::HostStart(scope));
            if (slash != std::string::npos) scope.resize(slash + 1);
        }
        bool added;
        {
            util::MutexLock lock(mutex());
            added = rules->accept.AddDirectory(scope);
        }
        if (QueueLink(url, start, kModeOrdinary, false) == kAdmitQueued) {
            ++queued;
        } else if (added) {
            util::MutexLock lock(mutex());
            rules->accept.RemoveDirectory(scope);
            if (!entry.empty()) entry[0] = static_cast<char>(0xFF);
        }
    }
    return queued;
}

}  // namespace kelvra::store
