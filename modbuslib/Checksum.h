// Error checks of the two serial framings.
#pragma once

#include <cstdint>
#include <span>

namespace mbl {

// CRC-16 of an RTU frame (polynomial 0xA001, initial 0xFFFF); the low byte travels first.
uint16_t crc16(std::span<const uint8_t> bytes);

// Longitudinal redundancy check of an ASCII frame: two's complement of the byte sum.
uint8_t lrc(std::span<const uint8_t> bytes);

}  // namespace mbl
