#include "tagserver/UaEncoder.h"

#include <cstring>

namespace tagserver {

void UaEncoder::UInt16(uint16_t v) {
  m_buf.push_back(static_cast<uint8_t>(v));
  m_buf.push_back(static_cast<uint8_t>(v >> 8));
}

void UaEncoder::UInt32(uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  m_buf.insert(m_buf.end(), b, b + 4);
}

void UaEncoder::UInt64(uint64_t v) {
  UInt32(static_cast<uint32_t>(v));
  UInt32(static_cast<uint32_t>(v >> 32));
}

void UaEncoder::Float(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  UInt32(bits);
}

void UaEncoder::Double(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  UInt64(bits);
}

void UaEncoder::Raw(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  m_buf.insert(m_buf.end(), b, b + n);
}

void UaEncoder::PatchUInt32(size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) m_buf[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

void UaEncoder::String(std::string_view s) {
  Int32(static_cast<int32_t>(s.size()));
  Raw(s.data(), s.size());
}

void UaEncoder::Bytes(const ByteString& b) {
  Int32(static_cast<int32_t>(b.size()));
  Raw(b.data(), b.size());
}

void UaEncoder::NodeIdWithFlags(const UaNodeId& id, uint8_t flags) {
  switch (id.kind) {
    case UaNodeId::Kind::Numeric:
      if (id.ns == 0 && id.numeric <= 0xFF) {
        Byte(flags | 0);
        Byte(static_cast<uint8_t>(id.numeric));
      } else if (id.ns <= 0xFF && id.numeric <= 0xFFFF) {
        Byte(flags | 1);
        Byte(static_cast<uint8_t>(id.ns));
        UInt16(static_cast<uint16_t>(id.numeric));
      } else {
        Byte(flags | 2);
        UInt16(id.ns);
        UInt32(id.numeric);
      }
      return;
    case UaNodeId::Kind::String:
      Byte(flags | 3);
      UInt16(id.ns);
      String(id.text);
      return;
    case UaNodeId::Kind::Guid:
      Byte(flags | 4);
      UInt16(id.ns);
      Raw(id.text.data(), 16);
      return;
    case UaNodeId::Kind::Opaque:
      Byte(flags | 5);
      UInt16(id.ns);
      String(id.text);
      return;
  }
}

void UaEncoder::NodeId(const UaNodeId& id) { NodeIdWithFlags(id, 0); }

void UaEncoder::ExpandedNodeId(const UaExpandedNodeId& id) {
  uint8_t flags = (id.namespaceUri.empty() ? 0 : 0x80) | (id.serverIndex == 0 ? 0 : 0x40);
  NodeIdWithFlags(id.id, flags);
  if (flags & 0x80) String(id.namespaceUri);
  if (flags & 0x40) UInt32(id.serverIndex);
}

void UaEncoder::QualifiedName(const UaQualifiedName& q) {
  UInt16(q.ns);
  String(q.name);
}

void UaEncoder::LocalizedText(const UaLocalizedText& t) {
  uint8_t mask = (t.locale.empty() ? 0 : 0x01) | (t.text.empty() ? 0 : 0x02);
  Byte(mask);
  if (mask & 0x01) String(t.locale);
  if (mask & 0x02) String(t.text);
}

void UaEncoder::ExtensionObject(const UaExtensionObject& e) {
  NodeId(e.typeId);
  Byte(e.encoding);
  if (e.encoding != 0) Bytes(e.body);
}

void UaEncoder::Scalar(UaType type, const UaScalar& v) {
  switch (type) {
    case UaType::Boolean: Boolean(std::get<bool>(v)); return;
    case UaType::SByte: Byte(static_cast<uint8_t>(std::get<int64_t>(v))); return;
    case UaType::Byte: Byte(static_cast<uint8_t>(std::get<uint64_t>(v))); return;
    case UaType::Int16: UInt16(static_cast<uint16_t>(std::get<int64_t>(v))); return;
    case UaType::UInt16: UInt16(static_cast<uint16_t>(std::get<uint64_t>(v))); return;
    case UaType::Int32: Int32(static_cast<int32_t>(std::get<int64_t>(v))); return;
    case UaType::UInt32:
    case UaType::StatusCode: UInt32(static_cast<uint32_t>(std::get<uint64_t>(v))); return;
    case UaType::Int64:
    case UaType::DateTime: Int64(std::get<int64_t>(v)); return;
    case UaType::UInt64: UInt64(std::get<uint64_t>(v)); return;
    case UaType::Float: Float(std::get<float>(v)); return;
    case UaType::Double: Double(std::get<double>(v)); return;
    case UaType::String:
    case UaType::ByteString:
    case UaType::XmlElement: String(std::get<std::string>(v)); return;
    case UaType::Guid: Raw(std::get<std::string>(v).data(), 16); return;
    case UaType::NodeId: NodeId(std::get<UaNodeId>(v)); return;
    case UaType::ExpandedNodeId: ExpandedNodeId(std::get<UaExpandedNodeId>(v)); return;
    case UaType::QualifiedName: QualifiedName(std::get<UaQualifiedName>(v)); return;
    case UaType::LocalizedText: LocalizedText(std::get<UaLocalizedText>(v)); return;
    case UaType::ExtensionObject: ExtensionObject(std::get<UaExtensionObject>(v)); return;
    case UaType::DataValue: DataValue(*std::get<std::shared_ptr<UaDataValue>>(v)); return;
    case UaType::Variant: Variant(*std::get<std::shared_ptr<UaVariant>>(v)); return;
    case UaType::DiagnosticInfo: EmptyDiagnosticInfo(); return;
    case UaType::Null: return;
  }
}

void UaEncoder::Variant(const UaVariant& v) {
  uint8_t mask = static_cast<uint8_t>(v.type);
  if (v.isArray) mask |= 0x80;
  if (v.isArray && !v.dimensions.empty()) mask |= 0x40;
  Byte(mask);
  if (v.type == UaType::Null) return;
  if (!v.isArray) {
    Scalar(v.type, v.values.at(0));
    return;
  }
  Int32(static_cast<int32_t>(v.values.size()));
  for (const auto& s : v.values) Scalar(v.type, s);
  if (mask & 0x40) {
    Int32(static_cast<int32_t>(v.dimensions.size()));
    for (int32_t d : v.dimensions) Int32(d);
  }
}

void UaEncoder::DataValue(const UaDataValue& dv) {
  uint8_t mask = (dv.hasValue ? 0x01 : 0) | (dv.hasStatus && dv.status != 0 ? 0x02 : 0) |
                 (dv.sourceTimestamp != 0 ? 0x04 : 0) | (dv.serverTimestamp != 0 ? 0x08 : 0);
  Byte(mask);
  if (mask & 0x01) Variant(dv.value);
  if (mask & 0x02) StatusCode(dv.status);
  if (mask & 0x04) DateTime(dv.sourceTimestamp);
  if (mask & 0x08) DateTime(dv.serverTimestamp);
}

void UaEncoder::FloatDataValue(bool hasValue, float value, uint32_t status, int64_t source,
                               int64_t server) {
  uint8_t mask = (hasValue ? 0x01 : 0) | (status != 0 ? 0x02 : 0) | (source != 0 ? 0x04 : 0) |
                 (server != 0 ? 0x08 : 0);
  Byte(mask);
  if (hasValue) {
    Byte(static_cast<uint8_t>(UaType::Float));
    Float(value);
  }
  if (status != 0) StatusCode(status);
  if (source != 0) DateTime(source);
  if (server != 0) DateTime(server);
}

void UaEncoder::StringArray(const std::vector<std::string>& a) {
  Int32(static_cast<int32_t>(a.size()));
  for (const auto& s : a) String(s);
}

void UaEncoder::UInt32Array(const std::vector<uint32_t>& a) {
  Int32(static_cast<int32_t>(a.size()));
  for (uint32_t v : a) UInt32(v);
}

}  // namespace tagserver
