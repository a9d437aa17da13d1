// One accepted TCP socket carrying one UaConnection.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "tagserver/UaConnection.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

class TcpLink : public IConnectionSink, public std::enable_shared_from_this<TcpLink> {
 public:
  TcpLink(asio::ip::tcp::socket socket, UaServer& server, uint32_t channelId);
  void Start();
  void Send(std::vector<uint8_t>&& bytes) override;
  void Close() override;
  std::string PeerName() const override { return m_strPeer; }
  std::string PeerAddress() const override { return m_strAddress; }
  // "address:port" of a connected socket, empty when it has none.
  static std::string Describe(const asio::ip::tcp::socket& socket);
  ~TcpLink() override;
  TcpLink(const TcpLink&) = delete;
  TcpLink& operator=(const TcpLink&) = delete;
  // Closes links whose connection holds what it does not use.
  void CheckTimers(int64_t nowMs);

 private:
  void ReadMore();
  void WriteNext();
  void CloseSocket();
  void Dropped(const std::string& why);
  // Drops the client with the answers it left unread.
  void Refuse(const std::string& why);
  void ForgetWrites();

  asio::ip::tcp::socket m_socket;
  std::string m_strPeer;
  std::string m_strAddress;
  UaServer& m_server;
  std::shared_ptr<BufferBudget> m_buffers;
  std::shared_ptr<UaConnection> m_conn;
  std::vector<uint8_t> m_readBuffer;
  std::deque<std::vector<uint8_t>> m_writes;
  size_t m_nQueuedBytes = 0;
  bool m_bWriting = false;
  bool m_bClosing = false;
  bool m_bClosed = false;
};

}  // namespace tagserver
