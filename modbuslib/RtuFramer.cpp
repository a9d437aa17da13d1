#include "modbuslib/RtuFramer.h"

#include <algorithm>

#include "modbuslib/Checksum.h"
#include "modbuslib/modbuslib.h"

namespace mbl {

std::vector<uint8_t> RtuFramer::encode(uint8_t address, std::span<const uint8_t> pdu) {
  std::vector<uint8_t> frame(pdu.size() + 3);
  frame[0] = address;
  std::copy(pdu.begin(), pdu.end(), frame.begin() + 1);
  const uint16_t crc = crc16(std::span(frame).first(pdu.size() + 1));
  frame[pdu.size() + 1] = static_cast<uint8_t>(crc & 0xFF);
  frame[pdu.size() + 2] = static_cast<uint8_t>(crc >> 8);
  return frame;
}

int RtuFramer::answerPduLength(std::span<const uint8_t> pdu) {
  if (pdu.empty()) return 0;
  const uint8_t fn = pdu[0];
  if (fn & 0x80) return 2;
  switch (fn) {
    case 1:
    case 2:
    case 3:
    case 4: return pdu.size() < 2 ? 0 : 2 + pdu[1];
    case 5:
    case 6:
    case 15:
    case 16: return 5;
    default: return -1;
  }
}

FrameResult RtuFramer::parse(std::span<const uint8_t> bytes) const {
  FrameResult result;
  if (bytes.empty()) return result;
  const int pduLength = answerPduLength(bytes.subspan(1));
  if (pduLength < 0) {
    result.kind = FrameResult::Kind::Error;
    result.status = MBS_INVALID_RESPONSE;
    return result;
  }
  const size_t total = 1u + static_cast<size_t>(pduLength) + 2u;
  if (pduLength == 0 || bytes.size() < total) return result;
  const uint16_t crc = crc16(bytes.first(total - 2));
  if (bytes[total - 2] != (crc & 0xFF) || bytes[total - 1] != (crc >> 8)) {
    result.kind = FrameResult::Kind::Error;
    result.status = MBS_INVALID_CHECKSUM;
    return result;
  }
  result.kind = FrameResult::Kind::Frame;
  result.address = bytes[0];
  result.pdu.assign(bytes.begin() + 1, bytes.begin() + static_cast<long>(total - 2));
  return result;
}

}  // namespace mbl
