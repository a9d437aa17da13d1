#include "platform/Variant.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

namespace {

// A value on its way between two types: integers stay exact, reals keep
// their double precision until the target's own rule is applied.
struct Number {
  enum Kind { kSigned, kUnsigned, kReal } kind = kSigned;
  int64_t s = 0;
  uint64_t u = 0;
  double d = 0.0;
};

Number Signed(int64_t v) {
  Number n;
  n.kind = Number::kSigned;
  n.s = v;
  return n;
}

Number Unsigned(uint64_t v) {
  Number n;
  n.kind = Number::kUnsigned;
  n.u = v;
  return n;
}

Number Real(double v) {
  Number n;
  n.kind = Number::kReal;
  n.d = v;
  return n;
}

double AsDouble(const Number& n) {
  switch (n.kind) {
    case Number::kSigned: return static_cast<double>(n.s);
    case Number::kUnsigned: return static_cast<double>(n.u);
    default: return n.d;
  }
}

bool IsZero(const Number& n) {
  switch (n.kind) {
    case Number::kSigned: return n.s == 0;
    case Number::kUnsigned: return n.u == 0;
    default: return n.d == 0.0;
  }
}

// Ties go to the even neighbour, whatever the floating-point environment says.
double RoundHalfEven(double x) {
  double lower = std::floor(x);
  double diff = x - lower;
  if (diff > 0.5) return lower + 1.0;
  if (diff < 0.5) return lower;
  return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

// Fits the number into [lo, hi]; bits receives the two's-complement pattern.
HRESULT ToInteger(const Number& n, int64_t lo, uint64_t hi, uint64_t& bits) {
  if (n.kind == Number::kSigned) {
    if (n.s < lo || (n.s > 0 && static_cast<uint64_t>(n.s) > hi)) return DISP_E_OVERFLOW;
    bits = static_cast<uint64_t>(n.s);
    return S_OK;
  }
  if (n.kind == Number::kUnsigned) {
    if (n.u > hi) return DISP_E_OVERFLOW;
    bits = n.u;
    return S_OK;
  }
  if (std::isnan(n.d)) return DISP_E_OVERFLOW;
  double r = RoundHalfEven(n.d);
  // hi + 1 as a double is exact for every limit used here (all-ones values
  // round up to the next power of two).
  if (r < static_cast<double>(lo) || r >= static_cast<double>(hi) + 1.0) return DISP_E_OVERFLOW;
  bits = r < 0 ? static_cast<uint64_t>(static_cast<int64_t>(r)) : static_cast<uint64_t>(r);
  return S_OK;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

size_t SkipDigits(std::string_view t, size_t i) {
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  return i;
}

// Decimal numbers only: optional sign, digits with an optional fraction, an
// optional exponent. Hexadecimal, "inf" and "nan" are not numbers here.
bool IsDecimalNumber(std::string_view t, bool& integral) {
  size_t i = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
  size_t intEnd = SkipDigits(t, i);
  size_t digits = intEnd - i;
  integral = true;
  i = intEnd;
  if (i < t.size() && t[i] == '.') {
    size_t fracEnd = SkipDigits(t, i + 1);
    digits += fracEnd - i - 1;
    integral = false;
    i = fracEnd;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    size_t expEnd = SkipDigits(t, j);
    if (expEnd == j) return false;
    integral = false;
    i = expEnd;
  }
  return i == t.size();
}

HRESULT ParseNumber(const char* text, Number& out) {
  std::string_view t = Trim(text ? std::string_view(text) : std::string_view());
  bool integral = false;
  if (!IsDecimalNumber(t, integral)) return DISP_E_TYPEMISMATCH;
  bool negative = t[0] == '-';
  std::string_view body = (t[0] == '+' || t[0] == '-') ? t.substr(1) : t;
  if (integral) {
    uint64_t magnitude = 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), magnitude);
    if (r.ec == std::errc() && !negative) {
      out = Unsigned(magnitude);
      return S_OK;
    }
    if (r.ec == std::errc() && magnitude <= static_cast<uint64_t>(INT64_MAX) + 1) {
      out = Signed(static_cast<int64_t>(0 - magnitude));
      return S_OK;
    }
  }
  double value = 0.0;
  auto r = std::from_chars(body.data(), body.data() + body.size(), value);
  if (r.ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (r.ec != std::errc()) return DISP_E_TYPEMISMATCH;
  out = Real(negative ? -value : value);
  return S_OK;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// What the source holds, as a number; text is parsed.
HRESULT SourceNumber(const VARIANT& src, Number& n) {
  switch (src.vt) {
    case VT_EMPTY: n = Signed(0); return S_OK;
    case VT_BOOL: n = Signed(src.boolVal); return S_OK;
    case VT_I1: n = Signed(src.cVal); return S_OK;
    case VT_I2: n = Signed(src.iVal); return S_OK;
    case VT_I4: n = Signed(src.lVal); return S_OK;
    case VT_INT: n = Signed(src.intVal); return S_OK;
    case VT_I8: n = Signed(src.llVal); return S_OK;
    case VT_UI1: n = Unsigned(src.bVal); return S_OK;
    case VT_UI2: n = Unsigned(src.uiVal); return S_OK;
    case VT_UI4: n = Unsigned(src.ulVal); return S_OK;
    case VT_UINT: n = Unsigned(src.uintVal); return S_OK;
    case VT_UI8: n = Unsigned(src.ullVal); return S_OK;
    case VT_R4: n = Real(src.fltVal); return S_OK;
    case VT_R8: n = Real(src.dblVal); return S_OK;
    case VT_DATE: n = Real(src.date); return S_OK;
    case VT_BSTR: return ParseNumber(src.bstrVal, n);
    case VT_NULL: return DISP_E_TYPEMISMATCH;
    default: return DISP_E_BADVARTYPE;
  }
}

bool IsKnownType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_BOOL:
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_DATE:
    case VT_BSTR: return true;
    default: return false;
  }
}

bool IntegerLimits(VARTYPE vt, int64_t& lo, uint64_t& hi) {
  switch (vt) {
    case VT_I1:
      lo = INT8_MIN;
      hi = INT8_MAX;
      return true;
    case VT_I2:
      lo = INT16_MIN;
      hi = INT16_MAX;
      return true;
    case VT_I4:
    case VT_INT:
      lo = INT32_MIN;
      hi = INT32_MAX;
      return true;
    case VT_I8:
      lo = INT64_MIN;
      hi = INT64_MAX;
      return true;
    case VT_UI1:
      lo = 0;
      hi = UINT8_MAX;
      return true;
    case VT_UI2:
      lo = 0;
      hi = UINT16_MAX;
      return true;
    case VT_UI4:
    case VT_UINT:
      lo = 0;
      hi = UINT32_MAX;
      return true;
    case VT_UI8:
      lo = 0;
      hi = UINT64_MAX;
      return true;
    default: return false;
  }
}

void StoreInteger(VARIANT& out, VARTYPE vt, uint64_t bits) {
  out.vt = vt;
  switch (vt) {
    case VT_I1: out.cVal = static_cast<int8_t>(bits); break;
    case VT_I2: out.iVal = static_cast<int16_t>(bits); break;
    case VT_I4: out.lVal = static_cast<int32_t>(bits); break;
    case VT_INT: out.intVal = static_cast<int32_t>(bits); break;
    case VT_I8: out.llVal = static_cast<int64_t>(bits); break;
    case VT_UI1: out.bVal = static_cast<uint8_t>(bits); break;
    case VT_UI2: out.uiVal = static_cast<uint16_t>(bits); break;
    case VT_UI4: out.ulVal = static_cast<uint32_t>(bits); break;
    case VT_UINT: out.uintVal = static_cast<uint32_t>(bits); break;
    default: out.ullVal = bits; break;
  }
}

HRESULT ToIntegerType(const VARIANT& src, VARTYPE vt, int64_t lo, uint64_t hi, VARIANT& out) {
  // True is all bits set: -1 for the signed types, the largest value for the
  // unsigned ones (never an overflow).
  if (src.vt == VT_BOOL) {
    StoreInteger(out, vt, static_cast<uint64_t>(static_cast<int64_t>(src.boolVal)));
    return S_OK;
  }
  Number n;
  HRESULT hr = SourceNumber(src, n);
  if (hr != S_OK) return hr;
  uint64_t bits = 0;
  hr = ToInteger(n, lo, hi, bits);
  if (hr == S_OK) StoreInteger(out, vt, bits);
  return hr;
}

HRESULT ToReal(const VARIANT& src, VARTYPE vt, VARIANT& out) {
  Number n;
  HRESULT hr = SourceNumber(src, n);
  if (hr != S_OK) return hr;
  double d = AsDouble(n);
  out.vt = vt;
  if (vt == VT_R8 || vt == VT_DATE) {
    (vt == VT_R8 ? out.dblVal : out.date) = d;
    return S_OK;
  }
  if (d < -FLT_MAX || d > FLT_MAX) return DISP_E_OVERFLOW;
  out.fltVal = static_cast<float>(d);
  return S_OK;
}

HRESULT ToBool(const VARIANT& src, VARIANT& out) {
  out.vt = VT_BOOL;
  if (src.vt == VT_BSTR) {
    std::string_view t = Trim(src.bstrVal ? std::string_view(src.bstrVal) : std::string_view());
    if (EqualsIgnoringCase(t, "true")) {
      out.boolVal = VARIANT_TRUE;
      return S_OK;
    }
    if (EqualsIgnoringCase(t, "false")) {
      out.boolVal = VARIANT_FALSE;
      return S_OK;
    }
  }
  Number n;
  HRESULT hr = SourceNumber(src, n);
  if (hr == S_OK) out.boolVal = IsZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
  return hr;
}

std::string FormatReal(double d, int precision) {
  char buffer[64];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, precision);
  std::string text(buffer, r.ptr);
  for (char& c : text)
    if (c == 'e') c = 'E';
  return text;
}

constexpr int64_t kTicksPerMs = 10000;
constexpr int64_t kTicksPerDay = 86400000LL * kTicksPerMs;
constexpr int64_t kDaysFrom1601To1899 = 109205;  // 1601-01-01 to 1899-12-30
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;

// ISO 8601 to the nearest millisecond (a DATE's double is a few ticks off);
// no zone, as a DATE has none.
std::string FormatDate(DATE date) {
  const int64_t ticks = FileTimeFromVariantTime(date) - kUnixEpochTicks + kTicksPerMs / 2;
  int64_t ms = ticks / kTicksPerMs - (ticks % kTicksPerMs < 0);
  int64_t seconds = ms / 1000 - (ms % 1000 < 0);
  int64_t millis = ms - seconds * 1000;
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

// Numbers become their shortest decimal text (seven significant digits for
// single precision, fifteen for double); true becomes "-1" as with the OLE
// default flags.
HRESULT ToText(const VARIANT& src, VARIANT& out) {
  std::string text;
  if (src.vt == VT_BSTR) {
    text = src.bstrVal ? src.bstrVal : "";
  } else if (src.vt == VT_R4) {
    text = FormatReal(src.fltVal, 7);
  } else if (src.vt == VT_R8) {
    text = FormatReal(src.dblVal, 15);
  } else if (src.vt == VT_DATE) {
    text = FormatDate(src.date);
  } else if (src.vt != VT_EMPTY) {
    Number n;
    HRESULT hr = SourceNumber(src, n);
    if (hr != S_OK) return hr;
    text = n.kind == Number::kUnsigned ? std::to_string(n.u) : std::to_string(n.s);
  }
  BSTR copy = SysAllocString(text.c_str());
  if (!copy) return E_OUTOFMEMORY;
  out.vt = VT_BSTR;
  out.bstrVal = copy;
  return S_OK;
}

HRESULT Convert(const VARIANT& src, VARTYPE vt, VARIANT& out) {
  int64_t lo = 0;
  uint64_t hi = 0;
  if (IntegerLimits(vt, lo, hi)) return ToIntegerType(src, vt, lo, hi, out);
  switch (vt) {
    case VT_EMPTY: out.vt = VT_EMPTY; return S_OK;
    case VT_NULL:
      if (src.vt != VT_NULL && src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
      out.vt = VT_NULL;
      return S_OK;
    case VT_R4:
    case VT_R8:
    case VT_DATE: return ToReal(src, vt, out);
    case VT_BOOL: return ToBool(src, out);
    default: return ToText(src, out);
  }
}

}  // namespace

BSTR SysAllocString(const char* text) {
  if (!text) return nullptr;
  size_t size = std::strlen(text) + 1;
  auto copy = static_cast<BSTR>(std::malloc(size));
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

void SysFreeString(BSTR text) { std::free(text); }

void VariantInit(VARIANT* v) {
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsKnownType(src->vt)) return DISP_E_BADVARTYPE;
  if (dest == src) return S_OK;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal) {
    copy.bstrVal = SysAllocString(src->bstrVal);
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  }
  VariantClear(dest);
  *dest = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, uint16_t /*flags*/, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsKnownType(src->vt) || !IsKnownType(vt)) return DISP_E_BADVARTYPE;
  if (src->vt == vt) return VariantCopy(dest, src);
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = Convert(*src, vt, result);
  if (hr != S_OK) {
    VariantClear(&result);
    return hr;
  }
  // Only now may the source go: dest and src may be the same value.
  VariantClear(dest);
  *dest = result;
  return S_OK;
}

DATE VariantTimeFromFileTime(int64_t ticks) {
  return static_cast<double>(ticks) / kTicksPerDay - kDaysFrom1601To1899;
}

int64_t FileTimeFromVariantTime(DATE date) {
  double ticks = std::round((date + kDaysFrom1601To1899) * kTicksPerDay);
  return ticks <= 0 ? 0 : static_cast<int64_t>(ticks);
}
