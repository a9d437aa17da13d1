#include "modbuslib/RtuFramer.h"

#include <algorithm>
#include <optional>

#include "modbuslib/Checksum.h"
#include "modbuslib/modbuslib.h"

namespace mbl {

namespace {
constexpr int kExceptionFrame = 5;  // address, function | 0x80, code, CRC
constexpr int kFrameOverhead = 3;   // address and CRC around the PDU
}  // namespace

std::vector<uint8_t> RtuFramer::encode(uint8_t address, std::span<const uint8_t> pdu) {
  std::vector<uint8_t> frame(pdu.size() + 3);
  frame[0] = address;
  std::copy(pdu.begin(), pdu.end(), frame.begin() + 1);
  const uint16_t crc = crc16(std::span(frame).first(pdu.size() + 1));
  frame[pdu.size() + 1] = static_cast<uint8_t>(crc & 0xFF);
  frame[pdu.size() + 2] = static_cast<uint8_t>(crc >> 8);
  return frame;
}

int RtuFramer::candidateLength(std::span<const uint8_t> bytes, const Expectation& expect) {
  if (bytes.empty()) return 0;
  if (bytes[0] != expect.address) return -1;
  if (bytes.size() < 2) return 0;
  if (bytes[1] == (expect.function | 0x80)) return kExceptionFrame;
  if (bytes[1] != expect.function) return -1;
  // A read answer names its byte count, which must be the one asked for.
  if (expect.function <= 4) {
    if (bytes.size() < 3) return 0;
    if (bytes[2] + 2u != expect.pduLength) return -1;
  }
  return static_cast<int>(expect.pduLength) + kFrameOverhead;
}

bool RtuFramer::checkOk(std::span<const uint8_t> frame) {
  const uint16_t crc = crc16(frame.first(frame.size() - 2));
  return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

FrameResult RtuFramer::parse(std::span<const uint8_t> bytes, const Expectation& expect) const {
  FrameResult result;
  std::optional<size_t> firstOpen;  // earliest start that may still become the answer
  bool damaged = false;
  for (size_t start = 0; start < bytes.size(); ++start) {
    const int length = candidateLength(bytes.subspan(start), expect);
    if (length < 0) continue;
    if (length == 0 || bytes.size() - start < static_cast<size_t>(length)) {
      if (!firstOpen) firstOpen = start;
      continue;
    }
    const auto frame = bytes.subspan(start, static_cast<size_t>(length));
    if (!checkOk(frame)) {
      damaged = true;
      continue;
    }
    result.kind = FrameResult::Kind::Frame;
    result.consumed = start + frame.size();
    result.dropped = start > 0 ? 1 : 0;
    result.address = frame[0];
    result.pdu.assign(frame.begin() + 1, frame.end() - 2);
    return result;
  }
  if (firstOpen) {
    result.consumed = *firstOpen;
  } else if (damaged) {
    // The answer came, but not as it was sent.
    result.kind = FrameResult::Kind::Error;
    result.status = MBS_INVALID_CHECKSUM;
    result.consumed = bytes.size();
  } else {
    result.consumed = bytes.size();
  }
  result.dropped = result.consumed > 0 ? 1 : 0;
  return result;
}

}  // namespace mbl
