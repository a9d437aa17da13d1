// One published point of a scan.
#pragma once

#include <cstdint>

#include "platform/Variant.h"
#include "pointdb/DataType.h"
#include "pointdb/PointType.h"
#include "pointdb/TagFormat.h"

class CModbusTag {
 public:
  CModbusTag();
  // Clears m_value; removing the tag from the tag server is the document's job.
  virtual ~CModbusTag();
  CModbusTag(const CModbusTag&) = delete;
  CModbusTag& operator=(const CModbusTag&) = delete;

  // The fields keep the numbers the files carry; these read them as names.
  PointType GetPointType() const { return static_cast<PointType>(m_nPointType); }
  DataType GetDataType() const { return static_cast<DataType>(m_nDataType); }
  // The data type its scan file keeps: the file's own for a tag read as
  // UNSIGNED, unless the operator has chosen another type since.
  int32_t FileDataType() const;

  int32_t m_nPointType;
  int32_t m_hTag;
  VARIANT m_value;
  int32_t m_nDataType;
  float m_fLowLimit;
  float m_fHighLimit;
  // The data type the tag's scan file gave it when it is read as another
  // (UNSIGNED for a 32-bit type on a bit point), so that saving writes the
  // file's own type back; -1 when it is read as stored.
  int32_t m_nFileDataType;
  // Bit number, string length and linear scale; classic types use the scale only.
  TagFormat m_format;
  // The status and source time m_value was last published with, so that an
  // observer that comes later learns the tag as clients see it; no status
  // before the first.
  bool m_bPublished = false;
  uint32_t m_nPublishedStatus = 0;
  int64_t m_publishedTime = 0;
};
