#include "RtuSlave.h"

#include <poll.h>
#include <unistd.h>

#include <cstddef>
#include <stdexcept>

namespace bench {

namespace {
// How often the serving thread looks whether it should end.
constexpr int kStopCheckMs = 100;
constexpr size_t kNeedMore = 0;
constexpr size_t kNotARequest = SIZE_MAX;

uint16_t crc16(const uint8_t* bytes, size_t size) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

// The length of the request at the front, by its function code.
size_t requestLength(const std::vector<uint8_t>& bytes) {
  constexpr size_t kFixed = 8;         // node, function, address, count or value, CRC
  constexpr size_t kMultipleHead = 7;  // node, function, address, count, byte count
  if (bytes.size() < 2) return kNeedMore;
  switch (bytes[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6: return kFixed;
    case 15:
    case 16: return bytes.size() < kMultipleHead ? kNeedMore : kMultipleHead + bytes[6] + 2;
    default: return kNotARequest;
  }
}

bool soundCrc(const uint8_t* frame, size_t size) {
  const uint16_t crc = crc16(frame, size - 2);
  return frame[size - 2] == (crc & 0xFF) && frame[size - 1] == (crc >> 8);
}
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
  const int fd = modbus_get_socket(context_);
  uint8_t chunk[MODBUS_RTU_MAX_ADU_LENGTH];
  while (!stop_) {
    // Poll first so that the thread notices when it is asked to stop.
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kStopCheckMs) <= 0) continue;
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) continue;
    pending_.insert(pending_.end(), chunk, chunk + got);
    takeRequests();
  }
}

void RtuSlave::takeRequests() {
  for (;;) {
    const size_t length = requestLength(pending_);
    if (length == kNeedMore || (length != kNotARequest && pending_.size() < length)) return;
    // Noise or a frame cut short: step one byte on until a sound request starts.
    if (length == kNotARequest || !soundCrc(pending_.data(), length)) {
      pending_.erase(pending_.begin());
      continue;
    }
    if (pending_[0] == kNode) {
      // The count goes up before the answer leaves, so a master that holds
      // its answer finds it counted.
      ++answered_;
      modbus_reply(context_, pending_.data(), static_cast<int>(length), mapping_);
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
  }
}

}  // namespace bench
