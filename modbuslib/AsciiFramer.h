// Modbus ASCII: ':' then address, PDU and LRC as upper-case hex, then CR LF.
#pragma once

#include <optional>

#include "modbuslib/Framer.h"

namespace mbl {

class AsciiFramer : public Framer {
 public:
  // Longest frame: 1 + 2 * (1 + 253 + 1) + 2 characters.
  static constexpr size_t kMaxFrame = 513;

  std::vector<uint8_t> encode(uint8_t address, std::span<const uint8_t> pdu) override;
  // Each ':' starts a frame anew; lines that are not the answer to the
  // exchange are dropped.
  FrameResult parse(std::span<const uint8_t> bytes, const Expectation& expect) const override;

 private:
  // The address, PDU and LRC of one line, or nothing when it is not hex.
  static std::optional<std::vector<uint8_t>> decodeHex(std::span<const uint8_t> hex);
  static int hexValue(uint8_t c);
  static bool fits(const std::vector<uint8_t>& body, const Expectation& expect, bool exactLength);
  static FrameResult pending(std::span<const uint8_t> bytes, FrameResult result);
};

}  // namespace mbl
