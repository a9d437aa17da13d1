// A libmodbus Modbus/TCP server on loopback with 100+ holding registers,
// serving one client connection after another on its own thread.
#pragma once

#include <atomic>
#include <thread>

class LoopbackServer {
 public:
  LoopbackServer();
  ~LoopbackServer();
  int port() const { return port_; }

 private:
  void serve();

  void* context_ = nullptr;  // modbus_t
  void* mapping_ = nullptr;  // modbus_mapping_t
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
