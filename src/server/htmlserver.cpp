#include "server/htmlserver.h"

#include "net/result_codes.h"

namespace kelvra::server {
HtmlServer::HtmlServer(store::headerlistex& store, const ServerSettings& settings,
                       ServerMonitor& monitor, const std::string& prohibit_path)
    : settings_(settings),
      prohibit_(prohibit_path),
      context_{store,
               settings_,
               monitor,
               prohibit_,
               {},
               {},
               net::LazyAuthority(settings_.authority_directory),
               StoredFileCache(settings_.stored_file_settle)},
      pool_(std::make_unique<ServerProc>(context_)) {}

HtmlServer::~HtmlServer() {
    Stop();
    pool_.reset();
}

bool HtmlServer::Start(int port, std::uint32_t mode, AccessTable access) {
    std::lock_guard lock(control_mutex_);
    StopListening();
    if (!IsServingMode(mode)) return false;
    pool_->SetMode(mode);
    auto socket = std::make_unique<net::TCPIPServer>();
    socket->SetAccessTable(std::move(access));
    socket->SetBindAddress(settings_.bind_address);
    if (socket->Listen(port, true) != net::ChannelCode::kOk) return false;
    context_.listen_port.store(port);
    if (!pool_->Serve(socket.get())) {
        context_.listen_port.store(0);
        return false;
    }
    socket_ = std::move(socket);
    listening_.store(true);
    return true;
}

void HtmlServer::Stop() {
    std::lock_guard lock(control_mutex_);
    StopListening();
}

void HtmlServer::StopListening() {
    pool_->Serve(nullptr);
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

}  // namespace kelvra::server
