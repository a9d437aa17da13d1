// A peer program that a test starts: its stdin and stdout are pipes, it is
// stopped and reaped when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class PeerProcess {
 public:
  explicit PeerProcess(const std::vector<std::string>& argv);
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool running() const { return pid_ > 0; }
  // One line of the peer's output (stdout, or stderr when asked at start),
  // without its newline; empty when none came in time.
  std::string readLine(std::chrono::milliseconds limit = std::chrono::seconds(10));
  void writeLine(const std::string& line);
  void stop();

 private:
  pid_t pid_ = -1;
  int toPeer_ = -1;
  int fromPeer_ = -1;
  std::string pending_;
};
