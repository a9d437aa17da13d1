// The OPC UA built-in types the server reads and writes, as plain records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace tagserver {

using ByteString = std::vector<uint8_t>;

// DateTime: 100 ns ticks since 1601-01-01 UTC.
int64_t UaNow();
// Milliseconds of a monotonic clock, for lifetimes and timeouts.
int64_t SteadyMs();

struct UaNodeId {
  enum class Kind : uint8_t { Numeric, String, Guid, Opaque };
  uint16_t ns = 0;
  Kind kind = Kind::Numeric;
  uint32_t numeric = 0;
  std::string text;  // string id, or the 16 raw bytes of a GUID / opaque id

  static UaNodeId Num(uint16_t ns, uint32_t id) { return {ns, Kind::Numeric, id, {}}; }
  static UaNodeId Str(uint16_t ns, std::string s) { return {ns, Kind::String, 0, std::move(s)}; }
  bool IsNull() const { return ns == 0 && kind == Kind::Numeric && numeric == 0; }
  bool operator==(const UaNodeId&) const = default;
};

struct UaExpandedNodeId {
  UaNodeId id;
  std::string namespaceUri;
  uint32_t serverIndex = 0;
};

struct UaQualifiedName {
  uint16_t ns = 0;
  std::string name;
  bool operator==(const UaQualifiedName&) const = default;
};

struct UaLocalizedText {
  std::string locale;
  std::string text;
};

struct UaExtensionObject {
  UaNodeId typeId;
  uint8_t encoding = 0;  // 0 no body, 1 binary body, 2 XML body
  ByteString body;
};

// Built-in type ids as the Variant encoding numbers them.
enum class UaType : uint8_t {
  Null = 0,
  Boolean = 1,
  SByte = 2,
  Byte = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  DateTime = 13,
  Guid = 14,
  ByteString = 15,
  XmlElement = 16,
  NodeId = 17,
  ExpandedNodeId = 18,
  StatusCode = 19,
  QualifiedName = 20,
  LocalizedText = 21,
  ExtensionObject = 22,
  DataValue = 23,
  Variant = 24,
  DiagnosticInfo = 25,
};

struct UaDataValue;
struct UaVariant;

// One scalar of any built-in type. Integers of every width travel in the
// 64-bit members, tagged by the Variant's type.
using UaScalar =
    std::variant<std::monostate, bool, int64_t, uint64_t, float, double, std::string, UaNodeId,
                 UaExpandedNodeId, UaQualifiedName, UaLocalizedText, UaExtensionObject,
                 std::shared_ptr<UaDataValue>, std::shared_ptr<UaVariant>>;

struct UaVariant {
  UaType type = UaType::Null;
  bool isArray = false;
  std::vector<UaScalar> values;  // one element when scalar
  std::vector<int32_t> dimensions;

  static UaVariant Scalar(UaType t, UaScalar v) { return {t, false, {std::move(v)}, {}}; }
  static UaVariant Array(UaType t, std::vector<UaScalar> v) { return {t, true, std::move(v), {}}; }
  bool IsEmpty() const { return type == UaType::Null; }
};

struct UaDataValue {
  bool hasValue = false;
  UaVariant value;
  bool hasStatus = false;
  uint32_t status = 0;
  int64_t sourceTimestamp = 0;  // 0 = absent
  int64_t serverTimestamp = 0;
};

}  // namespace tagserver
