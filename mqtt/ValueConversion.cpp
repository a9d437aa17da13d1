#include "mqtt/ValueConversion.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace mqtt {

namespace {
constexpr int64_t kTicksTo1970 = 116444736000000000LL;
constexpr int64_t kTicksPerMillisecond = 10000;
// A code's top two bits are its severity, named by the bare severity codes.
constexpr uint32_t kSeverityMask = UaStatus::Uncertain | UaStatus::Bad;
constexpr uint32_t kSeverityUncertain = UaStatus::Uncertain;
constexpr uint32_t kSeverityBadBit = UaStatus::Bad;
constexpr double kMillisecondsPerDay = 86400000.0;
// DATE 0 is 1899-12-30, 25569 days before 1970.
constexpr double kDateTo1970Days = 25569.0;
}  // namespace

ScalarValue ValueConversion::FromTypedVariant(const VARIANT& v) {
  switch (v.vt) {
    case VT_BOOL: return v.boolVal != VARIANT_FALSE;
    case VT_I1: return int64_t{v.cVal};
    case VT_I2: return int64_t{v.iVal};
    case VT_I4: return int64_t{v.lVal};
    case VT_INT: return int64_t{v.intVal};
    case VT_I8: return int64_t{v.llVal};
    case VT_UI1: return uint64_t{v.bVal};
    case VT_UI2: return uint64_t{v.uiVal};
    case VT_UI4: return uint64_t{v.ulVal};
    case VT_UINT: return uint64_t{v.uintVal};
    case VT_UI8: return uint64_t{v.ullVal};
    case VT_R4: return double{v.fltVal};
    case VT_R8: return v.dblVal;
    case VT_DATE:
      return static_cast<double>(
          static_cast<int64_t>((v.date - kDateTo1970Days) * kMillisecondsPerDay));
    case VT_BSTR: return std::string(v.bstrVal != nullptr ? v.bstrVal : "");
    default: return std::monostate{};
  }
}

ScalarValue ValueConversion::FromVariant(const VARIANT& value, VARTYPE type) {
  if (value.vt == type) return FromTypedVariant(value);
  VARIANT converted;
  VariantInit(&converted);
  if (VariantChangeType(&converted, &value, 0, type) != S_OK) return std::monostate{};
  ScalarValue result = FromTypedVariant(converted);
  VariantClear(&converted);
  return result;
}

VARIANT ValueConversion::SourceVariant(const ScalarValue& value) {
  VARIANT v;
  VariantInit(&v);
  if (const auto* b = std::get_if<bool>(&value)) {
    v.vt = VT_BOOL;
    v.boolVal = *b ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (const auto* i = std::get_if<int64_t>(&value)) {
    v.vt = VT_I8;
    v.llVal = *i;
  } else if (const auto* u = std::get_if<uint64_t>(&value)) {
    v.vt = VT_UI8;
    v.ullVal = *u;
  } else if (const auto* d = std::get_if<double>(&value)) {
    v.vt = VT_R8;
    v.dblVal = *d;
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s->c_str());
  }
  return v;
}

HRESULT ValueConversion::ToVariant(const ScalarValue& value, VARTYPE type, VARIANT* out) {
  if (std::holds_alternative<std::monostate>(value)) return DISP_E_TYPEMISMATCH;
  // Tags hand their text on to OPC UA clients, which must get UTF-8.
  const auto* text = std::get_if<std::string>(&value);
  if (text != nullptr && !IsUtf8(*text)) return DISP_E_TYPEMISMATCH;
  VARIANT source = SourceVariant(value);
  VariantInit(out);
  const HRESULT hr = VariantChangeType(out, &source, 0, type);
  VariantClear(&source);
  return hr;
}

Quality ValueConversion::QualityOf(uint32_t status) {
  if ((status & kSeverityBadBit) != 0) return Quality::Bad;
  if ((status & kSeverityMask) == kSeverityUncertain) return Quality::Uncertain;
  return Quality::Good;
}

bool ValueConversion::IsBad(uint32_t status) { return QualityOf(status) == Quality::Bad; }

uint64_t ValueConversion::NowMilliseconds() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

uint64_t ValueConversion::MillisecondsFromFileTime(int64_t ticks) {
  if (ticks <= kTicksTo1970) return NowMilliseconds();
  return static_cast<uint64_t>((ticks - kTicksTo1970) / kTicksPerMillisecond);
}

std::string ValueConversion::IsoTime(uint64_t ms) {
  const time_t seconds = static_cast<time_t>(ms / 1000);
  tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03uZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<unsigned>(ms % 1000));
  return text;
}

std::string ValueConversion::StatusText(uint32_t status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", status);
  return text;
}

bool ValueConversion::IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, code = lead & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode's end.
    if (code < least || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace mqtt
