#include "modbuslib/MbapFramer.h"

#include <algorithm>

#include "modbuslib/modbuslib.h"

namespace mbl {

namespace {
constexpr size_t kHeader = 6;  // transaction, protocol, length; the unit id is counted in length
constexpr uint16_t kMaxLength = 254;
}  // namespace

std::vector<uint8_t> MbapFramer::encode(uint8_t address, std::span<const uint8_t> pdu) {
  ++transaction_;
  const size_t length = pdu.size() + 1;
  std::vector<uint8_t> frame(kHeader + length);
  frame[0] = static_cast<uint8_t>(transaction_ >> 8);
  frame[1] = static_cast<uint8_t>(transaction_ & 0xFF);
  frame[4] = static_cast<uint8_t>(length >> 8);
  frame[5] = static_cast<uint8_t>(length & 0xFF);
  frame[6] = address;
  std::copy(pdu.begin(), pdu.end(), frame.begin() + 7);
  return frame;
}

FrameResult MbapFramer::parse(std::span<const uint8_t> bytes, const Expectation&) const {
  FrameResult result;
  for (;;) {
    const auto rest = bytes.subspan(result.consumed);
    if (rest.size() < kHeader + 1) return result;
    const uint16_t transaction = static_cast<uint16_t>(rest[0] << 8 | rest[1]);
    const uint16_t protocol = static_cast<uint16_t>(rest[2] << 8 | rest[3]);
    const uint16_t length = static_cast<uint16_t>(rest[4] << 8 | rest[5]);
    if (protocol != 0 || length < 2 || length > kMaxLength) {
      // Past a header like this the stream cannot be followed any further.
      result.kind = FrameResult::Kind::Error;
      result.status = MBS_INVALID_RESPONSE;
      result.consumed = bytes.size();
      return result;
    }
    if (rest.size() < kHeader + length) return result;
    if (transaction != transaction_) {
      result.consumed += kHeader + length;
      ++result.dropped;
      continue;
    }
    result.kind = FrameResult::Kind::Frame;
    result.address = rest[6];
    result.pdu.assign(rest.begin() + 7, rest.begin() + static_cast<long>(kHeader + length));
    result.consumed += kHeader + length;
    return result;
  }
}

}  // namespace mbl
