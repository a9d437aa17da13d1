#include "modbuslib/SerialConnection.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "modbuslib/Library.h"
#include "modbuslib/SerialPort.h"
#include "platform/Log.h"

namespace mbl {

using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {
// A line that reports an error (a closed pseudo-terminal, a device gone) is
// opened again this often until it is back; requests meanwhile are refused.
constexpr milliseconds kRetryAfterError{100};
}  // namespace

SerialConnection::SerialConnection(asio::io_context& io, int handle, Dialect dialect, int timeoutMs,
                                   std::unique_ptr<Framer> framer, int fd,
                                   const SerialSettings& settings, bool kernelRs485,
                                   std::string device, std::string path)
    : Connection(io, handle, dialect, timeoutMs, std::move(framer)),
      port_(io, fd),
      device_(std::move(device)),
      path_(std::move(path)),
      retryAfter_(kRetryAfterError),
      settings_(settings),
      manualRts_(settings.rtsControl == 3 && !kernelRs485),
      lineTimer_(io),
      rtsTimer_(io),
      retryTimer_(io),
      defaultGap_(silentInterval(settings)),
      gap_(defaultGap_),
      turnaround_(silentInterval(settings)) {}

SerialConnection::SerialConnection(asio::io_context& io, int handle, Dialect dialect,
                                   int timeoutMs, std::unique_ptr<Framer> framer,
                                   const SerialSettings& settings, std::string device,
                                   milliseconds retryAfter, microseconds gap)
    : Connection(io, handle, dialect, timeoutMs, std::move(framer)),
      port_(io),
      device_(std::move(device)),
      retryAfter_(retryAfter),
      present_(false),
      settings_(settings),
      manualRts_(false),
      lineTimer_(io),
      rtsTimer_(io),
      retryTimer_(io),
      defaultGap_(gap),
      gap_(gap),
      turnaround_(silentInterval(settings)) {}

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

void SerialConnection::setTiming(microseconds gap, microseconds turnaround) {
  asio::post(port_.get_executor(), [me = self(), gap, turnaround] {
    me->gap_ = gap.count() > 0 ? gap : me->defaultGap_;
    me->turnaround_ = turnaround.count() > 0 ? turnaround : silentInterval(me->settings_);
  });
}

void SerialConnection::setRs485(int mode, uint32_t beforeMs, uint32_t afterMs) {
  asio::post(port_.get_executor(), [me = self(), mode, beforeMs, afterMs] {
    me->rs485Mode_ = mode;
    me->rs485Before_ = beforeMs;
    me->rs485After_ = afterMs;
    me->applyRs485();
  });
}

void SerialConnection::applyRs485() {
  if (rs485Mode_ == MBS_RS485_OFF || !port_.is_open()) return;
  if (SerialPort::setRs485(port_.native_handle(), rs485Mode_ == MBS_RS485_RTS_ON_SEND,
                           rs485Before_, rs485After_)) {
    manualRts_ = false;
    return;
  }
  // A pseudo-terminal or a plain UART driver has no RS-485 mode: the line
  // works on, turning RTS around itself if its RTS control says so.
  const std::string why = std::strerror(errno);
  platform::log(platform::LogLevel::Warning, platform::LogCategory::Modbus, device_,
                device_ + ": RS-485 mode refused by the driver: " + why);
}

void SerialConnection::exchangeTimedOut() {
  // The answer may still come. Only a request to the same slave with the
  // same function could take it for its own (any other drops it as
  // foreign), so that one waits until the line has been quiet for a whole
  // time-out, though never longer than two; other slaves keep their pace.
  drained_ = expectation();
  drainFrom_ = Clock::now();
  drainUntil_ = drainFrom_ + 2 * milliseconds(timeoutMs());
}

std::chrono::microseconds SerialConnection::settleTime() const {
  return std::max(gap_, turnaround_);
}

bool SerialConnection::mustDrain() const {
  const Expectation& next = expectation();
  return Clock::now() < drainUntil_ && next.address == drained_.address &&
         next.function == drained_.function;
}

SerialConnection::Clock::time_point SerialConnection::lineFreeAt() const {
  auto due = lastActivity_;
  if (framer().needsSilentInterval()) due += gap_;
  if (afterBroadcast_) due += turnaround_;
  if (mustDrain()) {
    const auto quiet = std::max(lastActivity_, drainFrom_) + milliseconds(timeoutMs());
    due = std::max(due, std::min(quiet, drainUntil_));
  }
  return due;
}

void SerialConnection::transmit(std::vector<uint8_t> frame) {
  if (!port_.is_open()) {
    failOutstanding(MBS_SVR_NOT_CONNECTED);  // started just before the device went
    return;
  }
  if (writing_ || holding_) {
    sent(false);
    return;
  }
  holding_ = true;
  broadcast_ = !awaitingAnswer();
  outgoing_ = std::move(frame);
  sendWhenLineAllows();
}

void SerialConnection::sendWhenLineAllows() {
  const auto due = lineFreeAt();
  if (Clock::now() >= due) {
    write();
    return;
  }
  // Bytes arriving meanwhile move the moment on, so it is looked at again.
  lineTimer_.expires_at(due);
  lineTimer_.async_wait([me = self()](const asio::error_code& ec) {
    if (ec || !me->isOpen()) return;
    me->sendWhenLineAllows();
  });
}

void SerialConnection::write() {
  holding_ = false;
  if (mustDrain()) drainUntil_ = {};
  // Whatever arrived before the request cannot be its answer.
  flushInput();
  if (manualRts_) SerialPort::setRts(port_.native_handle(), true);
  armTimer();
  writing_ = true;
  outgoingSent_ = 0;
  writeRest();
}

void SerialConnection::writeRest() {
  // Written straight away where the driver takes it all, which it nearly
  // always does, so the answer can never be read before the request is done.
  while (outgoingSent_ < outgoing_.size()) {
    const ssize_t n = ::write(port_.native_handle(), outgoing_.data() + outgoingSent_,
                              outgoing_.size() - outgoingSent_);
    if (n > 0) {
      outgoingSent_ += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      port_.async_wait(asio::posix::descriptor_base::wait_write,
                       [me = self()](const asio::error_code& ec) {
                         if (!me->isOpen()) return;
                         if (ec) {
                           me->written(false);
                         } else {
                           me->writeRest();
                         }
                       });
      return;
    } else {
      written(false);
      return;
    }
  }
  written(true);
}

void SerialConnection::written(bool ok) {
  writing_ = false;
  leaving_ = ok;
  lastActivity_ = Clock::now();
  afterBroadcast_ = broadcast_;
  if (manualRts_) releaseRts(0);
  sent(ok);
}

void SerialConnection::releaseRts(int checks) {
  // RTS drops only when the last character has left the line; the driver's
  // queue says when that is, up to a bound in case it never empties.
  const int pending = pendingOutput();
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

void SerialConnection::waitForInput() {
  port_.async_wait(asio::posix::descriptor_base::wait_read,
                   [me = self()](const asio::error_code& ec) {
                     if (!me->isOpen()) return;
                     if (ec) {
                       me->lineFailed(ec.message());
                     } else {
                       me->readAvailable();
                     }
                   });
}

void SerialConnection::readAvailable() {
  for (;;) {
    const ssize_t n = ::read(port_.native_handle(), buffer_.data(), buffer_.size());
    if (n < 0 && errno == EINTR) continue;
    // A datagram line hears of a peer not listening (yet) as a refused
    // read: its request simply goes unanswered.
    const bool empty = n < 0 && (errno == EAGAIN || errno == ECONNREFUSED);
    if (n <= 0 && !empty) {
      // The port is opened so that an empty line reads as EAGAIN; end of
      // file or an error means the other end or the device is gone.
      lineFailed(n == 0 ? "the other end is gone" : std::strerror(errno));
      return;
    }
    if (empty) break;
    lastActivity_ = Clock::now();
    if (holding_ || writing_ || requestLeaving()) {
      // Arrived before the request had wholly left the line: not its answer.
      countDiscarded();
    } else {
      received(buffer_.data(), static_cast<size_t>(n));
    }
    if (!isOpen()) return;
  }
  waitForInput();
}

bool SerialConnection::requestLeaving() {
  if (leaving_) leaving_ = pendingOutput() > 0;
  return leaving_;
}

int SerialConnection::pendingOutput() {
  return SerialPort::pendingOutput(port_.native_handle());
}

void SerialConnection::flushInput() { tcflush(port_.native_handle(), TCIFLUSH); }

void SerialConnection::lineFailed(const std::string& why) {
  // The line is tried again every retry interval: one line in the log for
  // the whole outage, not one per try.
  if (!lineDown_) {
    lineDown_ = true;
    Library::instance().log(MBS_LOG_WARNING, device_, "line error: " + why);
  }
  lose();
  retryLater();
}

void SerialConnection::lose() {
  present_ = false;
  lineTimer_.cancel();
  rtsTimer_.cancel();
  holding_ = false;
  writing_ = false;
  leaving_ = false;
  asio::error_code ignored;
  port_.close(ignored);
  failOutstanding(MBS_SVR_NOT_CONNECTED);
  Library::instance().linkEvent(MBS_EVENT_TERMINATED, *this);
}

void SerialConnection::reopen() {
  bool kernelRs485 = false;
  const int fd = SerialPort::open(path_, settings_, kernelRs485);
  if (fd < 0) {
    retryLater();
    return;
  }
  lineOpened(fd);
}

void SerialConnection::lineOpened(int fd) {
  asio::error_code ignored;
  port_.assign(fd, ignored);
  lastActivity_ = Clock::now();
  // A line that was never down (a network line coming up the first time)
  // has nothing to report in the log.
  if (std::exchange(lineDown_, false)) {
    Library::instance().log(MBS_LOG_INFO, device_, "the line reads again");
  }
  present_ = true;
  applyRs485();
  Library::instance().linkEvent(MBS_EVENT_CONNECTED, *this);
  waitForInput();
}

void SerialConnection::retryLater() {
  retryTimer_.expires_after(retryAfter_);
  retryTimer_.async_wait([me = self()](const asio::error_code& ec) {
    if (!ec && me->isOpen()) me->reopen();
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
