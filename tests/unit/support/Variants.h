// VARIANT values for tests, made in one expression.
#pragma once

#include "platform/Variant.h"

// A double, as an OPC UA client's write of a Double arrives.
inline VARIANT Number(double d) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = d;
  return v;
}
