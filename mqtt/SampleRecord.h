// A MetricSample as one record of the spool: little-endian fields, strings
// with their lengths. Decoding takes any bytes and refuses what is not a
// whole, well-formed record.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "mqtt/MetricSample.h"

namespace mqtt {

class SampleRecord {
 public:
  static std::string Encode(const MetricSample& sample);
  static bool Decode(std::span<const uint8_t> bytes, MetricSample* sample);

 private:
  // The value's alternative, as the record stores it.
  enum class ValueKind : uint8_t { None = 0, Bool = 1, Int = 2, UInt = 3, Double = 4, Text = 5 };
  static void PutValue(std::string& out, const ScalarValue& value);
};

}  // namespace mqtt
