// A pymodbus slave (Modbus/TCP, or RTU or ASCII on one end of a socat
// pseudo-terminal pair) and the library connection that talks to it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "PeerProcess.h"
#include "PtyPair.h"

class PeerSlave {
 public:
  // mode "tcp", "rtu" or "ascii", or a framing over a network ("rtu-tcp",
  // "ascii-udp", "tcp-udp" ...); tcpPort 0 lets the slave pick a free one.
  PeerSlave(const std::string& mode, int tcpPort = 0);
  bool ready() const { return ready_; }
  int tcpPort() const { return tcpPort_; }
  // The pseudo-terminal the master opens, for serial modes.
  const std::string& masterDevice() const { return masterDevice_; }

  std::vector<int> get(const std::string& table, int wireAddress, int count);
  void set(const std::string& table, int wireAddress, const std::vector<int>& values);
  void stop();

 private:
  std::unique_ptr<PtyPair> ptys_;
  std::unique_ptr<PeerProcess> slave_;
  std::string masterDevice_;
  int tcpPort_ = 0;
  bool ready_ = false;
};
