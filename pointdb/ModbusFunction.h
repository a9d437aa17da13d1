// The Modbus function codes a write request carries in the field where a poll
// carries its point type; the codes of the four reads equal the point types.
#pragma once

#include <cstdint>

enum class ModbusFunction : uint8_t {
  WriteSingleCoil = 5,
  WriteSingleRegister = 6,
  WriteMultipleRegisters = 16,
  // One register's bits: the AND and the OR mask as the request's two words.
  MaskWriteRegister = 22,
};

// Point types end at 4, so a larger number is always a write's function.
constexpr bool IsWriteFunction(uint8_t number) { return number > 4; }
