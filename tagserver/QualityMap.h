// Conversions between what the program hands over (OPC DA quality words,
// VARIANTs) and what OPC UA carries (status codes, Variants).
#pragma once

#include <cstdint>

#include "platform/Variant.h"
#include "tagserver/TagStore.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

// Good 0xC0-0xFF, uncertain 0x40-0x7F, bad below; the sub-status bits pick
// the matching OPC UA code where one exists.
uint32_t StatusFromQuality(uint16_t quality);
// A VARIANT as the tag's Float value; false when it holds no number.
bool FloatFromVariant(const VARIANT& v, float& out);
// The type a tag created with this value publishes: Boolean, UInt32, Double,
// String or DateTime for those VARIANT types, Float for any other (or none),
// as the program's tags always were.
UaType TagTypeOf(const VARIANT& v);
// The type a tag created as this VARIANT type publishes, exactly: Boolean,
// Int32, UInt32, Int64, UInt64, Float, Double, String or DateTime; Float for
// any other.
UaType TagTypeOfVarType(VARTYPE vt);
// A VARIANT as a value of one of those types; false when it does not convert.
bool TypedFromVariant(const VARIANT& v, UaType type, TagScalar& out);
// A client's scalar as a VARIANT of the matching type; the status code of the
// refusal (BadTypeMismatch for arrays, structures and the like) otherwise.
uint32_t VariantFromUa(const UaVariant& in, VARIANT& out);

}  // namespace tagserver
