// The framing of one transport: wraps a request PDU for the wire and finds
// the answer in the bytes received so far.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mbl {

struct FrameResult {
  enum class Kind { Incomplete, Frame, Error };
  Kind kind = Kind::Incomplete;
  int status = 0;       // for Error: 265 bad check, 267 malformed
  uint8_t address = 0;  // slave node or unit id of a Frame
  std::vector<uint8_t> pdu;
};

class Framer {
 public:
  virtual ~Framer() = default;
  virtual std::vector<uint8_t> encode(uint8_t address, std::span<const uint8_t> pdu) = 0;
  // bytes holds everything received since the request went out.
  virtual FrameResult parse(std::span<const uint8_t> bytes) const = 0;
  // RTU frames are delimited by silence on the line.
  virtual bool needsSilentInterval() const { return false; }
};

}  // namespace mbl
