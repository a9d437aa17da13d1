// Modbus RTU: address, PDU, CRC-16 low byte first.
#pragma once

#include "modbuslib/Framer.h"

namespace mbl {

class RtuFramer : public Framer {
 public:
  std::vector<uint8_t> encode(uint8_t address, std::span<const uint8_t> pdu) override;
  // Skips leading bytes until an answer that fits the exchange and carries
  // a valid CRC, so that noise or a foreign frame before it costs nothing.
  FrameResult parse(std::span<const uint8_t> bytes, const Expectation& expect) const override;
  bool needsSilentInterval() const override { return true; }

 private:
  // Length of an answer starting at bytes[0]: 0 while more bytes are
  // needed to tell, -1 when no answer to the exchange starts there.
  static int candidateLength(std::span<const uint8_t> bytes, const Expectation& expect);
  static bool checkOk(std::span<const uint8_t> frame);
};

}  // namespace mbl
