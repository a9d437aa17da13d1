#include "modbuslib/AsciiFramer.h"

#include <algorithm>

#include "modbuslib/Checksum.h"
#include "modbuslib/modbuslib.h"

namespace mbl {

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

std::optional<std::vector<uint8_t>> AsciiFramer::decodeHex(std::span<const uint8_t> hex) {
  // At least address, function and LRC.
  if (hex.size() % 2 != 0 || hex.size() < 6) return std::nullopt;
  std::vector<uint8_t> body;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = hexValue(hex[i]);
    const int lo = hexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    body.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return body;
}

bool AsciiFramer::fits(const std::vector<uint8_t>& body, const Expectation& expect,
                       bool exactLength) {
  if (body[0] != expect.address) return false;
  const size_t pdu = body.size() - 2;  // without address and LRC
  if (body[1] == (expect.function | 0x80)) return !exactLength || pdu == 2;
  if (body[1] != expect.function) return false;
  if (!exactLength) return true;
  return pdu == expect.pduLength && (expect.function > 4 || body[2] + 2u == expect.pduLength);
}

FrameResult AsciiFramer::pending(std::span<const uint8_t> bytes, FrameResult result) {
  // Of the unfinished tail only the last ':' can still begin the answer; a
  // start with no end in sight after the longest frame is noise too.
  const auto tail = bytes.subspan(result.consumed);
  const auto start = std::find(tail.rbegin(), tail.rend(), ':');
  size_t keep = start == tail.rend() ? 0 : static_cast<size_t>(start - tail.rbegin()) + 1;
  if (keep > kMaxFrame) keep = 0;
  if (tail.size() > keep) {
    result.consumed += tail.size() - keep;
    ++result.dropped;
  }
  return result;
}

FrameResult AsciiFramer::parse(std::span<const uint8_t> bytes, const Expectation& expect) const {
  FrameResult result;
  size_t from = 0;
  for (;;) {
    const auto end = std::find(bytes.begin() + static_cast<long>(from), bytes.end(), '\n');
    if (end == bytes.end()) return pending(bytes, result);
    const size_t lineEnd = static_cast<size_t>(end - bytes.begin()) + 1;
    const auto line = bytes.subspan(from, lineEnd - from);
    const auto start = std::find(line.rbegin(), line.rend(), ':');
    from = lineEnd;
    result.consumed = lineEnd;
    ++result.dropped;
    if (start == line.rend() || line.size() < 2 || line[line.size() - 2] != '\r') continue;
    const size_t first = line.size() - static_cast<size_t>(start - line.rbegin());
    const bool brokenOff = first > 1;  // noise or an abandoned frame came before this start
    const auto body = decodeHex(line.subspan(first, line.size() - first - 2));
    if (!body) continue;
    const auto content = std::span(*body).first(body->size() - 1);
    if (lrc(content) != body->back()) {
      if (!fits(*body, expect, false)) continue;
      result.kind = FrameResult::Kind::Error;
      result.status = MBS_INVALID_CHECKSUM;
      if (!brokenOff) --result.dropped;
      return result;
    }
    if (!fits(*body, expect, true)) continue;
    if (!brokenOff) --result.dropped;
    result.kind = FrameResult::Kind::Frame;
    result.address = content[0];
    result.pdu.assign(content.begin() + 1, content.end());
    return result;
  }
}

}  // namespace mbl
