#include "PtyPair.h"

#include <stdexcept>

namespace bench {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr const char* kDeviceNote = "PTY is ";
// socat says this once both ends exist and bytes will be carried.
constexpr const char* kReadyNote = "starting data transfer loop";

}  // namespace

PtyPair::PtyPair() : socat_({"socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0"}, {}, "") {
  readDeviceNames();
}

void PtyPair::readDeviceNames() {
  while (auto line = socat_.readErrorLine(kStartTimeout)) {
    if (const size_t at = line->find(kDeviceNote); at != std::string::npos) {
      (first_.empty() ? first_ : second_) = line->substr(at + std::string(kDeviceNote).size());
    }
    if (line->find(kReadyNote) != std::string::npos && !second_.empty()) return;
  }
  throw std::runtime_error("socat did not report a pseudo-terminal pair");
}

}  // namespace bench
