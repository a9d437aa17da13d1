// The value container that travels between OPC clients, the tag server and the
// scans: the OLE VARIANT with the handful of types an OPC client can send, and
// the conversion rules that the client-write path relies on.
#pragma once

#include <cstdint>

using VARTYPE = uint16_t;
using HRESULT = int32_t;
using VARIANT_BOOL = int16_t;
// Text values are UTF-8, allocated by SysAllocString and owned by the VARIANT
// that holds them; VariantClear frees them.
using BSTR = char*;
// Days since 1899-12-30 00:00, the fraction the time of day.
using DATE = double;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
};

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);

struct VARIANT {
  VARTYPE vt;
  union {
    int8_t cVal;
    uint8_t bVal;
    int16_t iVal;
    uint16_t uiVal;
    int32_t lVal;
    uint32_t ulVal;
    int64_t llVal;
    uint64_t ullVal;
    int32_t intVal;
    uint32_t uintVal;
    float fltVal;
    double dblVal;
    DATE date;
    VARIANT_BOOL boolVal;
    BSTR bstrVal;
  };
};

BSTR SysAllocString(const char* text);
void SysFreeString(BSTR text);

void VariantInit(VARIANT* v);
// Frees what the value owns (a BSTR) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
// Deep copy: a BSTR is duplicated.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts src to type vt into dest (dest may equal src). flags are accepted
// for the familiar signature and not used. Out of range gives
// DISP_E_OVERFLOW, text that is not a number DISP_E_TYPEMISMATCH; dest is
// left unchanged on failure.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, uint16_t flags, VARTYPE vt);

// A DATE against FILETIME ticks (100 ns since 1601-01-01 UTC, which is also
// how OPC UA counts its DateTime). Ticks 0, "no time" to both, is the DATE
// of 1601-01-01 and back; earlier dates give 0.
DATE VariantTimeFromFileTime(int64_t ticks);
int64_t FileTimeFromVariantTime(DATE date);
