// A connection on a serial line, RTU or ASCII framing. Keeps the RTU
// silent interval before each request and turns RTS around for RS-485 when
// the driver cannot.
#pragma once

#include <array>
#include <chrono>

#include "modbuslib/Connection.h"

namespace mbl {

class SerialConnection : public Connection {
 public:
  SerialConnection(asio::io_context& io, int handle, Dialect dialect, int timeoutMs,
                   std::unique_ptr<Framer> framer, int fd, const SerialSettings& settings,
                   bool kernelRs485);
  void start() override { readMore(); }

  // 3.5 characters, and 1.75 ms at rates above 19200 baud.
  static std::chrono::microseconds silentInterval(const SerialSettings& settings);
  static std::chrono::microseconds characterTime(const SerialSettings& settings);

 protected:
  bool linkUp() const override { return true; }
  bool serialLine() const override { return true; }
  void transmit(std::vector<uint8_t> frame) override;
  void shutdown() override;

 private:
  std::shared_ptr<SerialConnection> self();
  void write();
  void readMore();
  void releaseRts(int checks);

  asio::posix::stream_descriptor port_;
  const SerialSettings settings_;
  const bool manualRts_;
  asio::steady_timer lineTimer_;
  asio::steady_timer rtsTimer_;
  asio::steady_timer retryTimer_;
  std::chrono::steady_clock::time_point lastActivity_{};
  bool writing_ = false;
  std::vector<uint8_t> outgoing_;
  std::array<uint8_t, 512> buffer_{};
};

}  // namespace mbl
