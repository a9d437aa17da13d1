#include "tagserver/TcpListener.h"

#include <algorithm>

#include "opcua/UaStatusCodes.h"
#include "tagserver/ServerLog.h"
#include "tagserver/TcpLink.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaServer.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

TcpListener::TcpListener(asio::io_context& io, UaServer& server)
    : m_io(io), m_server(server), m_acceptor(io), m_timer(io) {}

bool TcpListener::Open(const asio::ip::tcp::endpoint& at, std::string& error) {
  asio::error_code ec;
  m_acceptor.open(at.protocol(), ec);
  if (!ec) m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec) m_acceptor.bind(at, ec);
  if (!ec) m_acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = ec.message();
    asio::error_code ignored;
    m_acceptor.close(ignored);
    return false;
  }
  Accept();
  ScheduleHousekeeping();
  return true;
}

uint16_t TcpListener::Port() const {
  asio::error_code ec;
  auto ep = m_acceptor.local_endpoint(ec);
  return ec ? 0 : ep.port();
}

void TcpListener::Stop() {
  asio::error_code ec;
  m_acceptor.close(ec);
  m_timer.cancel();
  for (auto& weak : m_links)
    if (auto link = weak.lock()) link->Close();
  m_links.clear();
  m_nOpenLinks = 0;
}

void TcpListener::Accept() {
  m_acceptor.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !m_acceptor.is_open()) return;
    if (!ec) {
      ForgetClosedLinks();
      if (m_links.size() >= limits::kMaxConnections) {
        ServerLog::write(OPC_LOG_WARNING, "OPC UA client " + TcpLink::Describe(socket),
                         "connection refused: " + std::to_string(limits::kMaxConnections) +
                             " connections are open already");
        asio::error_code ignored;
        socket.close(ignored);
      } else {
        auto link =
            std::make_shared<TcpLink>(std::move(socket), m_server, m_server.NextChannelId());
        m_links.push_back(link);
        m_nOpenLinks = static_cast<int>(m_links.size());
        link->Start();
      }
    }
    Accept();
  });
}

void TcpListener::ScheduleHousekeeping() {
  m_timer.expires_after(std::chrono::seconds(1));
  m_timer.async_wait([this](const asio::error_code& ec) {
    if (ec) return;
    int64_t now = SteadyMs();
    for (auto& weak : m_links)
      if (auto link = weak.lock()) link->CheckTimers(now);
    m_server.Housekeeping(now);
    ForgetClosedLinks();
    ScheduleHousekeeping();
  });
}

void TcpListener::ForgetClosedLinks() {
  m_links.erase(
      std::remove_if(m_links.begin(), m_links.end(), [](const auto& w) { return w.expired(); }),
      m_links.end());
  m_nOpenLinks = static_cast<int>(m_links.size());
}

}  // namespace tagserver
