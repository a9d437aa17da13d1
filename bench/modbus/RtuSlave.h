// A libmodbus RTU slave on one end of a serial line, node 1, with 4000
// holding registers (register n holds n), served on a thread of its own. It
// counts the requests it answers, which is what a benchmark on the master's
// side cannot miscount.
#pragma once

#include <modbus.h>

#include <atomic>
#include <string>
#include <thread>

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

  modbus_t* context_ = nullptr;
  modbus_mapping_t* mapping_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<long> answered_{0};
  std::thread server_;
};

}  // namespace bench
