// Answers from the spool and the server's own commands.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>

#include "net/url.h"
#include "platform/ownedfile.h"
#include "server/answers.h"
#include "server/servercommand.h"
#include "server/spoolpath.h"
#include "server/subserverproc.h"
#include "store/headerlistex.h"
#include "util/fileutil.h"
#include "util/header.h"
#include "util/httpdate.h"
#include "util/lock.h"

namespace kelvra::server {
namespace {

// Most stored pages and images fit one block, so header and body leave in one read and one send.
constexpr std::size_t kSendBlock = 64 * 1024;
// Key plus form data must stay below the URL limit to be looked up.
constexpr std::size_t kMaxFormKey = 2047;

// Reads up to capacity bytes; -1 on a read error.
long ReadBlock(int fd, char* buffer, std::size_t capacity) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, capacity);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool HasControlByte(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::time_t RequestDate(std::string_view header) {
    const std::string_view value = util::FindHeader(header, "If-Modified-Since:");
    if (value.data() == nullptr) return 0;
    std::tm tm = util::ParseHttpDate(value);
    return timegm(&tm);
}

std::string FormatTime(std::time_t time) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    return util::FormatHttpDate(utc);
}

}  // namespace

std::string SubServerProc::OwnAddressText() const {
    return OwnAddress(LocalAddress(), context_.listen_port.load());
}

std::string SubServerProc::KeyOf(std::string_view url) const {
    std::string text = net::PercentDecode(url);
    net::NormalizeUrl(text);
    text.erase(0, std::min(net::HostStart(text), text.size()));
    return text;
}

bool SubServerProc::TryCommands(std::uint32_t mode) {
    const auto path =
        OwnPath(request_.target, context_.listen_port.load(), [this] { return LocalAddress(); });
    if (path) return AnswerCommand(*path);
    if (ModeBase(mode) != kModeLocal || !context_.settings.reload_page ||
        !IsBrowserReload(request_.header)) {
        return false;
    }
    store::treelistnode* node = context_.store.FindRecord(request_.target);
    if (node == nullptr || !context_.store.IsHtml(node)) return false;
    SendClosingAnswer(ReloadQuestionPage(OwnAddressText(), request_.target));
    return true;
}

bool SubServerProc::AnswerCommand(std::string_view path) {
    const ServerCommand command =
        ParseServerCommand(path, level_, mode_, context_.settings.has_main_window);
    if (command.answer == CommandAnswer::kNone) return false;
    if (command.new_mode) {
        // Switched before the answer goes out, so the browser's next request sees the mode.
        mode_ = *command.new_mode;
        context_.mode.store(mode_);
        context_.monitor.ModeChanged(mode_);
    }
    if (command.acquire_url) context_.monitor.AcquireUrl(*command.acquire_url);
    if (command.open_proxy_setting) context_.monitor.OpenProxySetting();
    const std::string own = OwnAddressText();
    switch (command.answer) {
        case CommandAnswer::kAccepted:
            SendClosingAnswer(CommandAcceptedPage(own, command.reload_url));
            break;
        case CommandAnswer::kRefused:
            SendClosingAnswer(CommandRefusedPage(own, command.reload_url));
            break;
        default:
            SendClosingAnswer(RedirectPage(command.redirect_to));
            break;
    }
    return true;
}

long SubServerProc::ReceiveFromClient(char* buffer, std::size_t capacity) {
    MayBlock();
    const long wait_us = std::max(1, context_.settings.get_timeout) * 1000000L;
    if (Peek(wait_us) != 1) return 0;
    return Receive(buffer, capacity).count;
}

// Body bytes go into the request as long as header and body fit the 8192-byte request area.
bool SubServerProc::ReceiveBodyIntoBuffer() {
    char block[kSendBlock];
    while (request_.body_left > 0) {
        const std::size_t used = request_.header.size() + request_.body.size();
        if (used >= net::kRawAreaSize) return false;
        Status(kColumnState, "Recieve more data");
        const std::size_t room = std::min<std::size_t>(
            {net::kRawAreaSize - used, sizeof block, static_cast<std::size_t>(request_.body_left)});
        const long count = ReceiveFromClient(block, room);
        if (count == 0) return false;
        request_.body.append(block, static_cast<std::size_t>(count));
        request_.body_left -= count;
    }
    return true;
}

void SubServerProc::DiscardBody() {
    char block[kSendBlock];
    while (request_.body_left > 0) {
        const std::size_t want =
            std::min<std::size_t>(sizeof block, static_cast<std::size_t>(request_.body_left));
        const long count = ReceiveFromClient(block, want);
        if (count == 0) {
            request_.keep_alive = false;
            return;
        }
        request_.body_left -= count;
    }
}

SubServerProc::Lookup SubServerProc::FindStoredObject() {
    Lookup lookup;
    lookup.url = request_.target;
    lookup.h =
        request_.target.substr(std::min(net::HostStart(request_.target), request_.target.size()));
    if (request_.body_left > 0 && !ReceiveBodyIntoBuffer()) {
        lookup.body_unread = true;
        return lookup;
    }
    std::string key = KeyOf(request_.target);
    if (request_.content_length > 0) {
        lookup.with_form = true;
        const char separator = key.find('?') == std::string::npos ? '?' : '&';
        const std::string form = net::PercentDecode(request_.body);
        lookup.url.append(1, separator).append(request_.body);
        lookup.h.append(1, separator).append(request_.body);
        if (key.size() + request_.body.size() >= kMaxFormKey || HasControlByte(form)) {
            return lookup;
        }
        key.append(1, separator).append(form);
    }
    store::headerlistex& store = context_.store;
    store::treelistnode* node = store.FindRecordByKey(key);
    if (node == nullptr && !key.empty() && key.back() == '/') {
        node = store.FindRecordByKey(key + store.RootFileName());
    }
    if (node != nullptr) OpenStoredFile(node, lookup);
    return lookup;
}

// The file is opened here rather than looked at: one open answers both whether the object is
// stored and what to send. A file that exists but is refused keeps its node, so the request
// is refused rather than answered as not stored. Kept contents spare the open.
void SubServerProc::OpenStoredFile(store::treelistnode* node, Lookup& lookup) {
    StoredRecord record = ReadStoredRecord(node);
    if (record.path.size() >= store::kMaxDataPath) return;
    const std::string& root = ResolvedDataDirectory();
    lookup.contents = context_.stored_files.Find(root, record.path);
    if (!lookup.contents) {
        struct stat info {};
        lookup.file = platform::UniqueFd(OpenInsideDataDirectory(root, record.path, &info));
        if (!lookup.file && ::access(record.path.c_str(), F_OK) != 0) return;
        lookup.size = info.st_size;
        if (lookup.file) {
            lookup.contents =
                context_.stored_files.Load(root, record.path, lookup.file.get(), info);
        }
    }
    if (lookup.contents) lookup.size = static_cast<std::int64_t>(lookup.contents->size());
    lookup.node = node;
    lookup.record = std::move(record);
}

// One lock for every field, so the answer's lines come from one version of the record.
SubServerProc::StoredRecord SubServerProc::ReadStoredRecord(store::treelistnode* node) {
    store::headerlistex& store = context_.store;
    util::MutexLock lock(store.Mutex());
    StoredRecord record;
    std::string type;
    store.GetNodeContentType(node, type);
    record.head =
        StoredObjectHead({store.NodeField(node, "XR:"), store.NodeField(node, "LM:"),
                          store.NodeField(node, "LO:"), type, store.NodeField(node, "CE:")});
    record.modified = store.GetNodeModifiedTime(node);
    store.GetNodeLocalPath(node, record.path);
    return record;
}

// The store keeps http and https objects of a host under one key and does not yet say which
// scheme fetched each, so any stored object of host:port stands for https ones (the port is
// one a CONNECT may reach: 443 or one of "ConnectPorts").
bool SubServerProc::HoldsHttpsObjects(const std::string& host, int port) {
    if (host.empty()) return false;
    std::string key = KeyOf("https://" + host + ":" + std::to_string(port) + "/");
    if (!key.empty() && key.back() == '/') key.pop_back();
    util::MutexLock lock(context_.store.Mutex());
    const store::treelistnode* node = context_.store.FindKey(key);
    return node != nullptr && node->ChildCount() > 0;
}

bool SubServerProc::StoredRecordExists(const std::string& key) {
    return context_.store.FindRecordByKey(key) != nullptr;
}

bool SubServerProc::ConditionalAnswer(Lookup& lookup, bool is_get, int& result) {
    store::headerlistex& store = context_.store;
    if (lookup.node != nullptr) {
        const std::time_t stored = lookup.record.modified;
        const std::time_t asked = RequestDate(request_.header);
        // A record without a date cannot confirm anything, so the object is sent.
        if (stored > 0 && asked >= stored) {
            SendClosingAnswer(NotModifiedPage(FormatTime(stored)));
            result = kAnswerClose;
        } else {
            std::string& head = lookup.record.head;
            if (lookup.contents) {
                result = SendHeaderAndContents(*lookup.contents, std::move(head), is_get);
            } else {
                result = lookup.file ? SendHeaderAndBody(lookup.file.get(), lookup.size,
                                                         std::move(head), is_get)
                                     : kAnswerClose;
            }
        }
        return true;
    }
    const std::string key = KeyOf(lookup.h);
    for (const std::string& suffix : {std::string("/"), "/" + store.RootFileName()}) {
        if (StoredRecordExists(key + suffix)) {
            SendClosingAnswer(RedirectPage(lookup.url + suffix));
            result = kAnswerClose;
            return true;
        }
    }
    return false;
}

// The relay's answer from a record after the origin was asked: read and opened anew, as the
// origin's answer may have replaced both.
int SubServerProc::SendStoredObject(store::treelistnode* node, bool is_get) {
    StoredRecord record = ReadStoredRecord(node);
    struct stat info {};
    platform::UniqueFd file(OpenInsideDataDirectory(ResolvedDataDirectory(), record.path, &info));
    if (!file) return kAnswerClose;
    return SendHeaderAndBody(file.get(), info.st_size, std::move(record.head), is_get);
}

int SubServerProc::SendFileWithoutRecord(const std::string& full, bool is_get) {
    struct stat info {};
    platform::UniqueFd file(OpenInsideDataDirectory(ResolvedDataDirectory(), full, &info));
    if (!file) return 0;
    std::string head = "HTTP/1.0 200 OK\r\n";
    const std::string_view type =
        context_.store.TypeForExtension(net::GetExtension(full.substr(full.rfind('/') + 1)));
    if (!type.empty()) head.append("Content-type: ").append(type).append("\r\n");
    return SendHeaderAndBody(file.get(), info.st_size, std::move(head), is_get);
}

// The data directory is resolved once and again only when it changes; a link retargeted
// meanwhile makes files fail the check rather than pass it.
const std::string& SubServerProc::ResolvedDataDirectory() {
    const std::string& directory = context_.store.DataDirectory();
    if (directory != data_directory_ || resolved_data_directory_.empty()) {
        data_directory_ = directory;
        resolved_data_directory_ = ResolvedPath(directory);
    }
    return resolved_data_directory_;
}

int SubServerProc::SendHeaderAndBody(int file, std::int64_t size, std::string head, bool is_get) {
    const bool keep = request_.keep_alive && size >= 1;
    AppendBodyLines(head, size, request_.keep_alive, !tunnel_origin_.empty());
    char block[kSendBlock];
    // Never more than the announced length, even when the file grows meanwhile.
    std::int64_t left = is_get ? std::max<std::int64_t>(size, 0) : 0;
    auto next_block = [&]() -> long {
        const long count = ReadBlock(
            file, block, static_cast<std::size_t>(std::min<std::int64_t>(left, kSendBlock)));
        if (count > 0) left -= count;
        return count;
    };
    // The header and the first block leave in one send: no small segment waits for an ACK.
    long count = left > 0 ? next_block() : 0;
    if (count < 0) return kAnswerClose;
    if (!SendToClient(head, {block, static_cast<std::size_t>(count)})) return kAnswerClose;
    // A client that left is noticed before the next block; after the last one the wait for
    // the next request notices it.
    if (left > 0 && ClientGone()) return kAnswerClose;
    while (left > 0 && count > 0) {
        count = next_block();
        if (count < 0) return kAnswerClose;
        if (count == 0) break;
        if (!SendToClient({block, static_cast<std::size_t>(count)})) return kAnswerClose;
        if (left > 0 && ClientGone()) return kAnswerClose;
    }
    return keep ? kAnswerSpoolKept : kAnswerClose;
}

// Whole contents fit one send block: they leave with the header in one send.
int SubServerProc::SendHeaderAndContents(const std::string& contents, std::string head,
                                         bool is_get) {
    const bool keep = request_.keep_alive && !contents.empty();
    AppendBodyLines(head, static_cast<std::int64_t>(contents.size()), request_.keep_alive,
                    !tunnel_origin_.empty());
    if (!SendToClient(head, is_get ? std::string_view(contents) : std::string_view())) {
        return kAnswerClose;
    }
    return keep ? kAnswerSpoolKept : kAnswerClose;
}

// A file of the data directory that no record describes, or a directory of it.
int SubServerProc::AnswerFileWithoutRecord(const Lookup& lookup, bool is_get) {
    if (lookup.h.size() >= kMaxSpoolRelative + 1) return 0;
    std::string relative = lookup.h;
    if (!relative.empty() && relative.back() == '/') relative.append(context_.store.RootFileName());
    net::ColonToUnderscore(relative);
    const auto confined = ConfinedRelativePath(relative, context_.settings.progress_log);
    if (!confined) return 0;
    store::headerlistex& store = context_.store;
    const std::string full = store.DataPath(*confined);
    const int sent = SendFileWithoutRecord(full, is_get);
    if (sent != 0) return sent;
    if (InsideDataDirectory(store.DataDirectory(), full) && util::IsDirectory(full) == 1) {
        SendClosingAnswer(RedirectPage(lookup.url + "/"));
        return kAnswerClose;
    }
    return 0;
}

void SubServerProc::SendNotInSpool(const Lookup& lookup) {
    const std::string_view prefix = lookup.with_form ? "*" : "";
    const std::string_view get_url = lookup.with_form ? lookup.url : request_.target;
    SendClosingAnswer(NotInSpoolPage(context_.settings.not_found_result, OwnAddressText(),
                                     request_.target, prefix, get_url));
}

int SubServerProc::AnswerFromSpool(bool is_get) {
    Lookup lookup = FindStoredObject();
    if (lookup.body_unread) {
        DiscardBody();
        lookup.with_form = false;
        SendNotInSpool(lookup);
        return kAnswerClose;
    }
    Status(kColumnState, "Sending to Client");
    int result = kAnswerClose;
    if (ConditionalAnswer(lookup, is_get, result)) return result;
    result = AnswerFileWithoutRecord(lookup, is_get);
    if (result != 0) return result;
    SendNotInSpool(lookup);
    return kAnswerClose;
}

int SubServerProc::RefusalAnswer(const ProhibitEntry& entry) {
    request_.keep_alive = false;
    const std::string_view text = entry.text;
    if (entry.action != ProhibitAction::kText || text.empty()) {
        SendClosingAnswer(ProhibitedPage("200"));
    } else if (text.front() == ':') {
        SendClosingAnswer(ProhibitedPage(text.substr(1)));
    } else if (net::HasScheme(text)) {
        SendClosingAnswer(RedirectPage(text));
    } else {
        store::headerlistex& store = context_.store;
        const auto confined = ConfinedRelativePath(text, context_.settings.progress_log);
        // A missing answer file still refuses the URL.
        if (!confined || SendFileWithoutRecord(store.DataPath(*confined), true) == 0) {
            SendClosingAnswer(ProhibitedPage("200"));
        }
    }
    return kAnswerClose;
}

}  // namespace kelvra::server
