// The documented numbers of a scan's point type, as scan files and requests
// carry them: which Modbus table the scan reads.
#pragma once

#include <cstdint>

enum class PointType : uint8_t {
  Coil = 1,
  InputStatus = 2,
  HoldingRegister = 3,
  InputRegister = 4,
};

constexpr bool IsKnownPointType(int number) { return number >= 1 && number <= 4; }

// Coils and input statuses are bits; the other two are 16-bit registers.
constexpr bool IsBitPointType(PointType type) {
  return type == PointType::Coil || type == PointType::InputStatus;
}

// A client may write coils and holding registers only.
constexpr bool IsWritablePointType(PointType type) {
  return type == PointType::Coil || type == PointType::HoldingRegister;
}
