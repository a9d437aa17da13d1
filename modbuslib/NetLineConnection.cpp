#include "modbuslib/NetLineConnection.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace mbl {

namespace {
// A connect attempt is cheap; trying every second puts a converter that
// comes back in use within a second of its return, whatever the outage lasted.
constexpr std::chrono::milliseconds kRetryAfter{1000};
// A serial device server times the frames on its serial side itself, and an
// answer has crossed the network before the next request leaves: no gap is
// kept unless SetLineTiming asks for one.
constexpr std::chrono::microseconds kNoGap{0};
// Longer than the 40 ms a delayed acknowledgement takes at least.
constexpr std::chrono::milliseconds kStreamSettle{60};

std::string Name(NetLineConnection::Transport transport, const std::string& host, uint16_t port) {
  const char* over = transport == NetLineConnection::Transport::Tcp ? " over TCP " : " over UDP ";
  return std::string("serial framing") + over + host + ":" + std::to_string(port);
}

// The line reads and writes a descriptor of its own; the socket that made the
// connection is closed.
template <typename Socket>
int TakeDescriptor(Socket& socket) {
  const int fd = ::dup(socket.native_handle());
  asio::error_code ignored;
  socket.close(ignored);
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

SerialSettings NetworkSettings() {
  // The wait after a broadcast at the usual 19200 baud on the converter's
  // serial side; RTS is the converter's business.
  SerialSettings settings{};
  settings.baudRate = 19200;
  settings.wordLength = 8;
  return settings;
}
}  // namespace

NetLineConnection::NetLineConnection(asio::io_context& io, int handle, Dialect dialect,
                                     int timeoutMs, std::unique_ptr<Framer> framer,
                                     Transport transport, std::string host, uint16_t port)
    : SerialConnection(io, handle, dialect, timeoutMs, std::move(framer), NetworkSettings(),
                       Name(transport, host, port), kRetryAfter, kNoGap),
      transport_(transport),
      host_(std::move(host)),
      port_(port),
      tcpResolver_(io),
      udpResolver_(io),
      tcpSocket_(io),
      connectTimer_(io) {}

std::shared_ptr<NetLineConnection> NetLineConnection::me() {
  return std::static_pointer_cast<NetLineConnection>(shared_from_this());
}

void NetLineConnection::reopen() {
  if (!isOpen()) return;
  const std::string service = std::to_string(port_);
  // The resolver works on a thread of its own: a slow name server holds up nothing.
  if (transport_ == Transport::Tcp) {
    tcpResolver_.async_resolve(
        host_, service, asio::ip::resolver_base::numeric_service,
        [self = me()](const asio::error_code& ec, asio::ip::tcp::resolver::results_type servers) {
          if (!self->isOpen()) return;
          if (ec) {
            self->failed("cannot resolve the host: " + ec.message());
          } else {
            self->connectTcp(servers);
          }
        });
    return;
  }
  udpResolver_.async_resolve(
      host_, service, asio::ip::resolver_base::numeric_service,
      [self = me()](const asio::error_code& ec, asio::ip::udp::resolver::results_type servers) {
        if (!self->isOpen()) return;
        if (ec) {
          self->failed("cannot resolve the host: " + ec.message());
        } else {
          self->connectUdp(servers);
        }
      });
}

void NetLineConnection::connectTcp(const asio::ip::tcp::resolver::results_type& servers) {
  // An unreachable host would otherwise keep the kernel trying for minutes.
  connectTimer_.expires_after(std::chrono::milliseconds(timeoutMs()));
  connectTimer_.async_wait([self = me()](const asio::error_code& ec) {
    if (ec) return;
    asio::error_code ignored;
    self->tcpSocket_.close(ignored);
  });
  asio::async_connect(tcpSocket_, servers,
                      [self = me()](const asio::error_code& ec, const asio::ip::tcp::endpoint&) {
                        self->connectTimer_.cancel();
                        if (!self->isOpen()) return;
                        if (ec || !self->tcpSocket_.is_open()) {
                          self->failed(ec == asio::error::operation_aborted || !ec
                                           ? "no answer within " +
                                                 std::to_string(self->timeoutMs()) + " ms"
                                           : ec.message());
                          return;
                        }
                        asio::error_code ignored;
                        self->tcpSocket_.set_option(asio::ip::tcp::no_delay(true), ignored);
                        const int fd = TakeDescriptor(self->tcpSocket_);
                        if (fd < 0) {
                          self->failed("no descriptor left");
                          return;
                        }
                        self->lineOpened(fd);
                      });
}

void NetLineConnection::connectUdp(const asio::ip::udp::resolver::results_type& servers) {
  // A datagram socket connects at once: it only fixes where datagrams go
  // and which are taken.
  asio::ip::udp::socket socket(tcpSocket_.get_executor());
  asio::error_code ec;
  asio::connect(socket, servers, ec);
  const int fd = ec ? -1 : TakeDescriptor(socket);
  if (fd < 0) {
    failed(ec ? ec.message() : "no descriptor left");
    return;
  }
  lineOpened(fd);
}

void NetLineConnection::shutdown() {
  SerialConnection::shutdown();
  tcpResolver_.cancel();
  udpResolver_.cancel();
  connectTimer_.cancel();
  asio::error_code ignored;
  tcpSocket_.close(ignored);
}

std::chrono::microseconds NetLineConnection::settleTime() const {
  const auto line = SerialConnection::settleTime();
  return transport_ == Transport::Tcp ? std::max<std::chrono::microseconds>(line, kStreamSettle)
                                      : line;
}

void NetLineConnection::failed(const std::string& why) {
  // One line in the log and one link event for the whole outage.
  if (lineDown()) {
    retryLater();
  } else {
    lineFailed(why);
  }
}

}  // namespace mbl
