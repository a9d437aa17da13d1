#include "PtyPair.h"

#include <vector>

PtyPair::PtyPair()
    : socat_(std::vector<std::string>{"socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0"}) {
  ready_ = start();
}

bool PtyPair::start() {
  std::vector<std::string> names;
  while (names.size() < 2) {
    const std::string line = socat_.readLine(std::chrono::seconds(10));
    if (line.empty()) return false;
    const auto at = line.find("PTY is ");
    if (at != std::string::npos) names.push_back(line.substr(at + 7));
  }
  masterDevice_ = names[0];
  slaveDevice_ = names[1];
  // socat has opened both ends once it reports its transfer loop.
  while (true) {
    const std::string line = socat_.readLine(std::chrono::seconds(10));
    if (line.empty()) return false;
    if (line.find("starting data transfer") != std::string::npos) return true;
  }
}
