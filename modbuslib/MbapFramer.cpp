#include "modbuslib/MbapFramer.h"

#include <algorithm>

#include "modbuslib/modbuslib.h"

namespace mbl {

std::vector<uint8_t> MbapFramer::encode(uint8_t address, std::span<const uint8_t> pdu) {
  ++transaction_;
  const size_t length = pdu.size() + 1;
  std::vector<uint8_t> frame(6 + length);
  frame[0] = static_cast<uint8_t>(transaction_ >> 8);
  frame[1] = static_cast<uint8_t>(transaction_ & 0xFF);
  frame[4] = static_cast<uint8_t>(length >> 8);
  frame[5] = static_cast<uint8_t>(length & 0xFF);
  frame[6] = address;
  std::copy(pdu.begin(), pdu.end(), frame.begin() + 7);
  return frame;
}

FrameResult MbapFramer::parse(std::span<const uint8_t> bytes) const {
  FrameResult result;
  if (bytes.size() < 7) return result;
  const uint16_t transaction = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
  const uint16_t protocol = static_cast<uint16_t>(bytes[2] << 8 | bytes[3]);
  const uint16_t length = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  if (protocol != 0 || length < 2 || length > 254 || transaction != transaction_) {
    result.kind = FrameResult::Kind::Error;
    result.status = MBS_INVALID_RESPONSE;
    return result;
  }
  if (bytes.size() < 6u + length) return result;
  result.kind = FrameResult::Kind::Frame;
  result.address = bytes[6];
  result.pdu.assign(bytes.begin() + 7, bytes.begin() + 6 + length);
  return result;
}

}  // namespace mbl
