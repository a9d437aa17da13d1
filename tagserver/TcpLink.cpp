#include "tagserver/TcpLink.h"

#include "tagserver/ServerLog.h"
#include "tagserver/UaServer.h"

namespace tagserver {

namespace {

constexpr size_t kReadChunk = 65536;

}  // namespace

TcpLink::TcpLink(asio::ip::tcp::socket socket, UaServer& server, uint32_t channelId)
    : m_socket(std::move(socket)),
      m_strPeer(Describe(m_socket)),
      m_server(server),
      m_buffers(server.Buffers()),
      m_readBuffer(kReadChunk) {
  asio::error_code error;
  const auto peer = m_socket.remote_endpoint(error);
  if (!error) m_strAddress = peer.address().to_string();
  m_conn = std::make_shared<UaConnection>(server, *this, channelId);
  asio::error_code ec;
  m_socket.set_option(asio::ip::tcp::no_delay(true), ec);
}

void TcpLink::Start() { ReadMore(); }

void TcpLink::ReadMore() {
  auto self = shared_from_this();
  m_socket.async_read_some(
      asio::buffer(m_readBuffer), [self](const asio::error_code& ec, size_t n) {
        if (self->m_bClosing || self->m_bClosed) return;
        if (ec) {
          self->Dropped(ec == asio::error::eof ? "closed by the client" : ec.message());
          return;
        }
        self->m_conn->Receive(self->m_readBuffer.data(), n);
        if (!self->m_bClosing) self->ReadMore();
      });
}

TcpLink::~TcpLink() { m_buffers->Give(m_nQueuedBytes); }

void TcpLink::Send(std::vector<uint8_t>&& bytes) {
  if (m_bClosed) return;
  // A client that stops reading must not make the server hold its answers
  // without end; one answer alone may be larger than the bound.
  if (!m_writes.empty() && m_nQueuedBytes + bytes.size() > m_server.Allowances().maxUnsentBytes) {
    Refuse("it does not read its answers");
    return;
  }
  if (!m_buffers->Take(bytes.size())) {
    Refuse("the server's buffers for answers are full");
    return;
  }
  m_nQueuedBytes += bytes.size();
  m_writes.push_back(std::move(bytes));
  if (!m_bWriting) WriteNext();
}

void TcpLink::Refuse(const std::string& why) {
  ForgetWrites();
  ServerLog::write(OPC_LOG_WARNING, "OPC UA client " + m_strPeer, "connection closed: " + why);
  m_conn->Shutdown();
  CloseSocket();
}

void TcpLink::ForgetWrites() {
  m_writes.clear();
  m_buffers->Give(m_nQueuedBytes);
  m_nQueuedBytes = 0;
}

void TcpLink::WriteNext() {
  if (m_writes.empty()) {
    m_bWriting = false;
    if (m_bClosing) CloseSocket();
    return;
  }
  m_bWriting = true;
  auto self = shared_from_this();
  asio::async_write(m_socket, asio::buffer(m_writes.front()),
                    [self](const asio::error_code& ec, size_t) {
                      if (self->m_bClosed) return;
                      const size_t sent = self->m_writes.front().size();
                      self->m_nQueuedBytes -= sent;
                      self->m_buffers->Give(sent);
                      self->m_writes.pop_front();
                      if (ec) {
                        self->ForgetWrites();
                        self->Dropped(ec.message());
                        self->CloseSocket();
                        return;
                      }
                      self->WriteNext();
                    });
}

void TcpLink::Dropped(const std::string& why) {
  // A client that ends its channel first is not dropped: the link is closing by then.
  if (m_conn->IsOpen()) {
    ServerLog::write(OPC_LOG_WARNING, "OPC UA client " + m_strPeer, "connection lost: " + why);
  }
  m_conn->Shutdown();
}

std::string TcpLink::Describe(const asio::ip::tcp::socket& socket) {
  asio::error_code ec;
  const auto peer = socket.remote_endpoint(ec);
  return ec ? std::string() : peer.address().to_string() + ":" + std::to_string(peer.port());
}

void TcpLink::Close() {
  m_bClosing = true;
  if (!m_bWriting) CloseSocket();
}

void TcpLink::CloseSocket() {
  if (m_bClosed) return;
  m_bClosed = true;
  asio::error_code ec;
  m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
  m_socket.close(ec);
}

void TcpLink::CheckTimers(int64_t nowMs) {
  if (m_bClosed || m_bClosing) return;
  m_conn->CheckTimers(nowMs);
}

}  // namespace tagserver
