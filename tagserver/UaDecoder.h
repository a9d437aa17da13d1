// Reads the OPC UA binary encoding from a byte range that it never leaves.
// Every failure raises UaDecodeError; lengths are checked against the bytes
// that remain, so hostile lengths cannot make it allocate beyond the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tagserver/UaDecodeError.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

class UaDecoder {
 public:
  UaDecoder(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}

  size_t Remaining() const { return m_nSize - m_nPos; }
  size_t Position() const { return m_nPos; }

  bool Boolean() { return Byte() != 0; }
  uint8_t Byte();
  int8_t SByte() { return static_cast<int8_t>(Byte()); }
  uint16_t UInt16();
  int16_t Int16() { return static_cast<int16_t>(UInt16()); }
  uint32_t UInt32();
  int32_t Int32() { return static_cast<int32_t>(UInt32()); }
  uint64_t UInt64();
  int64_t Int64() { return static_cast<int64_t>(UInt64()); }
  float Float();
  double Double();
  int64_t DateTime() { return Int64(); }
  uint32_t StatusCode() { return UInt32(); }
  std::string String();
  ByteString Bytes();
  std::string Guid();
  UaNodeId NodeId();
  UaExpandedNodeId ExpandedNodeId();
  UaQualifiedName QualifiedName();
  UaLocalizedText LocalizedText();
  UaExtensionObject ExtensionObject();
  UaVariant Variant();
  UaDataValue DataValue();
  void SkipDiagnosticInfo();
  // An array length: -1 (null) reads as 0; each element needs at least
  // minElementSize bytes, which bounds what a caller reserves.
  size_t ArrayLength(size_t minElementSize = 1);
  std::vector<std::string> StringArray();
  std::vector<uint32_t> UInt32Array();
  std::vector<UaNodeId> NodeIdArray();
  // An array of structures, each read by readOne; minElementSize as above.
  template <typename ReadOne>
  auto ArrayOf(size_t minElementSize, ReadOne readOne) {
    std::vector<decltype(readOne(*this))> out;
    size_t n = ArrayLength(minElementSize);
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) out.push_back(readOne(*this));
    return out;
  }
  void Raw(void* out, size_t n);

 private:
  const uint8_t* Take(size_t n);
  UaScalar ScalarOf(UaType type);
  UaNodeId NodeIdBody(uint8_t encoding);
  std::string LengthPrefixed();

  const uint8_t* m_pData;
  size_t m_nSize;
  size_t m_nPos = 0;
  int m_nDepth = 0;
};

}  // namespace tagserver
