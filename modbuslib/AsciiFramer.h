// Modbus ASCII: ':' then address, PDU and LRC as upper-case hex, then CR LF.
#pragma once

#include "modbuslib/Framer.h"

namespace mbl {

class AsciiFramer : public Framer {
 public:
  // Longest frame: 1 + 2 * (1 + 253 + 1) + 2 characters.
  static constexpr size_t kMaxFrame = 513;

  std::vector<uint8_t> encode(uint8_t address, std::span<const uint8_t> pdu) override;
  FrameResult parse(std::span<const uint8_t> bytes) const override;

 private:
  static int hexValue(uint8_t c);
  static FrameResult decodeBody(std::span<const uint8_t> hex);
};

}  // namespace mbl
