#include "pointdb/DataTypeInfo.h"

#include <iterator>

namespace {

using enum ValueKind;
using enum ByteOrder;
using D = DataType;

// In data type number order: the number is the index.
constexpr DataTypeInfo kTypes[] = {
    {D::Unsigned, Unsigned, 1, ABCD, "UNSIGNED", "UNSIGNED", VT_R4},
    {D::Integer, Signed, 1, ABCD, "INTEGER", "INTEGER", VT_R4},
    {D::Scaled4095, ClassicScaled, 1, ABCD, "SCALED 0-4095", "Scaled 0-4095", VT_R4},
    {D::Scaled9999, ClassicScaled, 1, ABCD, "SCALED 0-9999", "Scaled 0-9999", VT_R4},
    {D::FloatLowWordFirst, Float, 2, CDAB, "IEEE Floating Pt", "IEEE Floating-Pt", VT_R4},
    {D::FloatHighWordFirst, Float, 2, ABCD, "WORD Swapped FP", "IEEE Floating-Pt", VT_R4},
    // A Float would lose the low bits above 2^24.
    {D::LongLowWordFirst, Signed, 2, CDAB, "LONG INTEGER", "32-Bit Integer", VT_I4},
    {D::LongHighWordFirst, Signed, 2, ABCD, "WORD Swapped LONG", "32-Bit Integer", VT_I4},
    {D::UInt32ABCD, Unsigned, 2, ABCD, "Unsigned 32 (ABCD)", "Unsigned 32 (ABCD)", VT_UI4},
    {D::UInt32CDAB, Unsigned, 2, CDAB, "Unsigned 32 (CDAB)", "Unsigned 32 (CDAB)", VT_UI4},
    {D::UInt32BADC, Unsigned, 2, BADC, "Unsigned 32 (BADC)", "Unsigned 32 (BADC)", VT_UI4},
    {D::UInt32DCBA, Unsigned, 2, DCBA, "Unsigned 32 (DCBA)", "Unsigned 32 (DCBA)", VT_UI4},
    {D::Int32BADC, Signed, 2, BADC, "Integer 32 (BADC)", "Integer 32 (BADC)", VT_I4},
    {D::Int32DCBA, Signed, 2, DCBA, "Integer 32 (DCBA)", "Integer 32 (DCBA)", VT_I4},
    {D::Float32BADC, Float, 2, BADC, "Float 32 (BADC)", "Float 32 (BADC)", VT_R4},
    {D::Float32DCBA, Float, 2, DCBA, "Float 32 (DCBA)", "Float 32 (DCBA)", VT_R4},
    {D::UInt16BA, Unsigned, 1, BADC, "Unsigned 16 (BA)", "Unsigned 16 (BA)", VT_R4},
    {D::Int16BA, Signed, 1, BADC, "Integer 16 (BA)", "Integer 16 (BA)", VT_R4},
    {D::Int64ABCD, Signed, 4, ABCD, "Integer 64 (ABCD)", "Integer 64 (ABCD)", VT_I8},
    {D::Int64CDAB, Signed, 4, CDAB, "Integer 64 (CDAB)", "Integer 64 (CDAB)", VT_I8},
    {D::Int64BADC, Signed, 4, BADC, "Integer 64 (BADC)", "Integer 64 (BADC)", VT_I8},
    {D::Int64DCBA, Signed, 4, DCBA, "Integer 64 (DCBA)", "Integer 64 (DCBA)", VT_I8},
    {D::UInt64ABCD, Unsigned, 4, ABCD, "Unsigned 64 (ABCD)", "Unsigned 64 (ABCD)", VT_UI8},
    {D::UInt64CDAB, Unsigned, 4, CDAB, "Unsigned 64 (CDAB)", "Unsigned 64 (CDAB)", VT_UI8},
    {D::UInt64BADC, Unsigned, 4, BADC, "Unsigned 64 (BADC)", "Unsigned 64 (BADC)", VT_UI8},
    {D::UInt64DCBA, Unsigned, 4, DCBA, "Unsigned 64 (DCBA)", "Unsigned 64 (DCBA)", VT_UI8},
    {D::Float64ABCD, Float, 4, ABCD, "Float 64 (ABCD)", "Float 64 (ABCD)", VT_R8},
    {D::Float64CDAB, Float, 4, CDAB, "Float 64 (CDAB)", "Float 64 (CDAB)", VT_R8},
    {D::Float64BADC, Float, 4, BADC, "Float 64 (BADC)", "Float 64 (BADC)", VT_R8},
    {D::Float64DCBA, Float, 4, DCBA, "Float 64 (DCBA)", "Float 64 (DCBA)", VT_R8},
    {D::Bcd16, Bcd, 1, ABCD, "BCD 16", "BCD 16", VT_R4},
    // Up to 99999999: beyond what a Float holds exactly.
    {D::Bcd32ABCD, Bcd, 2, ABCD, "BCD 32 (ABCD)", "BCD 32 (ABCD)", VT_UI4},
    {D::Bcd32CDAB, Bcd, 2, CDAB, "BCD 32 (CDAB)", "BCD 32 (CDAB)", VT_UI4},
    {D::Bit, Bit, 1, ABCD, "Bit of register", "Bit", VT_BOOL},
    {D::StringAB, String, 0, ABCD, "ASCII String (AB)", "ASCII String (AB)", VT_BSTR},
    {D::StringBA, String, 0, BADC, "ASCII String (BA)", "ASCII String (BA)", VT_BSTR},
};

static_assert(std::size(kTypes) == kLastDataType + 1);

constexpr bool InNumberOrder() {
  for (size_t i = 0; i < std::size(kTypes); ++i)
    if (static_cast<size_t>(kTypes[i].type) != i) return false;
  return true;
}
static_assert(InNumberOrder());

}  // namespace

const DataTypeInfo* FindDataTypeInfo(int32_t dataType) {
  return IsKnownDataType(dataType) ? &kTypes[dataType] : nullptr;
}

int RegistersOf(int32_t dataType, const TagFormat& format) {
  const DataTypeInfo* info = FindDataTypeInfo(dataType);
  if (info == nullptr) return 1;
  return info->registers != 0 ? info->registers : format.stringRegisters;
}

bool IsScalableDataType(int32_t dataType) {
  const DataTypeInfo* info = FindDataTypeInfo(dataType);
  if (info == nullptr) return false;
  return info->kind == ValueKind::Unsigned || info->kind == ValueKind::Signed ||
         info->kind == ValueKind::Float || info->kind == ValueKind::Bcd;
}

VARTYPE PublishedVarType(int32_t dataType, const TagFormat& format) {
  if (format.scaled && IsScalableDataType(dataType)) return VT_R8;
  const DataTypeInfo* info = FindDataTypeInfo(dataType);
  return info != nullptr ? info->published : VARTYPE{VT_R4};
}

bool NeedsExtendedFile(int32_t dataType, const TagFormat& format) {
  return !IsClassicDataType(dataType) || (format.scaled && IsScalableDataType(dataType));
}
