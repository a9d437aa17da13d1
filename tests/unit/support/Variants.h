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

// Text, as a client's write of a String arrives; the receiver clears it.
inline VARIANT Text(const char* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}
