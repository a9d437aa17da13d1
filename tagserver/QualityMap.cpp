#include "tagserver/QualityMap.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "opcua/UaStatusCodes.h"

namespace tagserver {

namespace {

uint32_t BadFromSubStatus(uint16_t sub) {
  switch (sub) {
    case 0x04: return UaStatus::BadConfigurationError;
    case 0x08: return UaStatus::BadNotConnected;
    case 0x0C: return UaStatus::BadDeviceFailure;
    case 0x10: return UaStatus::BadSensorFailure;
    case 0x14:
    case 0x18: return UaStatus::BadNoCommunication;
    case 0x1C: return UaStatus::BadOutOfService;
    default: return UaStatus::Bad;
  }
}

uint32_t UncertainFromSubStatus(uint16_t sub) {
  switch (sub) {
    case 0x44: return UaStatus::UncertainLastUsableValue;
    case 0x50: return UaStatus::UncertainSensorNotAccurate;
    case 0x54: return UaStatus::UncertainEngineeringUnitsExceeded;
    case 0x58: return UaStatus::UncertainSubNormal;
    default: return UaStatus::Uncertain;
  }
}

}  // namespace

uint32_t StatusFromQuality(uint16_t quality) {
  uint16_t q = quality & 0xFF;
  uint16_t major = q & 0xC0;
  uint16_t sub = q & 0xFC;
  if (major == 0xC0) return sub == 0xD8 ? UaStatus::GoodLocalOverride : UaStatus::Good;
  if (major == 0x40) return UncertainFromSubStatus(sub);
  // 0x80-0xBF is not a quality OPC DA defines; it is shown as bad.
  return BadFromSubStatus(major == 0 ? sub : 0);
}

bool FloatFromVariant(const VARIANT& v, float& out) {
  switch (v.vt) {
    case VT_R4: out = v.fltVal; return true;
    case VT_R8: out = static_cast<float>(v.dblVal); return true;
    case VT_I1: out = v.cVal; return true;
    case VT_UI1: out = v.bVal; return true;
    case VT_I2: out = v.iVal; return true;
    case VT_UI2: out = v.uiVal; return true;
    case VT_I4:
    case VT_INT: out = static_cast<float>(v.lVal); return true;
    case VT_UI4:
    case VT_UINT: out = static_cast<float>(v.ulVal); return true;
    case VT_I8: out = static_cast<float>(v.llVal); return true;
    case VT_UI8: out = static_cast<float>(v.ullVal); return true;
    case VT_BOOL: out = v.boolVal ? 1.0f : 0.0f; return true;
    case VT_BSTR: {
      if (v.bstrVal == nullptr) return false;
      char* end = nullptr;
      float f = std::strtof(v.bstrVal, &end);
      if (end == v.bstrVal || *end != '\0') return false;
      out = f;
      return true;
    }
    default: return false;
  }
}

UaType TagTypeOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_BOOL: return UaType::Boolean;
    case VT_UI4: return UaType::UInt32;
    case VT_R8: return UaType::Double;
    case VT_BSTR: return UaType::String;
    case VT_DATE: return UaType::DateTime;
    default: return UaType::Float;
  }
}

UaType TagTypeOfVarType(VARTYPE vt) {
  switch (vt) {
    case VT_BOOL: return UaType::Boolean;
    case VT_I4: return UaType::Int32;
    case VT_UI4: return UaType::UInt32;
    case VT_I8: return UaType::Int64;
    case VT_UI8: return UaType::UInt64;
    case VT_R8: return UaType::Double;
    case VT_BSTR: return UaType::String;
    case VT_DATE: return UaType::DateTime;
    default: return UaType::Float;
  }
}

bool TypedFromVariant(const VARIANT& v, UaType type, TagScalar& out) {
  VARIANT converted;
  VariantInit(&converted);
  bool ok = true;
  switch (type) {
    case UaType::Boolean:
      ok = VariantChangeType(&converted, &v, 0, VT_BOOL) == S_OK;
      if (ok) out = converted.boolVal != VARIANT_FALSE;
      break;
    case UaType::Int32:
      ok = VariantChangeType(&converted, &v, 0, VT_I4) == S_OK;
      if (ok) out = int64_t{converted.lVal};
      break;
    case UaType::UInt32:
      ok = VariantChangeType(&converted, &v, 0, VT_UI4) == S_OK;
      if (ok) out = uint64_t{converted.ulVal};
      break;
    case UaType::Int64:
      ok = VariantChangeType(&converted, &v, 0, VT_I8) == S_OK;
      if (ok) out = converted.llVal;
      break;
    case UaType::UInt64:
      ok = VariantChangeType(&converted, &v, 0, VT_UI8) == S_OK;
      if (ok) out = converted.ullVal;
      break;
    case UaType::Double:
      ok = VariantChangeType(&converted, &v, 0, VT_R8) == S_OK;
      if (ok) out = converted.dblVal;
      break;
    case UaType::String:
      ok = VariantChangeType(&converted, &v, 0, VT_BSTR) == S_OK;
      if (ok) out = std::string(converted.bstrVal != nullptr ? converted.bstrVal : "");
      break;
    case UaType::DateTime:
      ok = VariantChangeType(&converted, &v, 0, VT_DATE) == S_OK;
      if (ok) out = FileTimeFromVariantTime(converted.date);
      break;
    default: ok = false;
  }
  VariantClear(&converted);
  return ok;
}

uint32_t VariantFromUa(const UaVariant& in, VARIANT& out) {
  if (in.isArray) return UaStatus::BadTypeMismatch;
  VariantInit(&out);
  const UaScalar& s = in.values.empty() ? UaScalar{} : in.values[0];
  switch (in.type) {
    case UaType::Boolean:
      out.vt = VT_BOOL;
      out.boolVal = std::get<bool>(s) ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case UaType::SByte:
      out.vt = VT_I1;
      out.cVal = static_cast<int8_t>(std::get<int64_t>(s));
      break;
    case UaType::Byte:
      out.vt = VT_UI1;
      out.bVal = static_cast<uint8_t>(std::get<uint64_t>(s));
      break;
    case UaType::Int16:
      out.vt = VT_I2;
      out.iVal = static_cast<int16_t>(std::get<int64_t>(s));
      break;
    case UaType::UInt16:
      out.vt = VT_UI2;
      out.uiVal = static_cast<uint16_t>(std::get<uint64_t>(s));
      break;
    case UaType::Int32:
      out.vt = VT_I4;
      out.lVal = static_cast<int32_t>(std::get<int64_t>(s));
      break;
    case UaType::UInt32:
      out.vt = VT_UI4;
      out.ulVal = static_cast<uint32_t>(std::get<uint64_t>(s));
      break;
    case UaType::Int64:
      out.vt = VT_I8;
      out.llVal = std::get<int64_t>(s);
      break;
    case UaType::UInt64:
      out.vt = VT_UI8;
      out.ullVal = std::get<uint64_t>(s);
      break;
    case UaType::Float:
      out.vt = VT_R4;
      out.fltVal = std::get<float>(s);
      break;
    case UaType::Double:
      out.vt = VT_R8;
      out.dblVal = std::get<double>(s);
      break;
    case UaType::String: {
      const std::string& text = std::get<std::string>(s);
      // A BSTR here is a C string: text with an embedded NUL cannot travel.
      if (text.find('\0') != std::string::npos) return UaStatus::BadTypeMismatch;
      out.bstrVal = SysAllocString(text.c_str());
      if (out.bstrVal == nullptr) return UaStatus::BadOutOfMemory;
      out.vt = VT_BSTR;
      break;
    }
    default: return UaStatus::BadTypeMismatch;
  }
  return UaStatus::Good;
}

}  // namespace tagserver
