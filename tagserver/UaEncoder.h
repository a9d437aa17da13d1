// Writes the OPC UA binary encoding onto the end of a byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tagserver/UaTypes.h"

namespace tagserver {

class UaEncoder {
 public:
  std::vector<uint8_t>& Buffer() { return m_buf; }
  size_t Size() const { return m_buf.size(); }

  void Boolean(bool v) { Byte(v ? 1 : 0); }
  void Byte(uint8_t v) { m_buf.push_back(v); }
  void UInt16(uint16_t v);
  void Int16(int16_t v) { UInt16(static_cast<uint16_t>(v)); }
  void UInt32(uint32_t v);
  void Int32(int32_t v) { UInt32(static_cast<uint32_t>(v)); }
  void UInt64(uint64_t v);
  void Int64(int64_t v) { UInt64(static_cast<uint64_t>(v)); }
  void Float(float v);
  void Double(double v);
  void DateTime(int64_t v) { Int64(v); }
  void StatusCode(uint32_t v) { UInt32(v); }
  void String(std::string_view s);
  void NullString() { Int32(-1); }
  void Bytes(const ByteString& b);
  void NodeId(const UaNodeId& id);
  void ExpandedNodeId(const UaExpandedNodeId& id);
  void QualifiedName(const UaQualifiedName& q);
  void LocalizedText(const UaLocalizedText& t);
  void ExtensionObject(const UaExtensionObject& e);
  void Variant(const UaVariant& v);
  void DataValue(const UaDataValue& dv);
  // A DataValue of one Float, the shape of every tag value; kept apart from
  // the general path because notifications are written by the hundred thousand.
  void FloatDataValue(bool hasValue, float value, uint32_t status, int64_t source, int64_t server);
  void EmptyDiagnosticInfo() { Byte(0); }
  void StringArray(const std::vector<std::string>& a);
  void UInt32Array(const std::vector<uint32_t>& a);
  void StatusArray(const std::vector<uint32_t>& a) { UInt32Array(a); }
  void EmptyArray() { Int32(0); }
  void NullArray() { Int32(-1); }
  void Raw(const void* p, size_t n);
  void PatchUInt32(size_t offset, uint32_t v);

 private:
  void NodeIdWithFlags(const UaNodeId& id, uint8_t flags);
  void Scalar(UaType type, const UaScalar& v);

  std::vector<uint8_t> m_buf;
};

}  // namespace tagserver
