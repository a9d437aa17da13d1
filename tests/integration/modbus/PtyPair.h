// A pair of pseudo-terminals joined by socat: what is written to one end is
// read from the other, as on a serial line between a master and a slave.
#pragma once

#include <memory>
#include <string>

#include "PeerProcess.h"

class PtyPair {
 public:
  PtyPair();
  bool ready() const { return ready_; }
  // The end the library's master opens, and the end the slave serves.
  const std::string& masterDevice() const { return masterDevice_; }
  const std::string& slaveDevice() const { return slaveDevice_; }
  void stop() { socat_.stop(); }

 private:
  bool start();

  PeerProcess socat_;
  std::string masterDevice_;
  std::string slaveDevice_;
  bool ready_ = false;
};
