#include "net/ftputils.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <limits>

#include "net/inetutils.h"
#include "net/result_codes.h"
#include "net/url.h"
#include "platform/ownedfile.h"
#include "util/ascii.h"
#include "util/header.h"
#include "util/httpdate.h"

namespace kelvra::net {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr int kClassPreliminary = 1;
constexpr int kClassComplete = 2;
constexpr int kClassIntermediate = 3;
constexpr int kClassPermanentFailure = 5;
constexpr int kUnavailable = 550;  // RFC 959 §4.2: file not found, no access

// The last line of a complete reply text (without its line end).
std::string_view LastLine(std::string_view reply) {
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.remove_suffix(1);
    std::size_t lf = reply.rfind('\n');
    return lf == std::string_view::npos ? reply : reply.substr(lf + 1);
}

// The user and password parts of the URL's "user:password@", if any.
struct UrlLogin {
    bool has_user = false;
    bool has_password = false;
    std::string_view user;
    std::string_view password;
};

UrlLogin LoginOf(std::string_view url) {
    UrlLogin login;
    std::string_view info = SplitUrl(url).user_info;
    if (info.empty()) return login;
    std::size_t colon = info.find(':');
    login.has_user = true;
    login.user = info.substr(0, colon);
    if (colon != std::string_view::npos) {
        login.has_password = true;
        login.password = info.substr(colon + 1);
    }
    return login;
}

// The reply code of a reply's last line: 100..999, or 0.
int ReplyCode(std::string_view line) {
    if (line.size() < 3 || !util::IsDigit(line[0]) || !util::IsDigit(line[1]) ||
        !util::IsDigit(line[2]))
        return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// 500-504: the server does not know or does not implement the command (RFC 959 §4.2), as
// opposed to refusing it for this path.
bool CommandUnknown(int code) {
    return code >= 500 && code <= 504;
}

// The path as the server names it: URL escapes decoded (RFC 1738 §3.2.2), so that a name
// linked as "a%20b.txt" is asked for as "a b.txt". A path that would then hold a line end or
// NUL cannot be carried by a command (and must not end one early); bad is set for it.
std::string CommandPath(std::string_view path, bool& bad) {
    std::string decoded;
    for (std::size_t i = 0; i < path.size(); ++i) {
        int high = i + 2 < path.size() && path[i] == '%' ? util::HexDigitValue(path[i + 1]) : -1;
        int low = high >= 0 ? util::HexDigitValue(path[i + 2]) : -1;
        if (low < 0) {
            decoded += path[i];
            continue;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    bad = decoded.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos;
    return decoded;
}

// RFC 2389 §3.2: each feature on its own line after a blank; MLST implies MLSD (RFC 3659 §7).
bool OffersMachineListing(std::string_view reply) {
    for (std::size_t at = reply.find('\n'); at != std::string_view::npos;
         at = reply.find('\n', at + 1)) {
        std::string_view line = reply.substr(at + 1, 6);
        if (line.size() < 5) continue;
        std::string word(line.substr(0, 5));
        for (char& c : word) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        bool named = word == " MLST" || word == " MLSD";
        if (named && (line.size() == 5 || line[5] == ' ' || line[5] == '\r')) return true;
    }
    return false;
}

const char* ListCommand(FtpListFormat format) {
    switch (format) {
        case FtpListFormat::kMachine:
            return "MLSD ";
        case FtpListFormat::kLong:
            return "LIST ";
        case FtpListFormat::kNames:
            return "NLST ";
    }
    return "NLST ";
}

int DataWaitMs(int timeout_seconds) {
    return (timeout_seconds > 0 ? timeout_seconds : kDefaultDataWaitSeconds) * 1000;
}

// The port of a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" reply; 0 when unreadable.
int PassivePort(std::string_view reply) {
    std::size_t open = reply.find('(');
    if (open == std::string_view::npos) return 0;
    int values[6] = {};
    std::size_t at = open + 1;
    for (int& value : values) {
        if (at >= reply.size() || !util::IsDigit(reply[at])) return 0;
        value = 0;
        while (at < reply.size() && util::IsDigit(reply[at]) && value <= 255) {
            value = value * 10 + (reply[at++] - '0');
        }
        if (value > 255) return 0;
        if (at < reply.size() && reply[at] == ',') ++at;
    }
    return values[4] * 256 + values[5];
}

}  // namespace

// ---- parsing --------------------------------------------------------------------------------

int ScanReply(std::string_view data, std::size_t& length) {
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t lf = data.find('\n', start);
        if (lf == std::string_view::npos) return 0;
        std::string_view line = data.substr(start, lf - start);
        start = lf + 1;
        bool last = line.size() >= 4 && line[0] >= '1' && line[0] <= '9' && line[3] == ' ';
        if (last) {
            length = start;
            return line[0] - '0';
        }
    }
    return 0;
}

std::time_t UtcTime(const std::tm& utc) {
    if (utc.tm_year < 70 || utc.tm_year > 8000 || utc.tm_mon < 0 || utc.tm_mon > 11 ||
        utc.tm_mday < 1 || utc.tm_mday > 31 || utc.tm_hour < 0 || utc.tm_hour > 23 ||
        utc.tm_min < 0 || utc.tm_min > 59 || utc.tm_sec < 0 || utc.tm_sec > 60) {
        return 0;
    }
    std::tm copy = utc;
    std::time_t t = ::timegm(&copy);
    return t > 0 ? t : 0;
}

std::time_t ParseModificationTime(std::string_view reply) {
    std::string digits;
    for (std::size_t i = 4; i < reply.size() && digits.size() < kModificationDigits; ++i) {
        if (util::IsDigit(reply[i])) {
            digits += reply[i];
        } else {
            digits.clear();
        }
    }
    if (digits.size() < kModificationDigits) return 0;
    auto number = [&digits](std::size_t from, std::size_t count) {
        return std::stoi(digits.substr(from, count));
    };
    std::tm utc{};
    utc.tm_year = number(0, 4) - 1900;
    utc.tm_mon = number(4, 2) - 1;
    utc.tm_mday = number(6, 2);
    utc.tm_hour = number(8, 2);
    utc.tm_min = number(10, 2);
    utc.tm_sec = number(12, 2);
    return UtcTime(utc);
}

namespace {

// The decimal number at the start of text (after blanks); -1 when none or too large.
std::int64_t LeadingDecimal(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && text[at] == ' ') ++at;
    if (at >= text.size() || !util::IsDigit(text[at])) return -1;
    std::int64_t value = 0;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    for (; at < text.size() && util::IsDigit(text[at]); ++at) {
        int digit = text[at] - '0';
        if (value > (kMax - digit) / 10) return -1;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

std::int64_t ParseFileSize(std::string_view reply) {
    return reply.size() > 4 ? LeadingDecimal(reply.substr(4)) : -1;
}

// ---- transport ------------------------------------------------------------------------------

bool SharedTransport::Connect(int fd, const sockaddr_in& peer) {
    return target_.Connect(fd, peer);
}

ChannelCode SharedTransport::Established(int fd) {
    return target_.Established(fd);
}

long SharedTransport::Send(int fd, const char* data, std::size_t length) {
    return target_.Send(fd, data, length);
}

long SharedTransport::Receive(int fd, char* data, std::size_t capacity, bool dont_wait) {
    return target_.Receive(fd, data, capacity, dont_wait);
}

int SharedTransport::Wait(int fd, short events, int timeout_ms) {
    return target_.Wait(fd, events, timeout_ms);
}

int SharedTransport::Peek(int fd) {
    return target_.Peek(fd);
}

int SharedTransport::Close(int fd) {
    return target_.Close(fd);
}

void SharedTransport::AwaitAnswer() {
    target_.AwaitAnswer();
}

// ---- connection and log-in ------------------------------------------------------------------

ftputils::ftputils(inetutils& owner, std::unique_ptr<Transport> transport)
    : TCPIPClient(std::move(transport)), owner_(owner) {}

ftputils::~ftputils() {
    CloseListener();
}

void ftputils::SetDefaultLogin(std::string user, std::string password) {
    default_user_ = user.empty() ? "anonymous" : std::move(user);
    default_password_ = std::move(password);
}

ChannelCode ftputils::Close() {
    input_.clear();
    logged_in_user_.clear();
    features_ = Features::kUnknown;
    return TCPIPClient::Close();
}

bool ftputils::Command(std::string_view text) {
    ChannelCode code = ChannelCode::kOk;
    return SendAll(text.data(), text.size(), code);
}

int ftputils::CommandReply(std::string_view text) {
    return Command(text) ? ReadReply() : 0;
}

// Every reply has the time-out to itself: a dialogue of many short replies may take longer.
int ftputils::ReadReply(std::size_t block_size) {
    transport().AwaitAnswer();
    reply_.clear();
    std::string block(block_size, '\0');
    for (;;) {
        std::size_t length = 0;
        int reply_class = ScanReply(input_, length);
        if (reply_class != 0) {
            reply_.assign(input_, 0, length);
            input_.erase(0, length);
            return reply_class;
        }
        if (input_.size() > kMaxReplyBytes) return 0;
        const Received received = Receive(block.data(), block.size());
        if (!received.Got()) return 0;
        input_.append(block.data(), static_cast<std::size_t>(received.count));
    }
}

std::string ftputils::UserCommand(std::string_view url) const {
    UrlLogin login = LoginOf(url);
    return "USER " + std::string(login.has_user ? login.user : default_user_) + std::string(kCrLf);
}

std::string ftputils::PassCommand(std::string_view url) const {
    UrlLogin login = LoginOf(url);
    std::string_view password = login.has_password ? login.password : default_password_;
    return "PASS " + std::string(password) + std::string(kCrLf);
}

// A kept control connection serves the next file only when it was logged in as the same
// user and the server has neither closed it nor said anything since (a 421 before closing).
bool ftputils::ReusableFor(std::string_view user) {
    return logged_in_user_ == user && input_.empty() && Peek(0) == 0;
}

bool ftputils::Login(std::string_view url) {
    if (WasReused()) return true;
    input_.clear();
    if (ReadReply() != kClassComplete) return false;
    int reply = CommandReply(UserCommand(url));
    if (reply == kClassIntermediate) reply = CommandReply(PassCommand(url));
    if (reply != kClassComplete) return false;
    logged_in_user_ = UserCommand(url);
    return true;
}

void ftputils::ParseConditions(std::string_view extra) {
    if_modified_since_ = 0;
    restart_offset_ = 0;
    // A listing has neither a date nor a length to resume from: it is read afresh each time.
    if (listing_) return;
    std::string_view since = util::FindHeader(extra, "If-Modified-Since:");
    if (!since.empty()) {
        if_modified_since_ = UtcTime(util::ParseHttpDate(since));
        return;
    }
    std::string_view range = util::FindHeader(extra, "Range:");
    if (!range.starts_with("bytes=")) return;
    restart_offset_ = std::max<std::int64_t>(0, LeadingDecimal(range.substr(6)));
}

ChannelCode ftputils::FtpRequest(std::string_view url, std::string_view extra, bool head_only) {
    SetTimeout(owner_.Timeout());
    std::string host;
    int port = GetHostAndPort(url, host);
    if (port == 0) port = kFtpPort;
    std::uint32_t address = ResolveHost(host.c_str());
    if (address == 0) return ChannelCode::kHostUnknown;
    bool same_server = address == LastAddress() && port == LastPort();
    if (ControlOpen() && !(same_server && ReusableFor(UserCommand(url)))) Quit();
    const ChannelCode code = Connect(address, port, false);
    if (code != ChannelCode::kOk) return code;
    if (!Login(url)) {
        Close();
        return ChannelCode::kConnectFailed;
    }
    url_ = std::string(url);
    path_ = CommandPath(GetPath(url), bad_path_);
    listing_ = path_.ends_with('/');
    head_only_ = head_only;
    ParseConditions(extra);
    return ChannelCode::kOk;
}

void ftputils::Quit() {
    CloseListener();
    if (!ControlOpen()) return;
    // Whatever the reply says, the connection closes.
    if (Command("QUIT\r\n")) static_cast<void>(ReadReply());
    Close();
}

// ---- retrieval ------------------------------------------------------------------------------

int ftputils::Retrieve(std::int64_t& size, std::time_t& mtime) {
    size = -1;
    mtime = 0;
    data_open_ = false;
    extra_header_.clear();
    body_.clear();
    int status = 0;
    if (bad_path_) {
        status = kFtpMissing;
    } else if (listing_ && head_only_) {
        // An update check of a listing asks nothing: the listing has no date to compare.
        status = kFtpOk;
    }
    Step step = Step::kType;
    while (status == 0) {
        switch (step) {
            case Step::kType:
                step = DoType(status);
                break;
            case Step::kFeatures:
                step = DoFeatures(status);
                break;
            case Step::kModifiedTime:
                step = DoModifiedTime(status, mtime);
                break;
            case Step::kSize:
                step = DoSize(status, size);
                break;
            case Step::kPort:
                step = DoPort(status);
                break;
            case Step::kPassive:
                step = DoPassive(status);
                break;
            case Step::kRestart:
                step = DoRestart(status);
                break;
            case Step::kRetrieve:
                step = DoRetrieve(status);
                break;
            case Step::kChangeDirectory:
                step = DoChangeDirectory(status);
                break;
            case Step::kList:
                step = DoList(status);
                break;
            case Step::kAccept:
                step = DoAccept(status);
                break;
            case Step::kReadListing:
                step = DoReadListing(status, size);
                break;
        }
    }
    CloseListener();
    return status;
}

// Listings go in ASCII type (RFC 959 §3.1.1.1), files as images.
ftputils::Step ftputils::DoType(int& status) {
    if (CommandReply(listing_ ? "TYPE A\r\n" : "TYPE I\r\n") != kClassComplete) {
        status = kFtpFailed;
    }
    return listing_ ? Step::kFeatures : Step::kModifiedTime;
}

ftputils::Step ftputils::DoFeatures(int& status) {
    if (features_ == Features::kUnknown) {
        int reply = CommandReply("FEAT\r\n");
        if (reply == 0) {
            status = kFtpFailed;
            return Step::kFeatures;
        }
        bool machine = reply == kClassComplete && OffersMachineListing(reply_);
        features_ = machine ? Features::kMachineListing : Features::kPlain;
    }
    list_format_ =
        features_ == Features::kMachineListing ? FtpListFormat::kMachine : FtpListFormat::kLong;
    return Step::kPort;
}

ftputils::Step ftputils::DoModifiedTime(int& status, std::time_t& mtime) {
    int reply = CommandReply("MDTM " + path_ + std::string(kCrLf));
    if (reply == 0) {
        status = kFtpFailed;
    } else if (reply == kClassComplete) {
        mtime = ParseModificationTime(LastLine(reply_));
        if (mtime > 0 && if_modified_since_ > 0 && mtime <= if_modified_since_) {
            status = kFtpNotModified;
        }
    }
    return Step::kSize;
}

// An update check ends here: date and size are all it needs, nothing is transferred.
ftputils::Step ftputils::DoSize(int& status, std::int64_t& size) {
    int reply = CommandReply("SIZE " + path_ + std::string(kCrLf));
    if (reply == 0) status = kFtpFailed;
    if (reply == kClassComplete) size = ParseFileSize(LastLine(reply_));
    if (status == 0 && head_only_) status = kFtpOk;
    return Step::kPort;
}

ftputils::Step ftputils::DoPort(int& status) {
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    if (::getsockname(Socket(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        status = kFtpFailed;
        return Step::kPort;
    }
    // Non-blocking, so that accepting never waits once the wait for the connection is over.
    platform::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    local.sin_port = 0;
    length = sizeof(local);
    if (listener.get() < 0 ||
        ::bind(listener.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        ::listen(listener.get(), kDataBacklog) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        status = kFtpFailed;
        return Step::kPort;
    }
    std::uint32_t address = ntohl(local.sin_addr.s_addr);
    int port = ntohs(local.sin_port);
    char command[64];
    std::snprintf(command, sizeof(command), "PORT %u,%u,%u,%u,%d,%d\r\n", (address >> 24) & 0xFF,
                  (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF, port >> 8,
                  port & 0xFF);
    int reply = CommandReply(command);
    if (reply == 0) {
        status = kFtpFailed;
        return Step::kPort;
    }
    if (reply != kClassComplete) return Step::kPassive;
    listen_fd_ = listener.release();
    return TransferStep();
}

// Many servers and firewalls refuse active mode. The data connection goes to the control
// connection's peer whatever address the reply names (no third-party transfers).
ftputils::Step ftputils::DoPassive(int& status) {
    int port = CommandReply("PASV\r\n") == kClassComplete ? PassivePort(LastLine(reply_)) : 0;
    if (port <= 0) {
        status = kFtpFailed;
        return Step::kPassive;
    }
    TCPIPClient data(std::make_unique<SharedTransport>(transport()));
    data.SetTimeout(Timeout() > 0 ? Timeout() : kDefaultDataWaitSeconds);
    if (data.Connect(LastAddress(), port, false) != ChannelCode::kOk) {
        status = kFtpFailed;
        return Step::kPassive;
    }
    passive_fd_ = data.ReleaseSocket();
    return TransferStep();
}

ftputils::Step ftputils::DoRestart(int& status) {
    if (restart_offset_ <= 0) return Step::kRetrieve;
    int reply = CommandReply("REST " + std::to_string(restart_offset_) + std::string(kCrLf));
    if (reply == 0) status = kFtpFailed;
    if (reply != kClassIntermediate) restart_offset_ = 0;
    return Step::kRetrieve;
}

ftputils::Step ftputils::DoRetrieve(int& status) {
    int reply = CommandReply("RETR " + path_ + std::string(kCrLf));
    if (reply == 0) {
        status = kFtpFailed;
    } else if (reply == kClassPermanentFailure && ReplyCode(LastLine(reply_)) == kUnavailable) {
        return Step::kChangeDirectory;
    } else if (reply != kClassPreliminary) {
        status = kFtpMissing;
    }
    return Step::kAccept;
}

// A name that cannot be retrieved but can be entered is a directory named without its '/':
// it moves to the '/' form, as a web server answers such a request. All paths are absolute,
// so the changed working directory affects no later command.
ftputils::Step ftputils::DoChangeDirectory(int& status) {
    int reply = CommandReply("CWD " + path_ + std::string(kCrLf));
    if (reply != kClassComplete) {
        status = reply == 0 ? kFtpFailed : kFtpMissing;
        return Step::kChangeDirectory;
    }
    std::string location = url_;
    location.insert(PathEnd(location), "/");
    extra_header_ = "Location: " + location + std::string(kCrLf);
    status = kFtpMoved;
    return Step::kChangeDirectory;
}

// A server that does not know the command gets the next, plainer one on a new data
// connection; a refusal for this path (550) means there is no such directory.
ftputils::Step ftputils::DoList(int& status) {
    int reply = CommandReply(ListCommand(list_format_) + path_ + std::string(kCrLf));
    if (reply == kClassPreliminary) return Step::kAccept;
    if (reply == 0) {
        status = kFtpFailed;
    } else if (CommandUnknown(ReplyCode(LastLine(reply_))) &&
               list_format_ != FtpListFormat::kNames) {
        list_format_ =
            list_format_ == FtpListFormat::kMachine ? FtpListFormat::kLong : FtpListFormat::kNames;
        CloseListener();
        return Step::kPort;
    } else {
        status = kFtpMissing;
    }
    return Step::kList;
}

ftputils::Step ftputils::DoAccept(int& status) {
    if (!AcceptDataConnection()) {
        status = kFtpFailed;
        return Step::kAccept;
    }
    data_open_ = true;
    if (listing_) return Step::kReadListing;
    status = restart_offset_ > 0 ? kFtpPartial : kFtpOk;
    return Step::kAccept;
}

// The data connection is taken only from the control connection's peer: a connection from
// anywhere else is dropped and the wait goes on until the time-out. The wait goes through the
// transport, so that an interrupted slot stops waiting at once.
bool ftputils::AcceptDataConnection() {
    if (passive_fd_ >= 0) {
        owner_.TakeDataConnection(passive_fd_);
        passive_fd_ = -1;
        return true;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(DataWaitMs(Timeout()));
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        if (transport().Wait(listen_fd_, POLLIN, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        sockaddr_in peer{};
        socklen_t length = sizeof(peer);
        int accepted =
            ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (accepted < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return false;
        }
        if (peer.sin_addr.s_addr != LastAddress()) {
            ::close(accepted);
            continue;
        }
        owner_.TakeDataConnection(accepted);
        return true;
    }
}

// The listing arrives through the owner's channel like a body, but is kept in memory: the
// response body is the page made from it.
bool ftputils::ReceiveListing(std::string& data) {
    owner_.SetTee(false);
    std::string block(kReplyBlockSize * 16, '\0');
    for (;;) {
        const Received received = owner_.Receive(block.data(), block.size());
        if (!received.Got()) return received.PeerClosed();
        data.append(block.data(), static_cast<std::size_t>(received.count));
        if (data.size() > kMaxListingBytes) return false;
    }
}

// A LIST in a form other than the Unix one gives no entries: the names alone (NLST) then.
ftputils::Step ftputils::DoReadListing(int& status, std::int64_t& size) {
    std::string data;
    bool received = ReceiveListing(data);
    owner_.TakeDataConnection(-1);
    data_open_ = false;
    if (ReadReply(kCompletionBlockSize) != kClassComplete || !received) {
        status = kFtpFailed;
        return Step::kReadListing;
    }
    FtpListing listing = ParseFtpListing(data, list_format_);
    if (listing.entries.empty() && listing.unreadable > 0 && list_format_ == FtpListFormat::kLong) {
        list_format_ = FtpListFormat::kNames;
        return Step::kPort;
    }
    body_ = ListingPage(path_, listing.entries);
    extra_header_ = "Content-type: text/html\r\n";
    size = static_cast<std::int64_t>(body_.size());
    status = kFtpOk;
    return Step::kReadListing;
}

void ftputils::CloseListener() {
    if (listen_fd_ >= 0) transport().Close(listen_fd_);
    listen_fd_ = -1;
    if (passive_fd_ >= 0) transport().Close(passive_fd_);
    passive_fd_ = -1;
}

// ---- the synthetic response -----------------------------------------------------------------

ResponseStatus ftputils::SyntheticResponse() {
    std::int64_t size = -1;
    std::time_t mtime = 0;
    int status = Retrieve(size, mtime);
    const bool body_in_memory = !body_.empty();
    if (size > 0 && !body_in_memory) size = std::max<std::int64_t>(0, size - restart_offset_);

    char line[64];
    std::snprintf(line, sizeof(line), "HTTP/1.0 %03d OK(via ftputil)\r\n", status);
    std::string header = line + extra_header_;
    if (size > 0) header += "Content-length: " + std::to_string(size) + "\r\n";
    if (mtime > 0) {
        std::tm utc{};
        ::gmtime_r(&mtime, &utc);
        header += "Last-modified: " + util::FormatHttpDate(utc) + "\r\n";
    }
    header += "\r\n";

    owner_.Reset(kHeaderComplete);
    HttpMessageBuffer& buffer = owner_.Buffer();
    std::copy(header.begin(), header.end(), buffer.raw.begin());
    buffer.header_length = header.size();
    buffer.filled = header.size();
    buffer.status_token = std::to_string(status);
    // Without a data connection (304, 404, 400, an update check) there is no body to wait
    // for, except a listing's page.
    if (body_in_memory) {
        buffer.content_length = size;
    } else {
        buffer.content_length = data_open_ ? (size > 0 ? size : -1) : 0;
    }
    buffer.remaining = buffer.content_length;
    buffer.keep_alive = size > 0;
    if (!owner_.OpenTempFile() || !owner_.AppendToTemp(header.data(), header.size())) {
        return {0, ChannelCode::kTempFileFailed};
    }
    // The page is read from the channel like any body, into the temporary file after the
    // header.
    if (body_in_memory) owner_.Unread(body_.data(), body_.size());
    return {status};
}

bool ftputils::FinishTransfer() {
    if (!ControlOpen()) return false;
    if (!data_open_) return true;
    data_open_ = false;
    owner_.TakeDataConnection(-1);
    return ReadReply(kCompletionBlockSize) == kClassComplete;
}

}  // namespace kelvra::net
