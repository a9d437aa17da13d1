// A libmodbus Modbus/TCP server on loopback with 1000 holding registers
// (register n holds n); every client connection is served on a thread of its own.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class LoopbackServer {
 public:
  LoopbackServer();
  ~LoopbackServer();
  int port() const { return port_; }

 private:
  void acceptClients();
  void serveClient(int socket);

  void* mapping_ = nullptr;  // modbus_mapping_t
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::thread> clients_;
  std::thread acceptor_;
};
