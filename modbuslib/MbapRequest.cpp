#include "modbuslib/MbapRequest.h"

#include <algorithm>

namespace mbl {

namespace {
constexpr size_t kHeader = 6;
constexpr uint16_t kMaxLength = 254;  // unit id and the longest PDU
constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalAddress = 2;
constexpr uint8_t kIllegalValue = 3;
constexpr uint32_t kAddressSpace = 65536;

uint16_t WordAt(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

uint8_t CheckQuantity(std::span<const uint8_t> pdu, size_t size, uint16_t most) {
  if (pdu.size() != size) return kIllegalValue;
  const uint16_t quantity = WordAt(pdu, 3);
  if (quantity == 0 || quantity > most) return kIllegalValue;
  if (WordAt(pdu, 1) + uint32_t{quantity} > kAddressSpace) return kIllegalAddress;
  return 0;
}

uint8_t CheckMultiple(std::span<const uint8_t> pdu, uint16_t most, bool coils) {
  if (pdu.size() < 6) return kIllegalValue;
  const uint16_t quantity = WordAt(pdu, 3);
  const size_t bytes = coils ? (quantity + 7u) / 8u : quantity * 2u;
  if (pdu[5] != bytes) return kIllegalValue;
  return CheckQuantity(pdu, 6 + bytes, most);
}
}  // namespace

MbapRequest MbapRequest::decode(std::span<const uint8_t> bytes) {
  MbapRequest request;
  if (bytes.size() < kHeader) return request;
  const uint16_t length = WordAt(bytes, 4);
  if (WordAt(bytes, 2) != 0 || length < 2 || length > kMaxLength) {
    request.kind = Kind::Broken;
    return request;
  }
  if (bytes.size() < kHeader + length) return request;
  request.kind = Kind::Request;
  request.consumed = kHeader + length;
  request.transaction = WordAt(bytes, 0);
  request.unit = bytes[kHeader];
  request.pdu.assign(bytes.begin() + kHeader + 1, bytes.begin() + kHeader + length);
  return request;
}

uint8_t MbapRequest::check(std::span<const uint8_t> pdu) {
  if (pdu.empty()) return kIllegalFunction;
  switch (pdu[0]) {
    case 1:
    case 2: return CheckQuantity(pdu, 5, 2000);
    case 3:
    case 4: return CheckQuantity(pdu, 5, 125);
    case 5:
      if (pdu.size() != 5) return kIllegalValue;
      return (WordAt(pdu, 3) == 0 || WordAt(pdu, 3) == 0xFF00) ? 0 : kIllegalValue;
    case 6: return pdu.size() == 5 ? 0 : kIllegalValue;
    case 15: return CheckMultiple(pdu, 1968, true);
    case 16: return CheckMultiple(pdu, 123, false);
    default: return kIllegalFunction;
  }
}

std::vector<uint8_t> MbapRequest::encode(uint16_t transaction, uint8_t unit,
                                         std::span<const uint8_t> pdu) {
  const size_t length = pdu.size() + 1;
  std::vector<uint8_t> frame(kHeader + length);
  frame[0] = static_cast<uint8_t>(transaction >> 8);
  frame[1] = static_cast<uint8_t>(transaction & 0xFF);
  frame[4] = static_cast<uint8_t>(length >> 8);
  frame[5] = static_cast<uint8_t>(length & 0xFF);
  frame[6] = unit;
  std::copy(pdu.begin(), pdu.end(), frame.begin() + kHeader + 1);
  return frame;
}

std::vector<uint8_t> MbapRequest::exception(uint16_t transaction, uint8_t unit, uint8_t function,
                                            uint8_t code) {
  const uint8_t pdu[] = {static_cast<uint8_t>(function | 0x80), code};
  return encode(transaction, unit, pdu);
}

}  // namespace mbl
