// Modbus/TCP slave: one listening socket and any number of clients, each
// request answered by libmodbus from the shared tables.
#pragma once

#include <modbus/modbus.h>

#include <string>
#include <vector>

#include "SimTables.h"
#include "SimTransport.h"

class TcpSlave : public SimTransport {
 public:
  // port 0 picks a free port. unit -1 answers every unit id; otherwise
  // requests for other unit ids go unanswered, as from an absent device.
  // Throws std::runtime_error with the reason when it cannot listen.
  TcpSlave(SimTables& tables, const std::string& bindAddress, int port, int unit);
  ~TcpSlave() override;
  TcpSlave(const TcpSlave&) = delete;
  TcpSlave& operator=(const TcpSlave&) = delete;

  int Port() const { return m_nPort; }
  void CollectFds(std::vector<int>& fds) const override;
  void OnReadable(int fd) override;

 private:
  void Accept();
  void Serve(int fd);
  void Drop(int fd);

  SimTables& m_tables;
  modbus_t* m_pCtx;
  int m_nListen = -1;
  int m_nPort = 0;
  int m_nUnit;
  std::vector<int> m_clients;
};
