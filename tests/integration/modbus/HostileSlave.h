// The tests' own slave (hostile_slave.py), which frames every byte itself and
// misbehaves on command: on Modbus/TCP, or RTU or ASCII on one end of a socat
// pseudo-terminal pair.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PeerProcess.h"
#include "PtyPair.h"

class HostileSlave {
 public:
  // transport "tcp", "rtu" or "ascii", or "rtu-tcp" or "ascii-tcp" (serial
  // framing on TCP); dialect "standard" or "enron".
  HostileSlave(const std::string& transport, const std::string& dialect);
  bool ready() const { return ready_; }
  int tcpPort() const { return tcpPort_; }
  const std::string& masterDevice() const { return ptys_->masterDevice(); }

  // The next answer misbehaves: "late 450", "noise ff 00", "wrong-value", "bad-crc"...
  void behave(const std::string& behaviour);
  // Every answer from now on misbehaves: "duplicate 5", "junk de ad be ef 00".
  void habit(const std::string& habit);
  // Registers by wire address; a Daniels/ENRON 32-bit register is one value.
  std::vector<uint32_t> get(int address, int count);
  void set(int address, const std::vector<uint32_t>& values);

 private:
  std::unique_ptr<PtyPair> ptys_;
  std::unique_ptr<PeerProcess> process_;
  int tcpPort_ = 0;
  bool ready_ = false;
};
