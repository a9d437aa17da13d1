#include "pointdb/ModbusTag.h"

#include "pointdb/DataType.h"
#include "pointdb/PointType.h"

CModbusTag::CModbusTag()
    : m_nPointType(static_cast<int32_t>(PointType::HoldingRegister)),
      m_hTag(-1),
      m_nDataType(static_cast<int32_t>(DataType::Unsigned)),
      m_fLowLimit(0.0f),
      m_fHighLimit(100.0f),
      m_nFileDataType(-1) {
  VariantInit(&m_value);
}

CModbusTag::~CModbusTag() { VariantClear(&m_value); }

int32_t CModbusTag::FileDataType() const {
  const bool readAsAnother = m_nFileDataType != -1;
  return readAsAnother && m_nDataType == static_cast<int32_t>(DataType::Unsigned) ? m_nFileDataType
                                                                                  : m_nDataType;
}
