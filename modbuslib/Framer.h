// The framing of one transport: wraps a request PDU for the wire and finds
// the answer to the outstanding exchange in the bytes received so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mbl {

// What an answer to the outstanding exchange must look like. Serial
// framings use it to tell the answer from noise, late answers and frames
// meant for other exchanges; Modbus/TCP goes by its transaction id.
struct Expectation {
  uint8_t address = 0;
  uint8_t function = 0;
  size_t pduLength = 0;  // of a normal answer; an exception answer is 2 bytes
};

struct FrameResult {
  enum class Kind { Incomplete, Frame, Error };
  Kind kind = Kind::Incomplete;
  int status = 0;        // for Error: 265 bad check, 267 malformed
  size_t consumed = 0;   // bytes to drop from the front: a Frame and all before it, or noise
  unsigned dropped = 0;  // foreign frames or runs of noise among the consumed bytes
  uint8_t address = 0;   // slave node or unit id of a Frame
  std::vector<uint8_t> pdu;
};

class Framer {
 public:
  virtual ~Framer() = default;
  virtual std::vector<uint8_t> encode(uint8_t address, std::span<const uint8_t> pdu) = 0;
  // bytes holds everything received and not yet consumed.
  virtual FrameResult parse(std::span<const uint8_t> bytes, const Expectation& expect) const = 0;
  // RTU frames are delimited by silence on the line.
  virtual bool needsSilentInterval() const { return false; }
};

}  // namespace mbl
