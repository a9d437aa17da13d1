// A libmodbus RTU slave on one end of a serial line, node 1, with 4000
// holding registers (register n holds n), served on a thread of its own. It
// counts the requests it answers, which is what a benchmark on the master's
// side cannot miscount.
//
// It cuts requests out of the line itself and hands only its own node's to
// libmodbus to answer. libmodbus's own receiving assumes that every request
// for another node is answered by that node: it takes the next frame to
// arrive within its response time-out (0.5 s) as that answer and drops it.
// Beside a node that never answers, that frame is the master's next request
// to this node, sent as the master's own time-out runs out; its tail then
// spoils the request after it. A slave on a shared line must ignore frames
// for other nodes without guessing what follows them.
#pragma once

#include <modbus.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class RtuSlave {
 public:
  static constexpr int kNode = 1;
  static constexpr int kRegisters = 4000;

  // Throws std::runtime_error when libmodbus cannot open the device.
  RtuSlave(const std::string& device, int baudRate);
  ~RtuSlave();
  RtuSlave(const RtuSlave&) = delete;
  RtuSlave& operator=(const RtuSlave&) = delete;

  long answered() const { return answered_; }

 private:
  void serve();
  // Answers or skips every whole request at the front of pending_.
  void takeRequests();

  modbus_t* context_ = nullptr;
  modbus_mapping_t* mapping_ = nullptr;
  std::vector<uint8_t> pending_;  // serving thread only
  std::atomic<bool> stop_{false};
  std::atomic<long> answered_{0};
  std::thread server_;
};

}  // namespace bench
