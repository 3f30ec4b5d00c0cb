#include "net/tcpip.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/result_codes.h"

namespace kelvra::net {

namespace {

constexpr int kConnectPeriodMs = 50;
constexpr int kPeriodsPerSecond = 1000 / kConnectPeriodMs;

int MicrosToMillis(long timeout_us) {
    if (timeout_us < 0) return -1;
    return static_cast<int>((timeout_us + 999) / 1000);
}

std::string TempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return (dir != nullptr && *dir != '\0') ? dir : "/tmp";
}

}  // namespace

TCPIPClass::TCPIPClass(std::unique_ptr<Transport> transport)
    : transport_(transport ? std::move(transport) : std::make_unique<PlainTransport>()) {}

TCPIPClass::~TCPIPClass() {
    TCPIPClass::Close();
    TCPIPClass::CloseTempFile();
    if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
}

bool TCPIPClass::LastWaitReady() const {
    return last_wait_ready_;
}

bool TCPIPClass::IsClosed() const {
    return socket_ < 0;
}

bool TCPIPClass::SendAll(const char* data, std::size_t length, ChannelCode& code) {
    code = ChannelCode::kOk;
    while (length > 0) {
        long sent = socket_ < 0 ? -1 : transport_->Send(socket_, data, length);
        if (sent <= 0) {
            code = ChannelCode::kSendFailed;
            return false;
        }
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

Received TCPIPClass::Receive(char* buffer, std::size_t capacity) {
    const Received received = held_back_.empty() ? ReceiveFromSocket(buffer, capacity)
                                                 : ReceiveHeldBack(buffer, capacity);
    if (!received.Got()) return received;
    if (tee_ && !AppendToTemp(buffer, static_cast<std::size_t>(received.count))) {
        return {0, ChannelCode::kTempFileFailed};
    }
    return received;
}

Received TCPIPClass::ReceiveHeldBack(char* buffer, std::size_t capacity) {
    std::size_t count = std::min(capacity, held_back_.size());
    std::memcpy(buffer, held_back_.data(), count);
    held_back_.erase(0, count);
    return {static_cast<long>(count), ChannelCode::kOk};
}

Received TCPIPClass::ReceiveFromSocket(char* buffer, std::size_t capacity) {
    if (socket_ < 0) return {0, ChannelCode::kReceiveFailed};
    long n = -2;
    if (timeout_ >= 1) {
        // Data is usually there already; wait only when it is not.
        n = transport_->Receive(socket_, buffer, capacity, true);
        if (n == -2) {
            int ready = Wait(true, false, static_cast<long>(timeout_) * 1000000L);
            if (ready <= 0)
                return {0, ready == 0 ? ChannelCode::kTimedOut : ChannelCode::kReceiveFailed};
        }
    }
    if (n == -2) n = transport_->Receive(socket_, buffer, capacity, false);
    if (n < 0) return {0, ChannelCode::kReceiveFailed};
    return {n, ChannelCode::kOk};
}

ChannelCode TCPIPClass::Close() {
    held_back_.clear();
    if (socket_ < 0) return ChannelCode::kOk;
    int rc = transport_->Close(socket_);
    socket_ = -1;
    return rc == 0 ? ChannelCode::kOk : ChannelCode::kCloseFailed;
}

void TCPIPClass::Shutdown() {
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
}

int TCPIPClass::Wait(bool read, bool write, long timeout_us) {
    last_wait_ready_ = false;
    if (socket_ < 0) return -1;
    short events = static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
    int revents = transport_->Wait(socket_, events, MicrosToMillis(timeout_us));
    if (revents < 0 || (revents & POLLNVAL)) return -1;
    last_wait_ready_ = revents != 0;
    return last_wait_ready_ ? 1 : 0;
}

int TCPIPClass::Peek(long timeout_us) {
    if (!held_back_.empty()) return 1;
    if (socket_ < 0) return -2;
    // The bytes are most often there already; the look costs less than a wait.
    const int now = transport_->Peek(socket_);
    if (now != 0) {
        last_wait_ready_ = true;
        return now;
    }
    // Without time to wait, a poll could only repeat what the look has just said.
    if (timeout_us == 0) {
        last_wait_ready_ = false;
        return 0;
    }
    int ready = Wait(true, false, timeout_us);
    if (ready < 0) return -2;
    if (ready == 0) return 0;
    return transport_->Peek(socket_);
}

std::string TCPIPClass::TempFileLocation() const {
    if (!temp_path_.empty()) return temp_path_;
    return temp_directory_.empty() ? TempDirectory() : temp_directory_;
}

bool TCPIPClass::MakeTempName() {
    if (!temp_path_.empty()) return true;
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%05x",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this) & 0xFFFFF));
    std::string directory = temp_directory_.empty() ? TempDirectory() : temp_directory_;
    std::string name = directory + "/" + prefix + "XXXXXX";
    std::vector<char> pattern(name.begin(), name.end());
    pattern.push_back('\0');
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) return false;
    temp_file_ = ::fdopen(fd, "w+b");
    if (temp_file_ == nullptr) {
        ::close(fd);
        ::unlink(pattern.data());
        return false;
    }
    temp_path_ = pattern.data();
    return true;
}

bool TCPIPClass::OpenTempFile() {
    if (temp_file_ != nullptr && !temp_touched_ &&
        temp_written_ < static_cast<std::int64_t>(kTempStreamBuffer)) {
        // Nobody asked for the last response (a 304's header, say): its bytes never left the
        // stream's buffer and are dropped there, and the file is still at its start.
        ::__fpurge(temp_file_);
        std::clearerr(temp_file_);
    } else if (temp_file_ != nullptr) {
        // The new response is written over the last one, and what is left of that past the
        // new end is cut off when the file is asked for (TempStream): emptying the file for
        // every response would cost the file system a journal transaction each time, and
        // the next response is mostly as long.
        if (std::fflush(temp_file_) != 0) return false;
        std::rewind(temp_file_);
    } else if (temp_path_.empty()) {
        if (!MakeTempName()) return false;
        temp_size_bound_ = 0;
    } else {
        temp_file_ = std::fopen(temp_path_.c_str(), "w+b");
        if (temp_file_ == nullptr) return false;
        temp_size_bound_ = 0;
    }
    temp_written_ = 0;
    temp_touched_ = false;
    if (!temp_buffer_) {
        temp_buffer_ = std::make_unique_for_overwrite<char[]>(kTempStreamBuffer);
        std::setvbuf(temp_file_, temp_buffer_.get(), _IOFBF, kTempStreamBuffer);
    }
    tee_ = true;
    return true;
}

void TCPIPClass::CloseTempFile() {
    if (temp_file_ == nullptr) return;
    std::fclose(temp_file_);
    temp_file_ = nullptr;
    // The stream's buffer belonged to the closed stream; a reopened stream gets a new one.
    temp_buffer_.reset();
}

std::FILE* TCPIPClass::TempStream() {
    if (temp_file_ != nullptr && !CutOldBytes()) return nullptr;
    return temp_file_;
}

std::FILE* TCPIPClass::ResponseStream() {
    return temp_file_ != nullptr && FlushResponse() ? temp_file_ : nullptr;
}

bool TCPIPClass::FlushTempFile() {
    return temp_file_ == nullptr || FlushResponse();
}

// Every flush of a response, and every hand-out of its stream, goes through here: from then on
// the file, not only the buffer, may hold its bytes (see OpenTempFile).
bool TCPIPClass::FlushResponse() {
    temp_touched_ = true;
    return std::fflush(temp_file_) == 0;
}

// The response is what was appended since the file was reopened; the file is cut only when
// an earlier response may have been longer. Both lengths are counted here rather than asked of
// the file, which would take two system calls per response.
bool TCPIPClass::CutOldBytes() {
    if (!FlushResponse()) return false;
    if (temp_size_bound_ > temp_written_ &&
        ::ftruncate(::fileno(temp_file_), static_cast<off_t>(temp_written_)) != 0) {
        return false;
    }
    temp_size_bound_ = temp_written_;
    return true;
}

bool TCPIPClass::SetBlocking(bool blocking) {
    if (socket_ < 0) return false;
    int flags = ::fcntl(socket_, F_GETFL);
    if (flags < 0) return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(socket_, F_SETFL, flags) == 0;
}

bool TCPIPClass::AppendToTemp(const char* data, std::size_t length) {
    if (temp_file_ == nullptr || length == 0) return true;
    // A failed write may still have written some of it.
    temp_size_bound_ =
        std::max(temp_size_bound_, temp_written_ + static_cast<std::int64_t>(length));
    const std::size_t written = std::fwrite(data, 1, length, temp_file_);
    temp_written_ += static_cast<std::int64_t>(written);
    return written == length;
}

void TCPIPClass::AdoptSocket(int fd) {
    Close();
    socket_ = fd;
}

int TCPIPClass::ReleaseSocket() {
    int fd = socket_;
    socket_ = -1;
    held_back_.clear();
    return fd;
}

bool TCPIPClass::CutTempFile(std::int64_t count) {
    if (temp_file_ == nullptr || count <= 0) return true;
    if (!FlushResponse()) return false;
    off_t end = ::ftello(temp_file_);
    if (end < count) return false;
    off_t cut = end - static_cast<off_t>(count);
    if (::ftruncate(::fileno(temp_file_), cut) != 0 || ::fseeko(temp_file_, cut, SEEK_SET) != 0) {
        return false;
    }
    temp_written_ = temp_size_bound_ = cut;
    return true;
}

void TCPIPClass::Unread(const char* data, std::size_t length) {
    held_back_.insert(0, data, length);
}

ChannelCode TCPIPClient::Connect(std::uint32_t address, int port, bool no_wait) {
    if (address == 0) return ChannelCode::kNoSocket;
    if (address == last_address_ && port == last_port_ && !IsClosed()) {
        reused_ = true;
        return ChannelCode::kOk;
    }
    reused_ = false;
    Close();
    bool started = false;
    ChannelCode code = StartConnection(address, port, started);
    if (code == ChannelCode::kOk && no_wait)
        code = started ? ChannelCode::kOk : ChannelCode::kTimedOut;
    if (code == ChannelCode::kOk && !no_wait)
        code = started ? WaitConnected() : ChannelCode::kConnectFailed;
    if (code != ChannelCode::kOk) {
        Close();
        return code;
    }
    last_address_ = address;
    last_port_ = port;
    return ChannelCode::kOk;
}

ChannelCode TCPIPClient::StartConnection(std::uint32_t address, int port, bool& started) {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) return ChannelCode::kNoSocket;
    if (!SetBlocking(false)) return ChannelCode::kBlockingModeFailed;
    started = transport().Connect(socket_, MakeAddress(address, port));
    if (!SetBlocking(true)) return ChannelCode::kBlockingModeFailed;
    return ChannelCode::kOk;
}

ChannelCode TCPIPClient::WaitConnected() {
    const long periods = Timeout() < 1 ? -1 : static_cast<long>(Timeout()) * kPeriodsPerSecond;
    for (long done = 0; periods < 0 || done < periods; ++done) {
        int ready = Wait(false, true, kConnectPeriodMs * 1000L);
        if (ready < 0) return ChannelCode::kConnectFailed;
        if (ready > 0) return transport().Established(socket_);
    }
    return ChannelCode::kTimedOut;
}

ChannelCode TCPIPClient::Close() {
    last_address_ = 0;
    last_port_ = 0;
    return TCPIPClass::Close();
}

}  // namespace kelvra::net
