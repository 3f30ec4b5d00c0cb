#pragma once
// The TCP channel: one socket and one temporary response file, and the client that connects it
// with a time-out and reuses an open connection to the same peer.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "net/result_codes.h"
#include "net/transport.h"

namespace kelvra::net {

// Buffer size of the temporary response file's stream.
inline constexpr std::size_t kTempStreamBuffer = 64 * 1024;

// What one Receive brought: count bytes (>= 1); none with kOk when the peer closed; or none
// with the failure's channel code (kTimedOut, kReceiveFailed, kTempFileFailed).
struct Received {
    long count = 0;
    ChannelCode code = ChannelCode::kOk;

    bool Got() const { return count > 0; }
    bool PeerClosed() const { return count == 0 && code == ChannelCode::kOk; }
};

// One socket and one temporary response file. While the tee is on, every byte received is also
// appended to the file, so the file ends up holding the raw response.
class TCPIPClass {
  public:
    explicit TCPIPClass(std::unique_ptr<Transport> transport = nullptr);
    virtual ~TCPIPClass();
    TCPIPClass(const TCPIPClass&) = delete;
    TCPIPClass& operator=(const TCPIPClass&) = delete;

    // Whether the last Wait reported the socket ready.
    virtual bool LastWaitReady() const;
    virtual bool IsClosed() const;
    // Sends every byte; false with code kSendFailed when a send fails. Empty data is success.
    [[nodiscard]] virtual bool SendAll(const char* data, std::size_t length, ChannelCode& code);
    [[nodiscard]] virtual Received Receive(char* buffer, std::size_t capacity);
    // Closes the socket (kOk, or kCloseFailed); bytes held back for it are dropped.
    // The socket is released either way, so callers may drop the code: it is for logs.
    virtual ChannelCode Close();
    // Shuts the socket down both ways: blocking I/O on it in another thread returns at once.
    virtual void Shutdown();
    // Waits up to timeout_us microseconds (below 0: no limit) for the socket to become
    // readable and/or writable: 1 ready, 0 time-out, -1 failed.
    [[nodiscard]] virtual int Wait(bool read, bool write, long timeout_us);
    // 1 data waiting, 0 nothing within timeout_us, -1 peer closed, -2 error.
    [[nodiscard]] virtual int Peek(long timeout_us);
    // Creates the temporary file (mkstemp in the temporary directory, five hex digits of this
    // object's identity as prefix). Done once per object; true when the file exists.
    [[nodiscard]] virtual bool MakeTempName();
    // (Re)opens the temporary file for a new response and switches the tee on; the file holds
    // only the new response's bytes from the moment TempStream hands it out.
    [[nodiscard]] virtual bool OpenTempFile();
    virtual void CloseTempFile();
    // The temporary file, positioned where the response written so far ends; nullptr when
    // there is none or its old contents cannot be cut off.
    virtual std::FILE* TempStream();
    // The temporary file flushed but not cut: bytes of an earlier, longer response may follow
    // the ResponseLength bytes of this one, so a reader must stop there. Cutting on every
    // response would free the file's pages for the next one to allocate again.
    std::FILE* ResponseStream();
    std::int64_t ResponseLength() const { return temp_written_; }
    // Whether a temporary file is open, without cutting it as TempStream does.
    bool HasTempFile() const { return temp_file_ != nullptr; }
    // Writes out what the temporary file's stream holds (a full disk shows here); true when
    // there is no file.
    [[nodiscard]] bool FlushTempFile();
    [[nodiscard]] virtual bool SetBlocking(bool blocking);
    // Appends to the temporary file; no open file counts as success.
    [[nodiscard]] virtual bool AppendToTemp(const char* data, std::size_t length);

    int Socket() const { return socket_; }
    // Takes over an already connected socket (an accepted or FTP data connection), closing
    // the current one.
    void AdoptSocket(int fd);
    // Gives up the socket without closing it; returns it (-1 when none).
    int ReleaseSocket();
    void SetTimeout(int seconds) { timeout_ = seconds; }
    int Timeout() const { return timeout_; }
    void SetTee(bool on) { tee_ = on; }
    bool Tee() const { return tee_; }
    const std::string& TempPath() const { return temp_path_; }
    // The temporary response file, or the directory it is made in while there is none.
    std::string TempFileLocation() const;
    // Directory for the temporary file when it is first made ($TMPDIR or /tmp unless set).
    void SetTempDirectory(std::string directory) { temp_directory_ = std::move(directory); }
    // Removes the last count bytes of the temporary file and positions the stream at the new
    // end; false when that fails.
    [[nodiscard]] bool CutTempFile(std::int64_t count);
    // Hands back bytes that were received past the end of a message: the next Receive (and
    // Peek) sees them first, so a following message on a kept connection loses nothing.
    void Unread(const char* data, std::size_t length);
    std::size_t HeldBackBytes() const { return held_back_.size(); }
    Transport& transport() { return *transport_; }

  protected:
    int socket_ = -1;

  private:
    Received ReceiveHeldBack(char* buffer, std::size_t capacity);
    Received ReceiveFromSocket(char* buffer, std::size_t capacity);

    std::unique_ptr<Transport> transport_;
    int timeout_ = 0;
    bool last_wait_ready_ = false;
    std::string temp_directory_;
    std::string temp_path_;
    bool CutOldBytes();
    bool FlushResponse();

    std::FILE* temp_file_ = nullptr;
    // Bytes appended since the file was last reopened, and a length the file cannot exceed:
    // the last response's bytes may lie past the new one's (see OpenTempFile).
    std::int64_t temp_written_ = 0;
    std::int64_t temp_size_bound_ = 0;
    // Whether bytes of this response may have reached the file, or its position moved.
    bool temp_touched_ = false;
    std::unique_ptr<char[]> temp_buffer_;
    bool tee_ = true;
    std::string held_back_;
};

// A channel that connects itself: non-blocking connect waited in 50 ms periods, and reuse of an
// open connection to the same address and port.
class TCPIPClient : public TCPIPClass {
  public:
    using TCPIPClass::TCPIPClass;

    // Connects to address (network byte order) and port. With no_wait the connection is only
    // started. Returns a channel code; an open connection to the same peer is reused.
    [[nodiscard]] virtual ChannelCode Connect(std::uint32_t address, int port, bool no_wait);
    // Waits for a started connection: kOk, kConnectFailed or kTimedOut.
    [[nodiscard]] virtual ChannelCode WaitConnected();
    virtual bool WasReused() const { return reused_; }
    // Also forgets the last peer, so an explicitly closed channel is never reused.
    ChannelCode Close() override;

    std::uint32_t LastAddress() const { return last_address_; }
    int LastPort() const { return last_port_; }

  private:
    ChannelCode StartConnection(std::uint32_t address, int port, bool& started);

    std::uint32_t last_address_ = 0;
    int last_port_ = 0;
    bool reused_ = false;
};

}  // namespace kelvra::net
