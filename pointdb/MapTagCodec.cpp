#include "pointdb/MapTagCodec.h"

#include "pointdb/DataTypeInfo.h"
#include "pointdb/RegisterCodec.h"
#include "pointdb/WriteRange.h"
#include "tagserver/tagserver.h"

namespace {

constexpr double kFullScale4095 = 4095.0;
constexpr double kFullScale9999 = 9999.0;

uint32_t StatusOfConversion(HRESULT result) {
  return result == DISP_E_OVERFLOW ? OPC_STATUS_BAD_OUT_OF_RANGE : OPC_STATUS_BAD_TYPE_MISMATCH;
}

}  // namespace

MapTagCodec::MapTagCodec(const MapTag& tag)
    : m_table(tag.table),
      m_dataType(static_cast<int32_t>(tag.type)),
      m_format(tag.format),
      m_access(tag.access) {
  // A map row has no low and high limits: the classic scaled types map their
  // raw count onto the row's engineering range, as a linear scale does.
  if (IsScaledDataType(tag.type)) {
    m_dataType = static_cast<int32_t>(DataType::Unsigned);
    m_format.scaled = true;
    m_format.rawLow = 0.0;
    m_format.rawHigh = tag.type == DataType::Scaled4095 ? kFullScale4095 : kFullScale9999;
  }
}

bool MapTagCodec::IsBitTable() const { return IsBitPointType(m_table); }

int MapTagCodec::Registers() const {
  return IsBitTable() ? 1 : RegistersOf(m_dataType, m_format);
}

VARTYPE MapTagCodec::PublishedType() const {
  return IsBitTable() ? VARTYPE{VT_BOOL} : PublishedVarType(m_dataType, m_format);
}

bool MapTagCodec::Writable() const {
  return m_access == MapAccess::ReadWrite && IsWritablePointType(m_table);
}

bool MapTagCodec::NeedsCurrent() const {
  return !IsBitTable() && m_dataType == static_cast<int32_t>(DataType::Bit);
}

bool MapTagCodec::EngineeringRange(double& low, double& high) const {
  if (IsBitTable() || !m_format.scaled || !IsScalableDataType(m_dataType)) return false;
  low = m_format.engLow;
  high = m_format.engHigh;
  return true;
}

bool MapTagCodec::Decode(std::span<const uint16_t> words, VARIANT& value) const {
  VariantInit(&value);
  if (static_cast<int>(words.size()) < Registers()) return false;
  if (IsBitTable()) {
    value.vt = VT_BOOL;
    value.boolVal = words[0] != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return true;
  }
  const DataTypeInfo* info = FindDataTypeInfo(m_dataType);
  if (info == nullptr) return false;
  return RegisterCodec(*info, m_format).Decode(words, value);
}

uint32_t MapTagCodec::Encode(const VARIANT& value, uint16_t current,
                             std::vector<uint16_t>& words) const {
  // A coil is one bit, whatever data type its row names.
  const int32_t rangeType = IsBitTable() ? static_cast<int32_t>(DataType::Bit) : m_dataType;
  const uint32_t range = WriteRange::Check(rangeType, m_format, value);
  if (range != OPC_STATUS_GOOD) return range;
  if (IsBitTable()) {
    VARIANT flag;
    VariantInit(&flag);
    const HRESULT converted = VariantChangeType(&flag, &value, 0, VT_BOOL);
    if (converted != S_OK) return StatusOfConversion(converted);
    words = {static_cast<uint16_t>(flag.boolVal != VARIANT_FALSE ? 1 : 0)};
    return OPC_STATUS_GOOD;
  }
  const DataTypeInfo* info = FindDataTypeInfo(m_dataType);
  if (info == nullptr) return OPC_STATUS_BAD_TYPE_MISMATCH;
  return RegisterCodec(*info, m_format).Encode(value, current, words);
}
