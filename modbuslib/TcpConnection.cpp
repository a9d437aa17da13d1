#include "modbuslib/TcpConnection.h"

#include <map>
#include <utility>

#include "modbuslib/Library.h"
#include "modbuslib/MbapFramer.h"
#include "platform/Log.h"

namespace mbl {

namespace {
constexpr int kOutOfStepLimit = 2;

// Why each server named in the log last could not be reached. Its owner tries
// again every few seconds with a new connection: the log gets one line when
// the server goes and one when it is back, not one per attempt. I/O thread only.
std::map<std::string, std::string>& Unreachable() {
  static std::map<std::string, std::string> servers;
  return servers;
}
}  // namespace

TcpConnection::TcpConnection(asio::io_context& io, int handle,
                             const asio::ip::tcp::endpoint& server, int timeoutMs)
    : Connection(io, handle, Dialect::Standard, timeoutMs, std::make_unique<MbapFramer>()),
      socket_(io),
      server_(server),
      resolver_(io),
      connectTimer_(io),
      connectTimeoutMs_(timeoutMs > 0 ? timeoutMs : 2000) {}

TcpConnection::TcpConnection(asio::io_context& io, int handle, std::string host, uint16_t port,
                             int timeoutMs)
    : TcpConnection(io, handle, asio::ip::tcp::endpoint(asio::ip::tcp::v4(), port), timeoutMs) {
  host_ = std::move(host);
}

std::shared_ptr<TcpConnection> TcpConnection::self() {
  return std::static_pointer_cast<TcpConnection>(shared_from_this());
}

void TcpConnection::start() {
  if (!isOpen()) return;
  if (host_.empty()) {
    connect();
    return;
  }
  // The resolver works on a thread of its own: a slow name server holds up nothing.
  resolver_.async_resolve(
      host_, std::to_string(server_.port()), asio::ip::resolver_base::numeric_service,
      [me = self()](const asio::error_code& ec, asio::ip::tcp::resolver::results_type found) {
        if (!me->isOpen()) return;
        if (ec || found.empty()) {
          me->lost(ec ? ec : asio::error::host_not_found);
          return;
        }
        me->server_ = found.begin()->endpoint();
        me->connect();
      });
}

void TcpConnection::connect() {
  // An unreachable host would otherwise keep the kernel trying for minutes.
  connectTimer_.expires_after(std::chrono::milliseconds(connectTimeoutMs_));
  connectTimer_.async_wait([me = self()](const asio::error_code& ec) {
    if (!ec && !me->up_) {
      asio::error_code ignored;
      me->socket_.close(ignored);
    }
  });
  socket_.async_connect(server_, [me = self()](const asio::error_code& ec) { me->connected(ec); });
}

void TcpConnection::connected(const asio::error_code& ec) {
  connectTimer_.cancel();
  if (!isOpen()) return;
  if (ec || !socket_.is_open()) {
    lost(ec ? ec : asio::error::operation_aborted);
    return;
  }
  asio::error_code ignored;
  socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
  socket_.non_blocking(true, ignored);
  up_ = true;
  if (Unreachable().erase(name()) > 0) {
    platform::log(platform::LogLevel::Info, platform::LogCategory::Modbus, name(),
                  name() + ": connected again");
  }
  if (!reconnecting_.exchange(false)) Library::instance().linkEvent(MBS_EVENT_CONNECTED, *this);
  readMore();
  if (std::exchange(awaitingLink_, false)) {
    armTimer();  // its time-out runs from when it goes out
    transmit(std::move(outgoing_));
  }
}

void TcpConnection::readMore() {
  // Waiting for readiness and then reading what is there spares a read
  // attempt that finds nothing after every answer.
  socket_.async_wait(asio::ip::tcp::socket::wait_read, [me = self()](const asio::error_code& ec) {
    // Aborted by a reconnection, which reads the new socket itself.
    if (!me->isOpen() || ec == asio::error::operation_aborted) return;
    if (ec) {
      me->lost(ec);
      return;
    }
    asio::error_code readError;
    const size_t size = me->socket_.read_some(asio::buffer(me->buffer_), readError);
    if (readError == asio::error::would_block) {
      me->readMore();
      return;
    }
    if (readError) {
      me->lost(readError);
      return;
    }
    me->received(me->buffer_.data(), size);
    // A reconnection begun meanwhile reads the new connection once it is up.
    if (me->up_) me->readMore();
  });
}

void TcpConnection::transmit(std::vector<uint8_t> frame) {
  if (reconnecting_) {
    awaitingLink_ = true;
    outgoing_ = std::move(frame);
    return;
  }
  if (writing_) {
    sent(false);
    return;
  }
  // A request nearly always fits the socket's buffer at once.
  asio::error_code ec;
  const size_t written = socket_.write_some(asio::buffer(frame), ec);
  if (!ec && written == frame.size()) {
    sent(true);
    return;
  }
  if (ec && ec != asio::error::would_block) {
    lost(ec);
    return;
  }
  writing_ = true;
  outgoing_.assign(frame.begin() + static_cast<long>(ec ? 0 : written), frame.end());
  asio::async_write(socket_, asio::buffer(outgoing_),
                    [me = self()](const asio::error_code& error, size_t) {
                      me->writing_ = false;
                      if (!me->isOpen()) return;
                      if (error) {
                        me->lost(error);
                        return;
                      }
                      me->sent(true);
                    });
}

void TcpConnection::framingChecked(bool inStep) {
  outOfStep_ = inStep ? 0 : outOfStep_ + 1;
  if (outOfStep_ >= kOutOfStepLimit) reconnect();
}

void TcpConnection::reconnect() {
  outOfStep_ = 0;
  Library::instance().log(MBS_LOG_WARNING, name(), "answers out of step, connecting again");
  up_ = false;
  reconnecting_ = true;
  asio::error_code ignored;
  socket_.close(ignored);
  start();
}

std::string TcpConnection::name() const {
  const std::string host = host_.empty() ? server_.address().to_string() : host_;
  return "Modbus/TCP " + host + ":" + std::to_string(server_.port());
}

void TcpConnection::lost(const asio::error_code& ec) {
  const bool reconnecting = reconnecting_.exchange(false);
  awaitingLink_ = false;
  const bool wasUp = up_.exchange(false) || reconnecting;
  asio::error_code ignored;
  socket_.close(ignored);
  // Also a request started just before the drop was noticed ends here.
  failOutstanding(MBS_SVR_NOT_CONNECTED);
  if (ended_) return;
  ended_ = true;
  const std::string why = reason(ec);
  std::string& known = Unreachable()[name()];
  if (wasUp || known != why) {
    Library::instance().log(MBS_LOG_WARNING, name(),
                            (wasUp ? "connection lost: " : "cannot connect: ") + why);
  }
  known = why;
  Library::instance().linkEvent(MBS_EVENT_TERMINATED, *this);
}

std::string TcpConnection::reason(const asio::error_code& ec) const {
  // The connect timer closes the socket, which aborts the connect.
  if (ec == asio::error::operation_aborted) {
    return "no answer within " + std::to_string(connectTimeoutMs_) + " ms";
  }
  if (ec == asio::error::eof) return "closed by the peer";
  return ec.message();
}

void TcpConnection::shutdown() {
  up_ = false;
  ended_ = true;
  connectTimer_.cancel();
  asio::error_code ignored;
  socket_.close(ignored);
}

}  // namespace mbl
