// Modbus/TCP client connection, made in the background; link event 3 when
// it is up, 4 once when it fails or drops.
#pragma once

#include <array>
#include <string>

#include "modbuslib/Connection.h"

namespace mbl {

class TcpConnection : public Connection {
 public:
  TcpConnection(asio::io_context& io, int handle, const asio::ip::tcp::endpoint& server,
                int timeoutMs);
  // A host name (or dotted address), resolved on the library's thread at
  // every connection attempt.
  TcpConnection(asio::io_context& io, int handle, std::string host, uint16_t port, int timeoutMs);
  void start() override;

 protected:
  // A reconnection keeps the link: requests meanwhile wait for it.
  bool linkUp() const override { return up_ || reconnecting_; }
  bool requestHeld() const override { return awaitingLink_; }
  bool serialLine() const override { return false; }
  void transmit(std::vector<uint8_t> frame) override;
  void shutdown() override;
  // Two answers out of step in a row: the connection is made again, which
  // puts both ends back at the start of a frame.
  void framingChecked(bool inStep) override;

 private:
  std::shared_ptr<TcpConnection> self();
  void connect();
  void connected(const asio::error_code& ec);
  void readMore();
  void lost(const asio::error_code& ec);
  void reconnect();
  std::string name() const;
  std::string reason(const asio::error_code& ec) const;

  asio::ip::tcp::socket socket_;
  asio::ip::tcp::endpoint server_;
  std::string host_;  // empty: server_ is given
  asio::ip::tcp::resolver resolver_;
  asio::steady_timer connectTimer_;
  const int connectTimeoutMs_;
  std::atomic<bool> up_{false};
  bool ended_ = false;  // event 4 has been given
  bool writing_ = false;
  int outOfStep_ = 0;  // answers out of step in a row
  // A reconnection is not shown as link events; a request made meanwhile
  // goes out once it is up.
  std::atomic<bool> reconnecting_{false};
  bool awaitingLink_ = false;
  std::vector<uint8_t> outgoing_;
  std::array<uint8_t, 1024> buffer_{};
};

}  // namespace mbl
