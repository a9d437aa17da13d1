// The documented numbers of a tag's data type, as scan files carry them: how
// the tag's register or registers are read.
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
  // Beyond the first eight, each named by its byte order: A is the most
  // significant byte, registers as they arrive from left to right. Scan files
  // that use one of these are of version "4.00".
  UInt32ABCD = 8,
  UInt32CDAB = 9,
  UInt32BADC = 10,
  UInt32DCBA = 11,
  Int32BADC = 12,
  Int32DCBA = 13,
  Float32BADC = 14,
  Float32DCBA = 15,
  UInt16BA = 16,
  Int16BA = 17,
  Int64ABCD = 18,
  Int64CDAB = 19,
  Int64BADC = 20,
  Int64DCBA = 21,
  UInt64ABCD = 22,
  UInt64CDAB = 23,
  UInt64BADC = 24,
  UInt64DCBA = 25,
  Float64ABCD = 26,
  Float64CDAB = 27,
  Float64BADC = 28,
  Float64DCBA = 29,
  Bcd16 = 30,
  Bcd32ABCD = 31,
  Bcd32CDAB = 32,
  Bit = 33,
  StringAB = 34,  // first character in the high byte of each register
  StringBA = 35,  // first character in the low byte
};

constexpr int32_t kFirstExtendedDataType = static_cast<int32_t>(DataType::UInt32ABCD);
constexpr int32_t kLastDataType = static_cast<int32_t>(DataType::StringBA);

constexpr bool IsKnownDataType(int32_t number) { return number >= 0 && number <= kLastDataType; }

// Types a "3.00" scan file can carry.
constexpr bool IsClassicDataType(int32_t number) { return number >= 0 && number <= 7; }

// The 32-bit types of the first eight take two registers.
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
