#include "WireWriter.h"

#include <bit>
#include <stdexcept>

namespace tagserver::test {

namespace {

// NodeId encoding bytes.
constexpr uint8_t kTwoByte = 0x00;
constexpr uint8_t kFourByte = 0x01;
constexpr uint8_t kNumeric = 0x02;
constexpr uint8_t kString = 0x03;
constexpr uint8_t kGuid = 0x04;
constexpr uint8_t kOpaque = 0x05;

// Variant and DataValue mask bits.
constexpr uint8_t kArrayBit = 0x80;
constexpr uint8_t kHasValue = 0x01;
constexpr uint8_t kHasStatus = 0x02;
constexpr uint8_t kHasSourceTime = 0x04;
constexpr uint8_t kHasServerTime = 0x08;

}  // namespace

void WireWriter::raw(std::string_view text) {
  raw(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void WireWriter::raw(const uint8_t* data, size_t size) {
  m_bytes.insert(m_bytes.end(), data, data + size);
}

void WireWriter::uint16(uint16_t v) {
  byte(static_cast<uint8_t>(v));
  byte(static_cast<uint8_t>(v >> 8));
}

void WireWriter::uint32(uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) byte(static_cast<uint8_t>(v >> shift));
}

void WireWriter::int64(int64_t v) {
  auto u = static_cast<uint64_t>(v);
  for (int shift = 0; shift < 64; shift += 8) byte(static_cast<uint8_t>(u >> shift));
}

void WireWriter::float32(float v) { uint32(std::bit_cast<uint32_t>(v)); }

void WireWriter::float64(double v) { int64(std::bit_cast<int64_t>(v)); }

void WireWriter::string(std::string_view s) {
  int32(static_cast<int32_t>(s.size()));
  raw(s);
}

void WireWriter::byteString(const ByteString& b) {
  int32(static_cast<int32_t>(b.size()));
  raw(b.data(), b.size());
}

void WireWriter::stringArray(const std::vector<std::string>& items) {
  int32(static_cast<int32_t>(items.size()));
  for (const auto& s : items) string(s);
}

void WireWriter::uint32Array(const std::vector<uint32_t>& items) {
  int32(static_cast<int32_t>(items.size()));
  for (uint32_t v : items) uint32(v);
}

void WireWriter::numericNodeId(const UaNodeId& id) {
  if (id.ns == 0 && id.numeric <= 0xFF) {
    byte(kTwoByte);
    byte(static_cast<uint8_t>(id.numeric));
  } else if (id.ns <= 0xFF && id.numeric <= 0xFFFF) {
    byte(kFourByte);
    byte(static_cast<uint8_t>(id.ns));
    uint16(static_cast<uint16_t>(id.numeric));
  } else {
    byte(kNumeric);
    uint16(id.ns);
    uint32(id.numeric);
  }
}

void WireWriter::nodeId(const UaNodeId& id) {
  switch (id.kind) {
    case UaNodeId::Kind::Numeric: numericNodeId(id); return;
    case UaNodeId::Kind::String: byte(kString); break;
    case UaNodeId::Kind::Guid: byte(kGuid); break;
    case UaNodeId::Kind::Opaque: byte(kOpaque); break;
  }
  uint16(id.ns);
  if (id.kind == UaNodeId::Kind::Guid) {
    raw(id.text);  // the 16 bytes as they go on the wire
  } else {
    string(id.text);
  }
}

void WireWriter::qualifiedName(const UaQualifiedName& name) {
  uint16(name.ns);
  string(name.name);
}

void WireWriter::localizedText(const UaLocalizedText& text) {
  byte(static_cast<uint8_t>((text.locale.empty() ? 0 : 1) | (text.text.empty() ? 0 : 2)));
  if (!text.locale.empty()) string(text.locale);
  if (!text.text.empty()) string(text.text);
}

void WireWriter::extensionObject(const UaExtensionObject& object) {
  nodeId(object.typeId);
  byte(object.encoding);
  if (object.encoding != 0) byteString(object.body);
}

void WireWriter::scalar(UaType type, const UaScalar& v) {
  switch (type) {
    case UaType::Boolean: boolean(std::get<bool>(v)); return;
    case UaType::Int16: uint16(static_cast<uint16_t>(std::get<int64_t>(v))); return;
    case UaType::Int32: int32(static_cast<int32_t>(std::get<int64_t>(v))); return;
    case UaType::UInt32: uint32(static_cast<uint32_t>(std::get<uint64_t>(v))); return;
    case UaType::Float: float32(std::get<float>(v)); return;
    case UaType::Double: float64(std::get<double>(v)); return;
    case UaType::String: string(std::get<std::string>(v)); return;
    default: throw std::invalid_argument("no test sends this Variant type");
  }
}

void WireWriter::variant(const UaVariant& v) {
  byte(static_cast<uint8_t>(static_cast<uint8_t>(v.type) | (v.isArray ? kArrayBit : 0)));
  if (v.isArray) int32(static_cast<int32_t>(v.values.size()));
  for (const auto& value : v.values) scalar(v.type, value);
}

void WireWriter::dataValue(const UaDataValue& dv) {
  byte(static_cast<uint8_t>((dv.hasValue ? kHasValue : 0) | (dv.hasStatus ? kHasStatus : 0) |
                            (dv.sourceTimestamp != 0 ? kHasSourceTime : 0) |
                            (dv.serverTimestamp != 0 ? kHasServerTime : 0)));
  if (dv.hasValue) variant(dv.value);
  if (dv.hasStatus) uint32(dv.status);
  if (dv.sourceTimestamp != 0) int64(dv.sourceTimestamp);
  if (dv.serverTimestamp != 0) int64(dv.serverTimestamp);
}

void WireWriter::patchUInt32(size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) m_bytes.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace tagserver::test
