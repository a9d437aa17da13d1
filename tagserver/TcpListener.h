// Accepts TCP connections on the endpoint and runs the once-a-second
// housekeeping of the server and its links.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace tagserver {

class UaServer;
class TcpLink;

class TcpListener {
 public:
  TcpListener(asio::io_context& io, UaServer& server);
  // Binds and listens; false with the reason in error when that fails.
  bool Open(const asio::ip::tcp::endpoint& at, std::string& error);
  uint16_t Port() const;
  void Stop();
  // Any thread: the links open at the last accept or housekeeping tick.
  int OpenLinks() const { return m_nOpenLinks.load(); }

 private:
  void Accept();
  void ScheduleHousekeeping();
  void ForgetClosedLinks();

  asio::io_context& m_io;
  UaServer& m_server;
  asio::ip::tcp::acceptor m_acceptor;
  asio::steady_timer m_timer;
  std::vector<std::weak_ptr<TcpLink>> m_links;
  std::atomic<int> m_nOpenLinks{0};
};

}  // namespace tagserver
