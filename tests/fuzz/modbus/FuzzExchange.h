// Shared by the frame decoder targets: the first two input bytes choose the
// request the answer is checked against, the rest is the received bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "modbuslib/Framer.h"
#include "modbuslib/PduCodec.h"

inline void fuzzFramer(mbl::Framer& framer, const uint8_t* data, size_t size) {
  if (size < 2) return;
  static constexpr uint8_t kFunctions[] = {1, 2, 3, 4, 5, 6, 15, 16};
  mbl::Exchange ex;
  ex.function = kFunctions[data[0] & 7];
  ex.wide = (data[0] & 8) != 0 && (ex.function == 3 || ex.function == 4);
  ex.count = static_cast<uint16_t>(1 + data[1] % (ex.function <= 2 ? 250 : 125));
  ex.words = static_cast<uint16_t>(ex.wide ? ex.count * 2 : ex.count);
  const std::span<const uint8_t> bytes(data + 2, size - 2);
  // Bytes arrive in pieces; every prefix must be handled as well as the whole.
  for (size_t n = 0; n <= bytes.size(); ++n) {
    const mbl::FrameResult r = framer.parse(bytes.first(n));
    if (r.kind != mbl::FrameResult::Kind::Frame) continue;
    ex.slave = r.address;
    std::vector<uint16_t> words(ex.words);
    const int status = mbl::PduCodec::decode(ex, r.pdu, words.data());
    if (status < 0 || status > 267) __builtin_trap();
    break;
  }
}
