// Modbus ASCII framing: ':' then the frame's bytes as hexadecimal pairs, an
// LRC byte, CR LF. Decodes a byte stream into frames and encodes replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class AsciiFramer {
 public:
  // A frame longer than this many characters between ':' and CR LF cannot be
  // a Modbus ASCII frame (address, 253-byte PDU, LRC as hexadecimal pairs).
  static constexpr size_t kMaxChars = 2 * (1 + 253 + 1);

  // Takes received characters; every complete frame whose LRC is right is
  // appended to frames as address + PDU (the LRC removed). Damaged frames are
  // counted and dropped.
  void Feed(const uint8_t* data, size_t size, std::vector<std::vector<uint8_t>>& frames);
  // Address + PDU to the characters of one ASCII frame.
  static std::string Encode(const std::vector<uint8_t>& frame);
  static uint8_t Lrc(const uint8_t* data, size_t size);

  size_t DroppedFrames() const { return m_nDropped; }

 private:
  void Finish(std::vector<std::vector<uint8_t>>& frames);

  std::string m_text;
  bool m_bInFrame = false;
  bool m_bSawCr = false;
  size_t m_nDropped = 0;
};
