#include "RtuSlave.h"

#include <poll.h>

#include <stdexcept>

namespace bench {

namespace {
// How often the serving thread looks whether it should end.
constexpr int kStopCheckMs = 100;
}  // namespace

RtuSlave::RtuSlave(const std::string& device, int baudRate)
    : context_(modbus_new_rtu(device.c_str(), baudRate, 'N', 8, 1)),
      mapping_(modbus_mapping_new(0, 0, kRegisters, 0)) {
  if (context_ == nullptr || mapping_ == nullptr || modbus_set_slave(context_, kNode) != 0 ||
      modbus_connect(context_) != 0) {
    if (context_ != nullptr) modbus_free(context_);
    if (mapping_ != nullptr) modbus_mapping_free(mapping_);
    throw std::runtime_error("libmodbus cannot serve " + device);
  }
  for (int i = 0; i < kRegisters; ++i) mapping_->tab_registers[i] = static_cast<uint16_t>(i);
  server_ = std::thread([this] { serve(); });
}

RtuSlave::~RtuSlave() {
  stop_ = true;
  server_.join();
  modbus_close(context_);
  modbus_free(context_);
  modbus_mapping_free(mapping_);
}

void RtuSlave::serve() {
  uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  while (!stop_) {
    // modbus_receive waits for a request without end; poll first so that
    // the thread notices when it is asked to stop.
    pollfd p{modbus_get_socket(context_), POLLIN, 0};
    if (poll(&p, 1, kStopCheckMs) <= 0) continue;
    // modbus_receive gives 0 for a request to another node. The count goes up
    // before the answer leaves, so a master that holds its answer finds it counted.
    const int length = modbus_receive(context_, query);
    if (length <= 0) continue;
    ++answered_;
    modbus_reply(context_, query, length, mapping_);
  }
}

}  // namespace bench
