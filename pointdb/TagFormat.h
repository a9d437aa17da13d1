// What a tag's data type needs besides its number: the bit of a Bit tag, the
// length of a string, and the linear scale any numeric type may carry.
#pragma once

#include <cstdint>

struct TagFormat {
  // Registers of a string are 1 to this; a write of them is one function 16.
  static constexpr int32_t kMaxStringRegisters = 123;

  int32_t bit = 0;  // 0 the least significant bit of the register, 15 the most
  int32_t stringRegisters = 1;
  // Engineering value = engLow + (raw - rawLow) x (engHigh - engLow) / (rawHigh - rawLow).
  bool scaled = false;
  double rawLow = 0.0;
  double rawHigh = 100.0;
  double engLow = 0.0;
  double engHigh = 100.0;

  bool operator==(const TagFormat&) const = default;
};
