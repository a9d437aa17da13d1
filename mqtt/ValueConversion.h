// Between the VARIANTs the program hands over and the scalar values the
// payloads carry, and between the gateway's clocks and status codes and what
// MQTT subscribers read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mqtt/MetricSample.h"
#include "opcua/UaStatusCodes.h"
#include "platform/Variant.h"

namespace mqtt {

// The Quality property of a metric: the OPC UA status code's severity.
enum class Quality : int32_t { Bad = 0, Uncertain = 64, Good = 192 };

// OPC UA status codes the publisher answers refused writes with.
enum class WriteRefusal : uint32_t {
  NodeIdUnknown = UaStatus::BadNodeIdUnknown,
  NotWritable = UaStatus::BadNotWritable,
  OutOfRange = UaStatus::BadOutOfRange,
  TypeMismatch = UaStatus::BadTypeMismatch,
};

class ValueConversion {
 public:
  // The value converted to type first (so a metric always carries its
  // declared type); monostate when it cannot be.
  static ScalarValue FromVariant(const VARIANT& value, VARTYPE type);
  // value as a VARIANT of type; fails as VariantChangeType does, and for
  // text that is not UTF-8. out must be VariantClear'ed by the caller on
  // success.
  static HRESULT ToVariant(const ScalarValue& value, VARTYPE type, VARIANT* out);
  static Quality QualityOf(uint32_t status);
  static bool IsBad(uint32_t status);
  // 100 ns ticks since 1601 to milliseconds since 1970; 0 (no time) is now.
  static uint64_t MillisecondsFromFileTime(int64_t ticks);
  static uint64_t NowMilliseconds();
  // 2026-12-07T18:00:00.123Z
  static std::string IsoTime(uint64_t ms);
  static std::string StatusText(uint32_t status);
  static bool IsUtf8(std::string_view text);

 private:
  static ScalarValue FromTypedVariant(const VARIANT& value);
  static VARIANT SourceVariant(const ScalarValue& value);
};

}  // namespace mqtt
