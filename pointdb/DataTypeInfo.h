// What each data type is: how many registers it takes, how their bytes are
// ordered, what it holds, the names the operator sees, and the VARIANT type
// its values are published as.
#pragma once

#include <cstdint>

#include "platform/Variant.h"
#include "pointdb/DataType.h"
#include "pointdb/TagFormat.h"

enum class ValueKind { Unsigned, Signed, Float, ClassicScaled, Bcd, Bit, String };

// A is the most significant byte. ABCD: registers high first, each high byte
// first; CDAB: registers low first; BADC: high first with the bytes of each
// register swapped; DCBA: both. Wider types extend the same rule.
enum class ByteOrder { ABCD, CDAB, BADC, DCBA };

struct DataTypeInfo {
  DataType type;
  ValueKind kind;
  int registers;  // 0: the tag's string length says
  ByteOrder order;
  const char* listName;  // in the data type dialog
  const char* typeText;  // in the tag list
  VARTYPE published;     // unscaled
};

// Null for a number that is no data type.
const DataTypeInfo* FindDataTypeInfo(int32_t dataType);
// Registers a tag of this type and format takes; 1 for an unknown type.
int RegistersOf(int32_t dataType, const TagFormat& format);
// Whether a linear scale may be put on the type: the numbers, but not the two
// classic scaled types, which scale by their limits.
bool IsScalableDataType(int32_t dataType);
// The VARIANT type the tag's values are published as.
VARTYPE PublishedVarType(int32_t dataType, const TagFormat& format);
// Whether the tag needs more than a "3.00" scan file can say.
bool NeedsExtendedFile(int32_t dataType, const TagFormat& format);
