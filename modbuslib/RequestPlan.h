// How one request of the caller travels: checked against the rules of the
// line, then cut into the Modbus exchanges that carry it.
#pragma once

#include <cstdint>
#include <vector>

#include "modbuslib/modbuslib.h"

namespace mbl {

enum class Dialect { Standard, Daniels };

// One request/response pair on the wire.
struct Exchange {
  uint8_t slave = 0;
  uint8_t function = 0;
  uint16_t wireAddress = 0;
  uint16_t count = 0;      // quantity field on the wire: points, or registers
  uint16_t firstWord = 0;  // first of the caller's words this exchange carries
  uint16_t words = 0;      // how many of the caller's words it carries
  bool wide = false;       // Daniels/ENRON 32-bit registers, two words each
};

class RequestPlan {
 public:
  // Largest quantities one exchange may carry.
  static constexpr int kMaxBits = 2000;
  static constexpr int kMaxRegisters = 125;
  static constexpr int kMaxWideRegisters = 62;
  static constexpr int kMaxWriteCoils = 1968;
  static constexpr int kMaxWriteRegisters = 123;
  // Mask write register: the caller's two words are the AND and the OR mask.
  static constexpr uint8_t kMaskWrite = 22;

  // Checks the request and fills plan; returns 0 or the status that refuses it.
  static int build(const RequestHeader& header, Dialect dialect, bool serialLine,
                   RequestPlan& plan);

  const std::vector<Exchange>& exchanges() const { return exchanges_; }
  // A serial write to node 0 reaches every slave and none of them answers.
  bool broadcast() const { return broadcast_; }

 private:
  static bool isWrite(uint8_t function);
  static bool isWideRange(uint16_t address, uint16_t& rangeEnd);
  static int checkLength(const RequestHeader& header, bool wide);
  static int checkNode(const RequestHeader& header, bool serialLine);
  void split(const RequestHeader& header, uint16_t wireAddress, bool wide);

  std::vector<Exchange> exchanges_;
  bool broadcast_ = false;
};

}  // namespace mbl
