#include "TcpSlave.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {
constexpr int kUnitIdOffset = 6;  // MBAP header: transaction, protocol, length, unit
}

TcpSlave::TcpSlave(SimTables& tables, const std::string& bindAddress, int port, int unit)
    : m_tables(tables), m_pCtx(modbus_new_tcp(bindAddress.c_str(), port)), m_nUnit(unit) {
  if (m_pCtx == nullptr) throw std::runtime_error("cannot create a Modbus/TCP context");
  m_nListen = modbus_tcp_listen(m_pCtx, 16);
  if (m_nListen < 0) {
    const std::string reason = modbus_strerror(errno);
    modbus_free(m_pCtx);
    throw std::runtime_error("cannot listen on " + bindAddress + " port " + std::to_string(port) +
                             ": " + reason);
  }
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(m_nListen, reinterpret_cast<sockaddr*>(&address), &length);
  m_nPort = ntohs(address.sin_port);
}

TcpSlave::~TcpSlave() {
  for (int fd : m_clients) ::close(fd);
  ::close(m_nListen);
  modbus_free(m_pCtx);
}

void TcpSlave::CollectFds(std::vector<int>& fds) const {
  fds.push_back(m_nListen);
  fds.insert(fds.end(), m_clients.begin(), m_clients.end());
}

void TcpSlave::OnReadable(int fd) {
  if (fd == m_nListen) {
    Accept();
  } else {
    Serve(fd);
  }
}

void TcpSlave::Accept() {
  const int fd = ::accept(m_nListen, nullptr, nullptr);
  if (fd >= 0) m_clients.push_back(fd);
}

void TcpSlave::Serve(int fd) {
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  modbus_set_socket(m_pCtx, fd);
  const int length = modbus_receive(m_pCtx, query);
  if (length < 0) {
    Drop(fd);
    return;
  }
  if (length == 0) return;
  if (m_nUnit >= 0 && query[kUnitIdOffset] != m_nUnit) return;
  if (modbus_reply(m_pCtx, query, length, m_tables.Mapping()) < 0) Drop(fd);
}

void TcpSlave::Drop(int fd) {
  ::close(fd);
  m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), fd), m_clients.end());
}
