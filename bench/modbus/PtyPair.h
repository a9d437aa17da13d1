// Two pseudo-terminals joined by socat, standing in for a serial line: what
// is written to one end is read at the other, with no baud-rate delay.
#pragma once

#include <string>

#include "ChildProcess.h"

namespace bench {

class PtyPair {
 public:
  // Throws std::runtime_error when socat does not report both ends.
  PtyPair();

  const std::string& first() const { return first_; }
  const std::string& second() const { return second_; }

 private:
  void readDeviceNames();

  ChildProcess socat_;
  std::string first_;
  std::string second_;
};

}  // namespace bench
