#include "modbuslib/AsciiFramer.h"

#include <algorithm>

#include "modbuslib/Checksum.h"
#include "modbuslib/modbuslib.h"

namespace mbl {

namespace {
FrameResult error(int status) {
  FrameResult r;
  r.kind = FrameResult::Kind::Error;
  r.status = status;
  return r;
}
}  // namespace

std::vector<uint8_t> AsciiFramer::encode(uint8_t address, std::span<const uint8_t> pdu) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::vector<uint8_t> body(pdu.size() + 2);
  body[0] = address;
  std::copy(pdu.begin(), pdu.end(), body.begin() + 1);
  body.back() = lrc(std::span(body).first(pdu.size() + 1));
  std::vector<uint8_t> frame{':'};
  for (uint8_t b : body) {
    frame.push_back(static_cast<uint8_t>(kHex[b >> 4]));
    frame.push_back(static_cast<uint8_t>(kHex[b & 0xF]));
  }
  frame.push_back('\r');
  frame.push_back('\n');
  return frame;
}

int AsciiFramer::hexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

FrameResult AsciiFramer::parse(std::span<const uint8_t> bytes) const {
  // Noise before the start character is not part of the answer.
  const auto start = std::find(bytes.begin(), bytes.end(), ':');
  if (start == bytes.end()) return {};
  const auto end = std::find(start, bytes.end(), '\n');
  if (end == bytes.end()) {
    return static_cast<size_t>(bytes.end() - start) > kMaxFrame ? error(MBS_INVALID_RESPONSE)
                                                                : FrameResult{};
  }
  if (end - start < 2 || *(end - 1) != '\r') return error(MBS_INVALID_RESPONSE);
  return decodeBody(std::span<const uint8_t>(start + 1, end - 1));
}

FrameResult AsciiFramer::decodeBody(std::span<const uint8_t> hex) {
  // At least address, function and LRC.
  if (hex.size() % 2 != 0 || hex.size() < 6) return error(MBS_INVALID_RESPONSE);
  std::vector<uint8_t> body;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = hexValue(hex[i]);
    const int lo = hexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return error(MBS_INVALID_RESPONSE);
    body.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  const uint8_t check = body.back();
  body.pop_back();
  if (lrc(body) != check) return error(MBS_INVALID_CHECKSUM);
  FrameResult r;
  r.kind = FrameResult::Kind::Frame;
  r.address = body[0];
  r.pdu.assign(body.begin() + 1, body.end());
  return r;
}

}  // namespace mbl
