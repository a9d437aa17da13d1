// Shared by the frame decoder targets: the first three input bytes choose
// the request the answer is checked against and how the rest arrives; the
// rest is the received bytes, fed in pieces as a line delivers them, with
// what the framer consumes dropped as the connection drops it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "modbuslib/Framer.h"
#include "modbuslib/PduCodec.h"

inline mbl::Exchange fuzzExchange(const uint8_t* data) {
  static constexpr uint8_t kFunctions[] = {1, 2, 3, 4, 5, 6, 15, 16};
  mbl::Exchange ex;
  ex.slave = data[2];
  ex.function = kFunctions[data[0] & 7];
  ex.wide = (data[0] & 8) != 0 && (ex.function == 3 || ex.function == 4);
  ex.count = static_cast<uint16_t>(1 + data[1] % (ex.function <= 2 ? 250 : 125));
  ex.words = static_cast<uint16_t>(ex.wide ? ex.count * 2 : ex.count);
  return ex;
}

inline void fuzzFramer(mbl::Framer& framer, const uint8_t* data, size_t size) {
  if (size < 3) return;
  const mbl::Exchange ex = fuzzExchange(data);
  const mbl::Expectation expect{ex.slave, ex.function, mbl::PduCodec::answerLength(ex)};
  const size_t piece = 1 + (data[0] >> 4);
  const std::span<const uint8_t> bytes(data + 3, size - 3);
  std::vector<uint8_t> rx;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const auto chunk = bytes.subspan(at, std::min(piece, bytes.size() - at));
    rx.insert(rx.end(), chunk.begin(), chunk.end());
    const mbl::FrameResult r = framer.parse(rx, expect);
    if (r.consumed > rx.size()) __builtin_trap();
    rx.erase(rx.begin(), rx.begin() + static_cast<long>(r.consumed));
    if (r.kind == mbl::FrameResult::Kind::Incomplete) continue;
    if (r.kind == mbl::FrameResult::Kind::Error) return;
    std::vector<uint16_t> words(ex.words);
    const int status = mbl::PduCodec::decode(ex, r.pdu, words.data());
    if (status < 0 || status > 267) __builtin_trap();
    return;
  }
}
