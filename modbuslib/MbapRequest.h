// Requests of other masters on a shared line, as Modbus/TCP brings them: the
// MBAP header split off, the PDU checked before it may go onto the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mbl {

struct MbapRequest {
  enum class Kind { Incomplete, Request, Broken };
  Kind kind = Kind::Incomplete;
  size_t consumed = 0;  // bytes of a Request taken from the front
  uint16_t transaction = 0;
  uint8_t unit = 0;
  std::vector<uint8_t> pdu;

  // The first request in bytes; Broken where the header cannot be followed
  // (protocol not 0, length out of range): the stream is lost from there.
  static MbapRequest decode(std::span<const uint8_t> bytes);
  // 0 for a request the line can carry, else the exception that answers it:
  // 1 an unsupported function, 3 a malformed quantity or byte count, 2 a
  // range past the last address.
  static uint8_t check(std::span<const uint8_t> pdu);
  static std::vector<uint8_t> encode(uint16_t transaction, uint8_t unit,
                                     std::span<const uint8_t> pdu);
  static std::vector<uint8_t> exception(uint16_t transaction, uint8_t unit, uint8_t function,
                                        uint8_t code);
};

}  // namespace mbl
