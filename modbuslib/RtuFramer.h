// Modbus RTU: address, PDU, CRC-16 low byte first.
#pragma once

#include "modbuslib/Framer.h"

namespace mbl {

class RtuFramer : public Framer {
 public:
  std::vector<uint8_t> encode(uint8_t address, std::span<const uint8_t> pdu) override;
  FrameResult parse(std::span<const uint8_t> bytes) const override;
  bool needsSilentInterval() const override { return true; }

  // PDU length of an answer from its first bytes: 0 while more bytes are
  // needed, -1 for a function whose answer length is unknown.
  static int answerPduLength(std::span<const uint8_t> pdu);
};

}  // namespace mbl
