// RTU or ASCII framing (or Modbus/TCP framing on datagrams) carried over a
// network to a converter that passes the bytes to a serial line unchanged:
// the serial line's whole exchange logic on a TCP stream or UDP datagrams.
// The host is resolved and connected on the library's thread; while it cannot
// be reached the link is down (event 4, once) and it is tried again every
// second, so a converter that comes back is in use again within that time.
#pragma once

#include <string>

#include "modbuslib/SerialConnection.h"

namespace mbl {

class NetLineConnection : public SerialConnection {
 public:
  enum class Transport { Tcp, Udp };

  NetLineConnection(asio::io_context& io, int handle, Dialect dialect, int timeoutMs,
                    std::unique_ptr<Framer> framer, Transport transport, std::string host,
                    uint16_t port);
  void start() override { reopen(); }

 protected:
  void reopen() override;
  void shutdown() override;
  // Sockets have no driver queue for a turnaround and nothing to flush:
  // whatever was received is read at once.
  int pendingOutput() override { return 0; }
  void flushInput() override {}
  // A TCP peer may hold back a segment until our delayed acknowledgement of
  // the one before (Nagle): an answer right behind a copy can come that late.
  std::chrono::microseconds settleTime() const override;

 private:
  std::shared_ptr<NetLineConnection> me();
  void connectTcp(const asio::ip::tcp::resolver::results_type& servers);
  void connectUdp(const asio::ip::udp::resolver::results_type& servers);
  void failed(const std::string& why);

  const Transport transport_;
  const std::string host_;
  const uint16_t port_;
  asio::ip::tcp::resolver tcpResolver_;
  asio::ip::udp::resolver udpResolver_;
  asio::ip::tcp::socket tcpSocket_;
  asio::steady_timer connectTimer_;
};

}  // namespace mbl
