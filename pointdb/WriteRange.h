// The values a client may write to a tag, by its data type: one table for
// OPC UA, Sparkplug and JSON writes alike, checked before anything is sent,
// so that a value the device's registers cannot hold is refused rather than
// cut to its low bits.
#pragma once

#include <cstdint>

#include "platform/Variant.h"
#include "pointdb/TagFormat.h"

class WriteRange {
 public:
  enum class Bound { Integer, Float32, Float64, Held, Boolean, Text };

  Bound bound;
  int64_t low = 0;  // Integer only, like high
  uint64_t high = 0;

  // Null for a number that is no data type. A linearly scaled tag is Held:
  // its value is held to the engineering range on the way out.
  static const WriteRange* Of(int32_t dataType, const TagFormat& format);
  // Good; BadTypeMismatch for a value that is no number (or text of one) or
  // for an unknown type; BadOutOfRange for a number the type cannot hold,
  // Not a Number included for every type but the floats.
  static uint32_t Check(int32_t dataType, const TagFormat& format, const VARIANT& value);

 private:
  uint32_t CheckInteger(const VARIANT& value) const;
};
