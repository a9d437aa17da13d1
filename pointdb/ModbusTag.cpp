#include "pointdb/ModbusTag.h"

CModbusTag::CModbusTag()
    : m_nPointType(3),
      m_hTag(-1),
      m_nDataType(0),
      m_fLowLimit(0.0f),
      m_fHighLimit(100.0f),
      m_nFileDataType(-1) {
  VariantInit(&m_value);
}

CModbusTag::~CModbusTag() { VariantClear(&m_value); }
