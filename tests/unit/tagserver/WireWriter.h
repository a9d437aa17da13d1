// Request bytes written field by field from the published binary layout,
// by code that shares nothing with the server's encoder: a field-order or
// encoding mistake in the server then shows instead of cancelling out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tagserver/UaTypes.h"

namespace tagserver::test {

class WireWriter {
 public:
  const std::vector<uint8_t>& bytes() const { return m_bytes; }
  size_t size() const { return m_bytes.size(); }

  void raw(std::string_view text);
  void raw(const uint8_t* data, size_t size);
  void byte(uint8_t v) { m_bytes.push_back(v); }
  void boolean(bool v) { byte(v ? 1 : 0); }
  void uint16(uint16_t v);
  void uint32(uint32_t v);
  void int32(int32_t v) { uint32(static_cast<uint32_t>(v)); }
  void int64(int64_t v);
  void dateTime(int64_t ticks) { int64(ticks); }
  void float32(float v);
  void float64(double v);
  void string(std::string_view s);
  void nullString() { int32(-1); }
  void byteString(const ByteString& b);
  void stringArray(const std::vector<std::string>& items);
  void uint32Array(const std::vector<uint32_t>& items);
  void nullArray() { int32(-1); }
  void nodeId(const UaNodeId& id);
  void qualifiedName(const UaQualifiedName& name);
  void localizedText(const UaLocalizedText& text);
  void extensionObject(const UaExtensionObject& object);
  void variant(const UaVariant& v);
  void dataValue(const UaDataValue& dv);
  // Overwrites four bytes already written, for a size known at the end.
  void patchUInt32(size_t at, uint32_t v);

 private:
  void numericNodeId(const UaNodeId& id);
  void scalar(UaType type, const UaScalar& v);

  std::vector<uint8_t> m_bytes;
};

}  // namespace tagserver::test
