// The documented numbers of a tag's data type, as scan files carry them: how
// the tag's register or pair of registers is read.
#pragma once

#include <cstdint>

enum class DataType : int32_t {
  Unsigned = 0,
  Integer = 1,
  Scaled4095 = 2,
  Scaled9999 = 3,
  FloatLowWordFirst = 4,
  FloatHighWordFirst = 5,
  LongLowWordFirst = 6,
  LongHighWordFirst = 7,
};

constexpr bool IsKnownDataType(int32_t number) { return number >= 0 && number <= 7; }

// The 32-bit types take two registers.
constexpr bool IsLongDataType(int32_t number) {
  return number >= static_cast<int32_t>(DataType::FloatLowWordFirst) &&
         number <= static_cast<int32_t>(DataType::LongHighWordFirst);
}

// The two types that map a raw count onto the tag's low and high limits.
constexpr bool IsScaledDataType(DataType type) {
  return type == DataType::Scaled4095 || type == DataType::Scaled9999;
}

constexpr bool IsHighWordFirst(DataType type) {
  return type == DataType::FloatHighWordFirst || type == DataType::LongHighWordFirst;
}
