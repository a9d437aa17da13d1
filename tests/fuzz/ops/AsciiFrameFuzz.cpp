// Arbitrary line bytes through the ASCII frame decoder and the request check:
// every frame handed on is a whole, LRC-checked frame of bounded size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "AsciiFramer.h"
#include "AsciiSlave.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AsciiFramer framer;
  std::vector<std::vector<uint8_t>> frames;
  // Two reads, as a line delivers them.
  const size_t half = size / 2;
  framer.Feed(data, half, frames);
  framer.Feed(data + half, size - half, frames);
  for (const auto& frame : frames) {
    if (frame.size() < 2 || frame.size() > AsciiFramer::kMaxChars / 2) std::abort();
    const auto verdict = AsciiSlave::Judge(frame);
    if (verdict == AsciiSlave::Verdict::kServe && frame[1] >= 15 && frame.size() != 7u + frame[6]) {
      std::abort();
    }
    // Encoding and decoding again gives the frame back.
    AsciiFramer again;
    std::vector<std::vector<uint8_t>> back;
    const auto text = AsciiFramer::Encode(frame);
    again.Feed(reinterpret_cast<const uint8_t*>(text.data()), text.size(), back);
    if (back.size() != 1 || back[0] != frame) std::abort();
  }
  return 0;
}
