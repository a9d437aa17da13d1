// Accepts TCP connections on the endpoint and runs the once-a-second
// housekeeping of the server and its links.
#pragma once

#include <asio.hpp>
#include <memory>
#include <string>
#include <vector>

namespace tagserver {

class CUaServer;
class CTcpLink;

class CTcpListener {
 public:
  CTcpListener(asio::io_context& io, CUaServer& server);
  // Binds and listens; false with the reason in error when that fails.
  bool Open(const asio::ip::tcp::endpoint& at, std::string& error);
  uint16_t Port() const;
  void Stop();

 private:
  void Accept();
  void ScheduleHousekeeping();

  asio::io_context& m_io;
  CUaServer& m_server;
  asio::ip::tcp::acceptor m_acceptor;
  asio::steady_timer m_timer;
  std::vector<std::weak_ptr<CTcpLink>> m_links;
};

}  // namespace tagserver
