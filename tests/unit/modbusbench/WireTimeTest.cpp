// Frame sizes and silences of a register read, against figures worked out by
// hand from the character counts (8N1 = 10 bits, 8E1 = 11 bits a character).
#include <gtest/gtest.h>

#include "WireTime.h"

namespace {

struct RtuCase {
  unsigned baud;
  unsigned bits;
  int registers;
  double silenceMs;
  double pollMs;
};

TEST(WireTime, RtuReadOfRegisters) {
  const RtuCase cases[] = {
      {9600, 10, 100, 3.6458, 225.5208},  {19200, 10, 100, 1.8229, 112.7604},
      {115200, 10, 100, 1.75, 20.2396},   {9600, 11, 100, 4.0104, 248.0729},
      {19200, 11, 100, 2.0052, 124.0365}, {115200, 11, 100, 1.75, 22.0885},
      {38400, 10, 1, 1.75, 5.6563},       {19200, 10, 50, 1.8229, 60.6771},
  };
  for (const auto& c : cases) {
    const bench::WireTime wire(c.baud, c.bits);
    SCOPED_TRACE(std::to_string(c.baud) + " baud, " + std::to_string(c.bits) + " bits, " +
                 std::to_string(c.registers) + " registers");
    EXPECT_NEAR(wire.silentIntervalMs(), c.silenceMs, 1e-4);
    EXPECT_NEAR(wire.rtuReadMs(c.registers), c.pollMs, 1e-4);
  }
}

TEST(WireTime, AsciiReadHasNoSilence) {
  // 17 request characters, 11 + 4 x 100 answer characters.
  EXPECT_NEAR(bench::WireTime(19200, 10).asciiReadMs(100), 428 * 10 / 19.2, 1e-9);
}

}  // namespace
