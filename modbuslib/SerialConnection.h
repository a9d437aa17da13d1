// A connection on a serial line, RTU or ASCII framing. Reads as soon as the
// line has data, keeps the silent interval before each request, lets the
// line fall silent after a time-out so that a late answer is not taken for
// the next one, and turns RTS around for RS-485 when the driver cannot.
#pragma once

#include <array>
#include <chrono>
#include <string>

#include "modbuslib/Connection.h"

namespace mbl {

class SerialConnection : public Connection {
 public:
  SerialConnection(asio::io_context& io, int handle, Dialect dialect, int timeoutMs,
                   std::unique_ptr<Framer> framer, int fd, const SerialSettings& settings,
                   bool kernelRs485, std::string device, std::string path);
  void start() override { waitForInput(); }
  // Caller's thread; 0 keeps the default of each.
  void setTiming(std::chrono::microseconds gap, std::chrono::microseconds turnaround);
  // Caller's thread: the driver's RS-485 mode, now and at every reopening.
  void setRs485(int mode, uint32_t beforeMs, uint32_t afterMs);

  // 3.5 characters, and 1.75 ms at rates above 19200 baud.
  static std::chrono::microseconds silentInterval(const SerialSettings& settings);
  static std::chrono::microseconds characterTime(const SerialSettings& settings);

 protected:
  // For a line that is opened later (see lineOpened), and is tried again
  // every retryAfter while it cannot be; gap is its default inter-frame gap.
  SerialConnection(asio::io_context& io, int handle, Dialect dialect, int timeoutMs,
                   std::unique_ptr<Framer> framer, const SerialSettings& settings,
                   std::string device, std::chrono::milliseconds retryAfter,
                   std::chrono::microseconds gap);
  // I/O thread: the line is open on fd (a socket, for a converter on a network).
  void lineOpened(int fd);
  // I/O thread: opens the line again after it was lost; lineOpened or retryLater follows.
  virtual void reopen();
  void lineFailed(const std::string& why);
  void retryLater();
  // Bytes still waiting in the device's output queue.
  virtual int pendingOutput();
  // Drops what arrived and was not read yet.
  virtual void flushInput();
  const std::string& device() const { return device_; }
  bool lineDown() const { return lineDown_; }

  // False while the device is away: requests are refused at once.
  bool linkUp() const override { return present_; }
  bool serialLine() const override { return true; }
  void transmit(std::vector<uint8_t> frame) override;
  void shutdown() override;
  void exchangeTimedOut() override;
  bool requestHeld() const override { return holding_; }
  // The inter-frame gap or the turnaround, whichever is longer.
  std::chrono::microseconds settleTime() const override;

 private:
  using Clock = std::chrono::steady_clock;

  std::shared_ptr<SerialConnection> self();
  bool mustDrain() const;
  Clock::time_point lineFreeAt() const;
  void sendWhenLineAllows();
  void write();
  void writeRest();
  void written(bool ok);
  void waitForInput();
  void readAvailable();
  bool requestLeaving();
  // The device is gone (a USB adapter unplugged, a pseudo-terminal closed):
  // it is closed, and opened again with the same settings when it is back.
  void lose();
  void releaseRts(int checks);
  void applyRs485();

  asio::posix::stream_descriptor port_;
  const std::string device_;  // as the log names it
  const std::string path_;
  const std::chrono::milliseconds retryAfter_;
  std::atomic<bool> present_{true};
  const SerialSettings settings_;
  bool manualRts_;  // RTS turned around here, the driver not doing it
  int rs485Mode_ = MBS_RS485_OFF;
  uint32_t rs485Before_ = 0;
  uint32_t rs485After_ = 0;
  asio::steady_timer lineTimer_;
  asio::steady_timer rtsTimer_;
  asio::steady_timer retryTimer_;
  const std::chrono::microseconds defaultGap_;
  std::chrono::microseconds gap_;
  std::chrono::microseconds turnaround_;
  Clock::time_point lastActivity_{};
  Expectation drained_;             // the exchange that timed out
  Clock::time_point drainFrom_{};   // when: the line must then fall silent...
  Clock::time_point drainUntil_{};  // ...but is not waited for past this
  bool holding_ = false;            // a request waits for the line
  bool broadcast_ = false;          // the request going out gets no answer
  bool afterBroadcast_ = false;     // the last one on the line got none
  bool writing_ = false;
  bool leaving_ = false;   // the request's last bytes may still be in the driver's queue
  bool lineDown_ = false;  // the error was logged; the next read that succeeds says so again
  std::vector<uint8_t> outgoing_;
  size_t outgoingSent_ = 0;
  std::array<uint8_t, 512> buffer_{};
};

}  // namespace mbl
