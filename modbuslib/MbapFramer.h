// Modbus/TCP: the MBAP header (transaction id, protocol 0, length, unit id)
// before the PDU.
#pragma once

#include "modbuslib/Framer.h"

namespace mbl {

class MbapFramer : public Framer {
 public:
  // encode starts a new transaction; parse hands back only its answer and
  // skips whole frames of earlier transactions, such as a late answer.
  std::vector<uint8_t> encode(uint8_t address, std::span<const uint8_t> pdu) override;
  FrameResult parse(std::span<const uint8_t> bytes, const Expectation& expect) const override;

 private:
  uint16_t transaction_ = 0;
};

}  // namespace mbl
