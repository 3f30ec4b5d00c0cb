#pragma once
// The FTP client of one worker slot (RFC 959): the control connection, log-in, and the
// retrieval of one file over a data connection, presented to the rest of the engine as an
// HTTP/1.0 response header followed by the file data in the owner's channel.
//
// The control connection stays open between files of the same server, so log-in happens
// once per slot and server. Each file uses a new data connection: active mode (PORT) as
// usual, and passive mode (PASV) once when the server refuses PORT.
//
// A path ending in '/' names a directory: its listing (MLSD where the server offers it, else
// LIST, else NLST) is answered as a small HTML page of links, so the crawl descends into the
// tree as into a web site. A name that cannot be retrieved but can be entered is a directory
// too, and is answered with a redirection to its '/' form.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "net/ftplisting.h"
#include "net/tcpip.h"

namespace kelvra::net {

class inetutils;

inline constexpr std::size_t kReplyBlockSize = 512;       // control replies are read in these
inline constexpr std::size_t kCompletionBlockSize = 256;  // the reply after a transfer
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;  // a longer reply fails
inline constexpr int kDataBacklog = 5;
// A data connection is never awaited longer than the channel's time-out; without one, this.
inline constexpr int kDefaultDataWaitSeconds = 60;
inline constexpr std::size_t kModificationDigits = 14;  // YYYYMMDDHHMMSS

// HTTP-style results of Retrieve.
enum FtpStatus {
    kFtpOk = 200,
    kFtpPartial = 206,
    kFtpMoved = 301,  // a directory named without its trailing '/'
    kFtpNotModified = 304,
    kFtpFailed = 400,
    kFtpMissing = 404,
};

// Scans received control bytes for the end of one reply. A reply line starts with a class
// digit 1-9 and two more bytes; a blank as its fourth byte marks the last line, anything else
// (and any line not of that form) a continuation. Returns the class digit of the last line
// once it is complete (its line feed seen), with length set to the bytes up to and including
// that line feed; 0 while the reply is still incomplete.
int ScanReply(std::string_view data, std::size_t& length);

// The modification time of an MDTM reply (RFC 3659 §3): digits collected from the fifth byte
// on, at most 14, a non-digit restarting the collection, read as YYYYMMDDHHMMSS in UTC.
// 0 when the reply holds no valid time.
std::time_t ParseModificationTime(std::string_view reply);
// The size of a SIZE reply (RFC 3659 §4): the decimal number after the fourth byte; -1 when
// there is none or it does not fit.
std::int64_t ParseFileSize(std::string_view reply);
// Seconds since the epoch for a broken-down UTC time; 0 when a field is out of range.
std::time_t UtcTime(const std::tm& utc);

// A transport that forwards to one owned elsewhere. The FTP control and data connections go
// through the transport of the owner's channel, so that what that transport adds (a worker
// slot's interruption and stall guard) holds for them as well.
class SharedTransport final : public Transport {
  public:
    explicit SharedTransport(Transport& target) : target_(target) {}
    bool Connect(int fd, const sockaddr_in& peer) override;
    ChannelCode Established(int fd) override;
    long Send(int fd, const char* data, std::size_t length) override;
    long Receive(int fd, char* data, std::size_t capacity, bool dont_wait) override;
    int Wait(int fd, short events, int timeout_ms) override;
    int Peek(int fd) override;
    int Close(int fd) override;
    void AwaitAnswer() override;

  private:
    Transport& target_;
};

class ftputils : public TCPIPClient {
  public:
    explicit ftputils(inetutils& owner, std::unique_ptr<Transport> transport = nullptr);
    ~ftputils() override;

    // Default log-in: user (empty: "anonymous") and password (may be empty).
    void SetDefaultLogin(std::string user, std::string password);

    // Connects (reusing an open control connection to the same server and user) and logs in.
    // kOk, kHostUnknown, kConnectFailed (log-in failed) or a connect code. With
    // head_only the next SyntheticResponse reports date and size without retrieving anything.
    [[nodiscard]] virtual ChannelCode FtpRequest(std::string_view url, std::string_view extra,
                                                 bool head_only = false);
    // Retrieves the file and puts the response header in place in the owner: the status of
    // Retrieve, or no status with kTempFileFailed.
    [[nodiscard]] virtual ResponseStatus SyntheticResponse();
    // "QUIT" on an open control connection, its reply, close.
    virtual void Quit();
    // Reads one whole reply into LastReply (blocks of up to block_size bytes); the class
    // digit of its last line, 0 when receiving failed.
    [[nodiscard]] virtual int ReadReply(std::size_t block_size = kReplyBlockSize);
    virtual std::string UserCommand(std::string_view url) const;
    virtual std::string PassCommand(std::string_view url) const;

    // TYPE, MDTM, SIZE, PORT (or PASV), REST, RETR and the data connection: 200, 206, 304,
    // 400 or 404, with the size (-1 unknown) and modification time (0 unknown); 301 for a
    // directory named without its '/'. For a directory path the listing is read instead and
    // kept as the response body (size is its length).
    [[nodiscard]] int Retrieve(std::int64_t& size, std::time_t& mtime);
    // After the body: closes a still open data connection and reads the completion reply.
    // True when the control connection is in a state to be used for the next file.
    [[nodiscard]] bool FinishTransfer();
    ChannelCode Close() override;

    bool ControlOpen() const { return !TCPIPClient::IsClosed(); }
    bool DataOpen() const { return data_open_; }
    const std::string& LastReply() const { return reply_; }
    // The path as the server names it (URL escapes decoded).
    const std::string& Path() const { return path_; }
    std::time_t IfModifiedSince() const { return if_modified_since_; }
    std::int64_t RestartOffset() const { return restart_offset_; }

  private:
    enum class Step {
        kType,
        kFeatures,
        kModifiedTime,
        kSize,
        kPort,
        kPassive,
        kRestart,
        kRetrieve,
        kChangeDirectory,
        kList,
        kAccept,
        kReadListing,
    };
    // What the server said of RFC 3659's MLSD, asked once per control connection.
    enum class Features { kUnknown, kMachineListing, kPlain };

    [[nodiscard]] bool Login(std::string_view url);
    [[nodiscard]] bool Command(std::string_view text);
    [[nodiscard]] int CommandReply(std::string_view text);
    void ParseConditions(std::string_view extra);
    bool ReusableFor(std::string_view user);

    // One function per Retrieve step: the next step, or a final status through status.
    Step DoType(int& status);
    Step DoFeatures(int& status);
    Step DoModifiedTime(int& status, std::time_t& mtime);
    Step DoSize(int& status, std::int64_t& size);
    Step DoPort(int& status);
    Step DoPassive(int& status);
    Step DoRestart(int& status);
    Step DoRetrieve(int& status);
    Step DoChangeDirectory(int& status);
    Step DoList(int& status);
    Step DoAccept(int& status);
    Step DoReadListing(int& status, std::int64_t& size);
    // The step after the data connection is prepared: the listing or the file's transfer.
    Step TransferStep() const { return listing_ ? Step::kList : Step::kRestart; }
    [[nodiscard]] bool AcceptDataConnection();
    [[nodiscard]] bool ReceiveListing(std::string& data);
    void CloseListener();

    inetutils& owner_;
    std::string default_user_ = "anonymous";
    std::string default_password_;
    std::string logged_in_user_;
    std::string url_;
    std::string path_;
    bool head_only_ = false;
    bool listing_ = false;   // the path names a directory
    bool bad_path_ = false;  // the decoded path cannot be put into a command
    Features features_ = Features::kUnknown;
    FtpListFormat list_format_ = FtpListFormat::kLong;
    std::string extra_header_;  // further header lines of the synthetic response
    std::string body_;          // a listing page, delivered as the response body
    std::time_t if_modified_since_ = 0;
    std::int64_t restart_offset_ = 0;
    std::string input_;  // received control bytes not yet taken as a reply
    std::string reply_;
    int listen_fd_ = -1;
    int passive_fd_ = -1;  // connected data socket of passive mode, until RETR is accepted
    bool data_open_ = false;
};

}  // namespace kelvra::net
