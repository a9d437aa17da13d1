#include "tagserver/UaDecoder.h"

#include <cstring>

#include "opcua/UaStatusCodes.h"

namespace tagserver {

namespace {

constexpr int kMaxDepth = 16;

// Keeps the nesting of Variants, DataValues and DiagnosticInfos shallow, so
// that a hostile message cannot exhaust the stack.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : m_depth(depth) {
    if (++m_depth > kMaxDepth) {
      --m_depth;
      throw UaDecodeError(UaStatus::BadDecodingError, "nesting too deep");
    }
  }
  ~DepthGuard() { --m_depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& m_depth;
};

}  // namespace

const uint8_t* UaDecoder::Take(size_t n) {
  if (n > Remaining()) throw UaDecodeError(UaStatus::BadDecodingError, "message ends early");
  const uint8_t* p = m_pData + m_nPos;
  m_nPos += n;
  return p;
}

void UaDecoder::Raw(void* out, size_t n) {
  const uint8_t* p = Take(n);
  if (n != 0) std::memcpy(out, p, n);
}

uint8_t UaDecoder::Byte() { return *Take(1); }

uint16_t UaDecoder::UInt16() {
  const uint8_t* p = Take(2);
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t UaDecoder::UInt32() {
  const uint8_t* p = Take(4);
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t UaDecoder::UInt64() {
  uint64_t low = UInt32();
  uint64_t high = UInt32();
  return low | (high << 32);
}

float UaDecoder::Float() {
  uint32_t bits = UInt32();
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

double UaDecoder::Double() {
  uint64_t bits = UInt64();
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

std::string UaDecoder::LengthPrefixed() {
  int32_t length = Int32();
  if (length < 0) return {};
  const uint8_t* p = Take(static_cast<size_t>(length));
  return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(length));
}

std::string UaDecoder::String() { return LengthPrefixed(); }

ByteString UaDecoder::Bytes() {
  std::string s = LengthPrefixed();
  return ByteString(s.begin(), s.end());
}

std::string UaDecoder::Guid() {
  const uint8_t* p = Take(16);
  return std::string(reinterpret_cast<const char*>(p), 16);
}

UaNodeId UaDecoder::NodeId() {
  uint8_t encoding = Byte();
  if ((encoding & 0xC0) != 0)
    throw UaDecodeError(UaStatus::BadDecodingError, "NodeId with ExpandedNodeId flags");
  return NodeIdBody(encoding);
}

UaNodeId UaDecoder::NodeIdBody(uint8_t encoding) {
  UaNodeId id;
  switch (encoding & 0x3F) {
    case 0: id.numeric = Byte(); break;
    case 1:
      id.ns = Byte();
      id.numeric = UInt16();
      break;
    case 2:
      id.ns = UInt16();
      id.numeric = UInt32();
      break;
    case 3:
      id.ns = UInt16();
      id.kind = UaNodeId::Kind::String;
      id.text = String();
      break;
    case 4:
      id.ns = UInt16();
      id.kind = UaNodeId::Kind::Guid;
      id.text = Guid();
      break;
    case 5:
      id.ns = UInt16();
      id.kind = UaNodeId::Kind::Opaque;
      id.text = LengthPrefixed();
      break;
    default: throw UaDecodeError(UaStatus::BadDecodingError, "unknown NodeId encoding");
  }
  return id;
}

UaExpandedNodeId UaDecoder::ExpandedNodeId() {
  UaExpandedNodeId e;
  uint8_t flags = Byte();
  e.id = NodeIdBody(flags);
  if (flags & 0x80) e.namespaceUri = String();
  if (flags & 0x40) e.serverIndex = UInt32();
  return e;
}

UaQualifiedName UaDecoder::QualifiedName() {
  UaQualifiedName q;
  q.ns = UInt16();
  q.name = String();
  return q;
}

UaLocalizedText UaDecoder::LocalizedText() {
  uint8_t mask = Byte();
  UaLocalizedText t;
  if (mask & 0x01) t.locale = String();
  if (mask & 0x02) t.text = String();
  return t;
}

UaExtensionObject UaDecoder::ExtensionObject() {
  UaExtensionObject e;
  e.typeId = NodeId();
  e.encoding = Byte();
  if (e.encoding > 2)
    throw UaDecodeError(UaStatus::BadDecodingError, "bad ExtensionObject encoding");
  if (e.encoding != 0) e.body = Bytes();
  return e;
}

size_t UaDecoder::ArrayLength(size_t minElementSize) {
  int32_t length = Int32();
  if (length <= 0) return 0;
  if (static_cast<size_t>(length) > Remaining() / (minElementSize == 0 ? 1 : minElementSize))
    throw UaDecodeError(UaStatus::BadEncodingLimitsExceeded, "array longer than its message");
  return static_cast<size_t>(length);
}

std::vector<std::string> UaDecoder::StringArray() {
  std::vector<std::string> out(ArrayLength(4));
  for (auto& s : out) s = String();
  return out;
}

std::vector<uint32_t> UaDecoder::UInt32Array() {
  std::vector<uint32_t> out(ArrayLength(4));
  for (auto& v : out) v = UInt32();
  return out;
}

std::vector<UaNodeId> UaDecoder::NodeIdArray() {
  return ArrayOf(2, [](UaDecoder& in) { return in.NodeId(); });
}

UaScalar UaDecoder::ScalarOf(UaType type) {
  switch (type) {
    case UaType::Boolean: return Boolean();
    case UaType::SByte: return static_cast<int64_t>(SByte());
    case UaType::Byte: return static_cast<uint64_t>(Byte());
    case UaType::Int16: return static_cast<int64_t>(Int16());
    case UaType::UInt16: return static_cast<uint64_t>(UInt16());
    case UaType::Int32: return static_cast<int64_t>(Int32());
    case UaType::UInt32: return static_cast<uint64_t>(UInt32());
    case UaType::Int64: return Int64();
    case UaType::UInt64: return UInt64();
    case UaType::Float: return Float();
    case UaType::Double: return Double();
    case UaType::String:
    case UaType::ByteString:
    case UaType::XmlElement: return LengthPrefixed();
    case UaType::DateTime: return Int64();
    case UaType::Guid: return Guid();
    case UaType::StatusCode: return static_cast<uint64_t>(UInt32());
    case UaType::NodeId: return NodeId();
    case UaType::ExpandedNodeId: return ExpandedNodeId();
    case UaType::QualifiedName: return QualifiedName();
    case UaType::LocalizedText: return LocalizedText();
    case UaType::ExtensionObject: return ExtensionObject();
    case UaType::DataValue: return std::make_shared<UaDataValue>(DataValue());
    case UaType::Variant: return std::make_shared<UaVariant>(Variant());
    case UaType::DiagnosticInfo: SkipDiagnosticInfo(); return std::monostate{};
    case UaType::Null: return std::monostate{};
  }
  throw UaDecodeError(UaStatus::BadDecodingError, "unknown Variant type");
}

UaVariant UaDecoder::Variant() {
  DepthGuard guard(m_nDepth);
  uint8_t mask = Byte();
  uint8_t typeId = mask & 0x3F;
  if (typeId > static_cast<uint8_t>(UaType::DiagnosticInfo))
    throw UaDecodeError(UaStatus::BadDecodingError, "unknown Variant type");
  UaVariant v;
  v.type = static_cast<UaType>(typeId);
  v.isArray = (mask & 0x80) != 0;
  if (v.isArray) {
    size_t n = ArrayLength(1);
    v.values.reserve(n);
    for (size_t i = 0; i < n; ++i) v.values.push_back(ScalarOf(v.type));
    if (mask & 0x40) {
      size_t dims = ArrayLength(4);
      for (size_t i = 0; i < dims; ++i) v.dimensions.push_back(Int32());
    }
  } else if (v.type != UaType::Null) {
    v.values.push_back(ScalarOf(v.type));
  }
  return v;
}

UaDataValue UaDecoder::DataValue() {
  DepthGuard guard(m_nDepth);
  uint8_t mask = Byte();
  UaDataValue dv;
  if (mask & 0x01) {
    dv.hasValue = true;
    dv.value = Variant();
  }
  if (mask & 0x02) {
    dv.hasStatus = true;
    dv.status = UInt32();
  }
  if (mask & 0x04) dv.sourceTimestamp = Int64();
  if (mask & 0x10) UInt16();
  if (mask & 0x08) dv.serverTimestamp = Int64();
  if (mask & 0x20) UInt16();
  return dv;
}

void UaDecoder::SkipDiagnosticInfo() {
  DepthGuard guard(m_nDepth);
  uint8_t mask = Byte();
  if (mask & 0x01) Int32();
  if (mask & 0x02) Int32();
  if (mask & 0x08) Int32();
  if (mask & 0x04) Int32();
  if (mask & 0x10) String();
  if (mask & 0x20) UInt32();
  if (mask & 0x40) SkipDiagnosticInfo();
}

}  // namespace tagserver
