// Protocol data units of the supported functions: the request the master
// sends for one exchange and the check of the slave's answer.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "modbuslib/RequestPlan.h"

namespace mbl {

class PduCodec {
 public:
  // words are the caller's words of this exchange (ex.words of them).
  static std::vector<uint8_t> encode(const Exchange& ex, const uint16_t* words);
  // Checks an answer; a good read fills ex.words words (one per point for
  // coils and inputs), a write's echo is compared with what words sent.
  // Returns 0, the slave's exception number, or 267.
  static int decode(const Exchange& ex, std::span<const uint8_t> pdu, uint16_t* words);
  // PDU length of a good (not exception) answer.
  static size_t answerLength(const Exchange& ex);

 private:
  // Byte count a good read answer carries.
  static int readByteCount(const Exchange& ex);
  // The value field a write request carries and its answer echoes.
  static uint16_t echoedValue(const Exchange& ex, const uint16_t* words);
  static void putWord(std::vector<uint8_t>& out, uint16_t value);
  static uint16_t wordAt(std::span<const uint8_t> pdu, size_t at);
  static int decodeRead(const Exchange& ex, std::span<const uint8_t> pdu, uint16_t* words);
  static int decodeWriteEcho(const Exchange& ex, std::span<const uint8_t> pdu,
                             const uint16_t* words);
};

}  // namespace mbl
