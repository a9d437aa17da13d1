#include "modbuslib/LineServer.h"

#include "modbuslib/Library.h"
#include "modbuslib/LineClient.h"

namespace mbl {

namespace {
constexpr int kLogBurst = 10;
constexpr std::chrono::seconds kLogWindow{10};
}  // namespace

LineServer::LineServer(asio::io_context& io, std::weak_ptr<Connection> line, std::string context,
                       LineLimits limits)
    : acceptor_(io), line_(std::move(line)), context_(std::move(context)), limits_(limits) {}

uint16_t LineServer::listen(const std::string& bindAddress, uint16_t port, std::string& why) {
  asio::error_code ec;
  const auto address = asio::ip::make_address(bindAddress, ec);
  if (ec) {
    why = "not an address: " + bindAddress;
    return 0;
  }
  const asio::ip::tcp::endpoint endpoint(address, port);
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    why = "cannot listen on " + bindAddress + ":" + std::to_string(port) + ": " + ec.message();
    return 0;
  }
  return acceptor_.local_endpoint().port();
}

void LineServer::start() {
  asio::post(acceptor_.get_executor(), [self = shared_from_this()] { self->accept(); });
}

void LineServer::accept() {
  acceptor_.async_accept([self = shared_from_this()](const asio::error_code& ec,
                                                     asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !self->acceptor_.is_open()) return;
    if (!ec) {
      if (static_cast<int>(self->clients_.size()) >= self->limits_.clients) {
        // Refused cleanly: the master sees the connection end, not a silence.
        asio::error_code ignored;
        socket.shutdown(asio::socket_base::shutdown_both, ignored);
        socket.close(ignored);
      } else {
        auto client = std::make_shared<LineClient>(std::move(socket), self);
        self->clients_.insert(client);
        client->start();
      }
    }
    self->accept();
  });
}

void LineServer::stop() {
  asio::error_code ignored;
  acceptor_.close(ignored);
  auto clients = std::move(clients_);
  clients_.clear();
  for (const auto& client : clients) client->stop();
}

void LineServer::clientGone(const std::shared_ptr<LineClient>& client) { clients_.erase(client); }

void LineServer::logWrite(const std::string& client, uint8_t function, uint8_t unit,
                          uint16_t address) {
  const auto now = std::chrono::steady_clock::now();
  if (now - windowStart_ >= kLogWindow) {
    if (unlogged_ > 0) {
      Library::instance().log(MBS_LOG_INFO, context_,
                              std::to_string(unlogged_) + " more writes by other masters not logged");
    }
    windowStart_ = now;
    loggedInWindow_ = 0;
    unlogged_ = 0;
  }
  if (loggedInWindow_ >= kLogBurst) {
    ++unlogged_;
    return;
  }
  ++loggedInWindow_;
  Library::instance().log(MBS_LOG_INFO, context_,
                          "write by " + client + ": function " + std::to_string(function) +
                              ", slave " + std::to_string(unit) + ", address " +
                              std::to_string(address));
}

}  // namespace mbl
