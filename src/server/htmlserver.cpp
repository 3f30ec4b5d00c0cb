#include "server/htmlserver.h"

#include "engine/net/result_codes.h"

namespace kelvra::server {
namespace {

// The listener's wait for a connection, and for an idle worker when all are busy.
constexpr long kListenWaitUs = 100000;
constexpr int kIdleWaitMs = 100;

}  // namespace

HtmlServer::HtmlServer(store::headerlistex& store, const ServerSettings& settings,
                       ServerMonitor& monitor, const std::string& prohibit_path)
    : settings_(settings),
      prohibit_(prohibit_path),
      context_{store, settings_, monitor, prohibit_, {}},
      pool_(std::make_unique<ServerProc>(context_)) {}

HtmlServer::~HtmlServer() {
    Stop();
    pool_.reset();
}

bool HtmlServer::Start(int port, std::uint32_t mode, AccessTable access) {
    std::lock_guard lock(control_mutex_);
    if (listener_.joinable()) {
        stop_.store(true);
        listener_.join();
        socket_.reset();
        listening_.store(false);
    }
    pool_->SetMode(mode);
    auto socket = std::make_unique<net::TCPIPServer>();
    socket->SetAccessTable(std::move(access));
    socket->SetBindAddress(settings_.bind_address);
    if (socket->Listen(port, true) != net::kChannelOk) return false;
    // A connection reset between the wait and the accept must not block the listener.
    if (!socket->SetBlocking(false)) return false;
    socket_ = std::move(socket);
    context_.listen_port.store(port);
    stop_.store(false);
    listening_.store(true);
    listener_ = std::thread([this] { Listen(); });
    return true;
}

void HtmlServer::Stop() {
    std::lock_guard lock(control_mutex_);
    stop_.store(true);
    if (listener_.joinable()) listener_.join();
    socket_.reset();
    listening_.store(false);
    context_.listen_port.store(0);
}

void HtmlServer::SetMode(std::uint32_t mode) {
    pool_->SetMode(mode);
}

std::uint32_t HtmlServer::GetMode() const {
    return listening_.load() ? pool_->GetMode() : 0;
}

int HtmlServer::Port() const {
    return listening_.load() ? context_.listen_port.load() : 0;
}

void HtmlServer::Listen() {
    while (!stop_.load()) {
        if (socket_->Wait(true, false, kListenWaitUs) <= 0) continue;
        // Every pending connection is taken at once: the backlog is short, and a full one
        // drops new connections (the browser retries only after a second).
        int dispatched;
        while ((dispatched = pool_->Dispatch(*socket_)) != 0 && !stop_.load()) {
            if (dispatched < 0) pool_->WaitForIdle(kIdleWaitMs);
        }
    }
    socket_->Close();
}

}  // namespace kelvra::server
