#include "modbuslib/SerialConnection.h"

#include <termios.h>

#include "modbuslib/SerialPort.h"

namespace mbl {

using std::chrono::microseconds;
using Clock = std::chrono::steady_clock;

SerialConnection::SerialConnection(asio::io_context& io, int handle, Dialect dialect, int timeoutMs,
                                   std::unique_ptr<Framer> framer, int fd,
                                   const SerialSettings& settings, bool kernelRs485)
    : Connection(io, handle, dialect, timeoutMs, std::move(framer)),
      port_(io, fd),
      settings_(settings),
      manualRts_(settings.rtsControl == 3 && !kernelRs485),
      lineTimer_(io),
      rtsTimer_(io),
      retryTimer_(io) {}

std::shared_ptr<SerialConnection> SerialConnection::self() {
  return std::static_pointer_cast<SerialConnection>(shared_from_this());
}

microseconds SerialConnection::characterTime(const SerialSettings& settings) {
  const uint64_t baud = settings.baudRate > 0 ? settings.baudRate : 19200;
  return microseconds(SerialPort::bitsPerCharacter(settings) * 1000000ull / baud + 1);
}

microseconds SerialConnection::silentInterval(const SerialSettings& settings) {
  if (settings.baudRate > 19200) return microseconds(1750);
  return characterTime(settings) * 7 / 2;
}

void SerialConnection::transmit(std::vector<uint8_t> frame) {
  if (writing_) {
    sent(false);
    return;
  }
  writing_ = true;
  outgoing_ = std::move(frame);
  const auto due = lastActivity_ + silentInterval(settings_);
  if (!framer().needsSilentInterval() || Clock::now() >= due) {
    write();
    return;
  }
  lineTimer_.expires_at(due);
  lineTimer_.async_wait([me = self()](const asio::error_code& ec) {
    if (ec || !me->isOpen()) return;
    me->write();
  });
}

void SerialConnection::write() {
  // Whatever arrived before the request cannot be its answer.
  tcflush(port_.native_handle(), TCIFLUSH);
  if (manualRts_) SerialPort::setRts(port_.native_handle(), true);
  asio::async_write(port_, asio::buffer(outgoing_),
                    [me = self()](const asio::error_code& ec, size_t) {
                      me->writing_ = false;
                      if (!me->isOpen()) return;
                      me->lastActivity_ = Clock::now();
                      if (me->manualRts_) me->releaseRts(0);
                      me->sent(!ec);
                    });
}

void SerialConnection::releaseRts(int checks) {
  // RTS drops only when the last character has left the line; the driver's
  // queue says when that is, up to a bound in case it never empties.
  const int pending = SerialPort::pendingOutput(port_.native_handle());
  if (pending == 0 || checks > 1000) {
    rtsTimer_.expires_after(characterTime(settings_));
  } else {
    rtsTimer_.expires_after(characterTime(settings_) * pending);
  }
  rtsTimer_.async_wait(
      [me = self(), checks, done = pending == 0 || checks > 1000](const asio::error_code& ec) {
        if (ec || !me->isOpen()) return;
        if (done) {
          SerialPort::setRts(me->port_.native_handle(), false);
        } else {
          me->releaseRts(checks + 1);
        }
      });
}

void SerialConnection::readMore() {
  port_.async_read_some(asio::buffer(buffer_),
                        [me = self()](const asio::error_code& ec, size_t size) {
                          if (!me->isOpen()) return;
                          if (ec) {
                            // A line whose other end has gone (a closed pseudo-terminal) reports
                            // errors until it comes back; requests meanwhile time out.
                            me->retryTimer_.expires_after(std::chrono::milliseconds(100));
                            me->retryTimer_.async_wait([me](const asio::error_code& wait) {
                              if (!wait && me->isOpen()) me->readMore();
                            });
                            return;
                          }
                          me->lastActivity_ = Clock::now();
                          me->received(me->buffer_.data(), size);
                          me->readMore();
                        });
}

void SerialConnection::shutdown() {
  lineTimer_.cancel();
  rtsTimer_.cancel();
  retryTimer_.cancel();
  asio::error_code ignored;
  port_.close(ignored);
}

}  // namespace mbl
