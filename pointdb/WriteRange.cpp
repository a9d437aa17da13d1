#include "pointdb/WriteRange.h"

#include <array>
#include <cmath>
#include <limits>

#include "pointdb/DataType.h"
#include "pointdb/DataTypeInfo.h"
#include "tagserver/tagserver.h"

namespace {

using Bound = WriteRange::Bound;

constexpr int64_t kInt16Min = std::numeric_limits<int16_t>::min();
constexpr uint64_t kInt16Max = std::numeric_limits<int16_t>::max();
constexpr uint64_t kUInt16Max = std::numeric_limits<uint16_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr uint64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr uint64_t kUInt32Max = std::numeric_limits<uint32_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
constexpr uint64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr uint64_t kUInt64Max = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kBcd4Max = 9999;
constexpr uint64_t kBcd8Max = 99999999;

constexpr WriteRange kUInt16{Bound::Integer, 0, kUInt16Max};
constexpr WriteRange kInt16{Bound::Integer, kInt16Min, kInt16Max};
constexpr WriteRange kUInt32{Bound::Integer, 0, kUInt32Max};
constexpr WriteRange kInt32{Bound::Integer, kInt32Min, kInt32Max};
constexpr WriteRange kUInt64{Bound::Integer, 0, kUInt64Max};
constexpr WriteRange kInt64{Bound::Integer, kInt64Min, kInt64Max};
constexpr WriteRange kFloat32{Bound::Float32};
constexpr WriteRange kFloat64{Bound::Float64};
// The classic scaled types hold the value to their low and high limits.
constexpr WriteRange kHeld{Bound::Held};

// By data type number, as the data type table in docs/files.md lists them.
// clang-format off
constexpr std::array<WriteRange, kLastDataType + 1> kRanges = {
    kUInt16, kInt16, kHeld, kHeld,          // 0-3
    kFloat32, kFloat32, kInt32, kInt32,     // 4-7
    kUInt32, kUInt32, kUInt32, kUInt32,     // 8-11
    kInt32, kInt32, kFloat32, kFloat32,     // 12-15
    kUInt16, kInt16,                        // 16, 17
    kInt64, kInt64, kInt64, kInt64,         // 18-21
    kUInt64, kUInt64, kUInt64, kUInt64,     // 22-25
    kFloat64, kFloat64, kFloat64, kFloat64, // 26-29
    WriteRange{Bound::Integer, 0, kBcd4Max},
    WriteRange{Bound::Integer, 0, kBcd8Max},
    WriteRange{Bound::Integer, 0, kBcd8Max},
    WriteRange{Bound::Boolean},
    WriteRange{Bound::Text}, WriteRange{Bound::Text}};
// clang-format on

uint32_t StatusOf(HRESULT result) {
  if (result == S_OK) return OPC_STATUS_GOOD;
  return result == DISP_E_OVERFLOW ? OPC_STATUS_BAD_OUT_OF_RANGE : OPC_STATUS_BAD_TYPE_MISMATCH;
}

// The conversion's outcome only: the converted value is not kept.
HRESULT Convert(const VARIANT& value, VARTYPE type, VARIANT& out) {
  VariantInit(&out);
  return VariantChangeType(&out, &value, 0, type);
}

HRESULT Fits(const VARIANT& value, VARTYPE type) {
  VARIANT out;
  const HRESULT result = Convert(value, type, out);
  VariantClear(&out);
  return result;
}

}  // namespace

const WriteRange* WriteRange::Of(int32_t dataType, const TagFormat& format) {
  if (!IsKnownDataType(dataType)) return nullptr;
  if (format.scaled && IsScalableDataType(dataType)) return &kHeld;
  return &kRanges[static_cast<size_t>(dataType)];
}

uint32_t WriteRange::Check(int32_t dataType, const TagFormat& format, const VARIANT& value) {
  const WriteRange* range = Of(dataType, format);
  if (range == nullptr) return OPC_STATUS_BAD_TYPE_MISMATCH;
  switch (range->bound) {
    case Bound::Integer: return range->CheckInteger(value);
    case Bound::Float32: return StatusOf(Fits(value, VT_R4));
    case Bound::Float64: return StatusOf(Fits(value, VT_R8));
    case Bound::Boolean: return StatusOf(Fits(value, VT_BOOL));
    case Bound::Text: return StatusOf(Fits(value, VT_BSTR));
    case Bound::Held: break;
  }
  VARIANT number;
  const HRESULT result = Convert(value, VT_R8, number);
  if (result != S_OK) return StatusOf(result);
  // No register value stands for "not a number".
  return std::isnan(number.dblVal) ? OPC_STATUS_BAD_OUT_OF_RANGE : OPC_STATUS_GOOD;
}

// The value rounded as the write rounds it (half to even), compared exactly:
// as a signed 64-bit number, else as an unsigned one.
uint32_t WriteRange::CheckInteger(const VARIANT& value) const {
  VARIANT number;
  HRESULT result = Convert(value, VT_I8, number);
  if (result == S_OK) {
    if (number.llVal < low) return OPC_STATUS_BAD_OUT_OF_RANGE;
    return number.llVal >= 0 && static_cast<uint64_t>(number.llVal) > high
               ? OPC_STATUS_BAD_OUT_OF_RANGE
               : OPC_STATUS_GOOD;
  }
  if (result != DISP_E_OVERFLOW) return StatusOf(result);
  result = Convert(value, VT_UI8, number);
  if (result != S_OK) return StatusOf(result);
  return number.ullVal > high ? OPC_STATUS_BAD_OUT_OF_RANGE : OPC_STATUS_GOOD;
}
