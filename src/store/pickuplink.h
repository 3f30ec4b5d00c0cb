#pragma once
// Link extraction: the links of a stored page, style sheet or plug-in handled object go back
// to the frontier, resolved against the page, classified and charged against the link depth.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/url.h"
#include "store/getlistmanager.h"
#include "store/pagereader.h"
#include "store/pluginhost.h"

namespace kelvra::store {

// What link extraction reads from the header-information store.
class StoredObjects {
  public:
    virtual ~StoredObjects() = default;
    // The record node of a URL, or nullptr.
    virtual const treelistnode* FindRecord(std::string_view url) = 0;
    // The local file of a record.
    virtual std::string LocalPath(const treelistnode* record) = 0;
    // The "CT:" type or the type derived from the extension; none when neither is known.
    virtual std::optional<std::string> ContentType(const treelistnode* record) = 0;
    // The value of a record line ("LO:", "XRange:"), none when absent.
    virtual std::optional<std::string> Field(const treelistnode* record, std::string_view key) = 0;
    // The table type for a URL's extension, empty when there is none.
    virtual std::string TypeForExtension(std::string_view url) = 0;
};

// Link kinds.
enum LinkKind : int { kLinkOrdinary = 0, kLinkObject = 1, kLinkFrame = 2 };
// Answers of AddLink besides those of AdmitUrl.
inline constexpr int kLinkUnresolvable = 5;
inline constexpr int kLinkTooLong = 7;

// One acquisition request: its start URLs and the condition it was started with.
struct CrawlRequest {
    std::vector<std::string> urls;  // '*' in front: send as POST; 0xFF in front: refused
    std::uint32_t flags = 0;        // ConditionFlags
    std::uint16_t depth = 0;        // Classes
    std::int16_t trace = 0;         // CompleteTrace
    std::vector<std::string> allowed;
    std::string filters;  // empty when the filter is off
    std::string extra_header;
};

// Where one blank-separated word of a tag lies in it (double-quoted runs belong to the word).
struct TagWord {
    std::uint32_t start;
    std::uint32_t end;
};

// A tag as read and its lower-case copy (control bytes as spaces). A reader also splits it into
// words once, since every tag is searched for a dozen attribute names.
struct Tag {
    std::string_view text;
    std::string_view lower;
    const std::vector<TagWord>* words = nullptr;  // nullptr: not split
};

// Reads tags from a page: comments, the tag length rules, '<' inside a tag. The tag returned
// lives in the reader until the next call.
class TagReader final {
  public:
    static constexpr std::size_t kMinTag = 4;
    static constexpr std::size_t kTagBuffer = 1024;

    explicit TagReader(PageReader& page) : page_(page) {}
    // The next usable tag, valid until the next call; false at the end of the page.
    bool Next(Tag& tag);
    // Offset of the '<' of the tag last returned, and just after its '>'.
    std::uint64_t tag_start() const { return tag_start_; }
    std::uint64_t tag_end() const { return tag_end_; }

  private:
    // Skips a comment; the page is just after its "<!-". False when reading ends.
    bool SkipComment();
    bool SkipShortTag();
    void SplitWords(Tag& tag);

    PageReader& page_;
    std::uint64_t tag_start_ = 0;
    std::uint64_t tag_end_ = 0;
    std::string text_;       // a tag that spans two blocks of the page
    std::string bang_text_;  // "<!...>" with its '!'
    std::string lower_;
    std::vector<TagWord> words_;
};

// Attribute lookup in tag text. Offsets are into text.
struct AttributeSpan {
    std::size_t offset = 0;
    std::size_t length = 0;
    std::size_t next = 0;  // just after the value and its closing quote
};
// name may be several words ("frame src"), each found in order at a word start of lower; the
// last must be followed by '='. The value's characters are taken from text.
std::optional<AttributeSpan> FindAttribute(std::string_view text, std::string_view lower,
                                           std::string_view name, bool stop_at_separators,
                                           std::size_t from = 0);

// Where the links of a page go as they are read: to the frontier at once, or kept in a
// FoundLinks to be admitted later in the same order.
class LinkSink {
  public:
    virtual ~LinkSink() = default;
    // A link as the page spells it, of a LinkKind; link_flags join the job's condition bits.
    virtual void Link(const net::BaseUrl& base, std::string_view link, int kind,
                      std::uint32_t link_flags) = 0;
    // The resolved target of a frame or a refresh, which may widen the allowed URLs.
    virtual void MovedTarget(std::string_view target) = 0;
};

// What a stored object's links are read from.
enum class LinkSource { kNone, kHtml, kCss };

// The links of one stored object, read and resolved ahead of their admission: a worker reads
// the page it just received while the frontier's thread admits the links of other pages. Kept
// in the order found; used only for the same page read the same way.
// The body of an object in the stream it was received into: from start to the end.
struct ReceivedBody {
    std::FILE* file = nullptr;
    std::uint64_t start = 0;
    std::uint64_t end = PageReader::kNoEnd;
};

struct FoundLinks {
    struct Entry {
        std::size_t url_end = 0;  // in urls; the URL starts where the one before ends
        std::uint32_t link_flags = 0;
        int kind = kLinkOrdinary;
        bool ftp = false;           // the resolved link is an ftp URL
        bool moved_target = false;  // an entry for LinkSink::MovedTarget
    };
    void Add(std::string_view url, Entry entry) {
        urls.append(url);
        entry.url_end = urls.size();
        entries.push_back(entry);
    }
    // Entry k's URL: its queue form; for a moved target the resolved target.
    std::string_view Url(std::size_t k) const {
        const std::size_t start = k == 0 ? 0 : entries[k - 1].url_end;
        return std::string_view(urls).substr(start, entries[k].url_end - start);
    }
    std::vector<Entry> entries;
    // The URLs one after another: one block, made by the worker's thread and freed at once by
    // the frontier's, instead of a block per link.
    std::string urls;
    // What they were read for.
    std::string page_url;
    std::string path;
    LinkSource source = LinkSource::kNone;
    bool full_scan = false;
    bool forms = false;
};

// Reads the links of an HTML page or a style sheet into a sink. Reads nothing but the page, so
// it may run on any thread.
class LinkReader final {
  public:
    // forms: the job asks for the links of forms (JobFlag::kFormTag).
    LinkReader(LinkSink& sink, bool forms) : sink_(sink), forms_(forms) {}
    // full_scan false: only the base, frames and refreshes.
    void ScanHtml(PageReader& page, const net::BaseUrl& base, bool full_scan);
    void ScanCss(PageReader& text, const net::BaseUrl& base);
    void ScanCss(std::string_view text, const net::BaseUrl& base);

  private:
    void ScanForm(TagReader& reader, const Tag& form, const net::BaseUrl& base);
    void ScanAttributes(const Tag& tag, const net::BaseUrl& base);
    bool ScanApplet(const Tag& tag, const net::BaseUrl& base);
    bool ScanFrame(const Tag& tag, const net::BaseUrl& base);
    bool ScanRefresh(const Tag& tag, const net::BaseUrl& base);
    void AddValue(const Tag& tag, const AttributeSpan& span, const net::BaseUrl& base, int kind);

    LinkSink& sink_;
    const bool forms_;
};

class PickupLinkClass : public getlistmanager {
  public:
    explicit PickupLinkClass(StoredObjects* store,
                             const std::string& plugin_library = PluginHost::kLibraryName);
    ~PickupLinkClass() override;

    virtual bool ProcessObject(std::string_view url, const treelistnode* record,
                               const FetchJob& job, bool full_scan);
    // The job of the first queued URL whose stored copy can be used instead of fetching;
    // node receives that URL's store record.
    virtual std::optional<FetchJob> NextUnprocessed(const treelistnode*& node);
    virtual int QueueLink(std::string_view url, FetchJob& job, int mode, bool clear_link_flags);
    // The form QueueLink files url under: fragment cut, decoded, normalised.
    static std::string QueueForm(std::string_view url);
    static void QueueForm(std::string_view url, std::string& text);
    virtual int AddLink(const net::BaseUrl& base, std::string_view link, const FetchJob& job,
                        int kind);
    // Admits the links of a page or a style sheet at once.
    void ScanHtml(PageReader& page, const net::BaseUrl& base, const FetchJob& job, bool full_scan);
    void ScanHtml(std::string_view page, const net::BaseUrl& base, const FetchJob& job,
                  bool full_scan);
    void ScanCss(std::string_view text, const net::BaseUrl& base, const FetchJob& job);

    // Reads ahead, on any thread, the links ProcessObject(url, record, job, full_scan) would
    // admit; false when there is nothing to read ahead (not a page or a style sheet, a
    // redirection, robots.txt, an unreadable file).
    // body: where the object's body was just received, if it is still there; it is read instead
    // of the stored file, which holds the same bytes.
    bool ReadLinksAhead(std::string_view url, const treelistnode* record, const FetchJob& job,
                        bool full_scan, FoundLinks& found, ReceivedBody body = {});
    // ProcessObject with the links found read ahead for it; reads them now when found was read
    // for another object or in another way.
    bool ProcessReadAhead(std::string_view url, const treelistnode* record, const FetchJob& job,
                          bool full_scan, const FoundLinks& found);

    // Queues the start URLs of a request; returns how many were queued.
    int RegisterStartUrls(CrawlRequest& request);

    const PluginHost& plugin() const { return *plugin_; }

  protected:
    StoredObjects* store() const { return store_; }

  private:
    class Admitting;
    int AddLinkWithFlags(const net::BaseUrl& base, std::string_view link, const FetchJob& job,
                         int kind, std::uint32_t link_flags);
    // Admits a link already resolved and in queue form.
    int AdmitLink(std::string_view url, const FoundLinks::Entry& link, const FetchJob& job);
    // Frame, refresh and redirect targets may widen the allowed URLs.
    void AllowMovedTarget(std::string_view target, const FetchJob& job, bool replace_page,
                          std::string_view page);
    // ProcessObject; found: links read ahead, or nullptr.
    bool ProcessRecord(std::string_view url, const treelistnode* record, const FetchJob& job,
                       bool full_scan, const FoundLinks* found);
    LinkSource SourceOf(std::string_view url, std::string_view type);
    // entry's store record when the stored copy is used instead of fetching; nullptr otherwise.
    const treelistnode* UsableStoredRecord(QueueEntry& entry);

    StoredObjects* store_;
    std::unique_ptr<PluginHost> plugin_;
};

}  // namespace kelvra::store
