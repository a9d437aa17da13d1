#include "tagserver/TagProperties.h"

#include <array>

#include "tagserver/UaEncoder.h"
#include "tagserver/UaNodeIds.h"

namespace tagserver {

namespace {

constexpr std::string_view kUnitsNamespace = "http://www.opcfoundation.org/UA/units/un/cefact";
constexpr int32_t kNoUnitId = -1;
constexpr uint32_t kRangeType = 884;
constexpr uint32_t kEuInformationType = 887;

struct KnownUnit {
  std::string_view text;  // as register maps write it
  std::string_view code;  // UNECE common code
  std::string_view name;  // the code's full name, the EUInformation description
};

// The units a power or process meter's map commonly names; any other text
// is published as it stands, without a unit id.
constexpr std::array<KnownUnit, 52> kKnownUnits{{
    {"V", "VLT", "volt"},
    {"mV", "2Z", "millivolt"},
    {"kV", "KVT", "kilovolt"},
    {"A", "AMP", "ampere"},
    {"mA", "4K", "milliampere"},
    {"kA", "B22", "kiloampere"},
    {"W", "WTT", "watt"},
    {"kW", "KWT", "kilowatt"},
    {"MW", "MAW", "megawatt"},
    {"Wh", "WHR", "watt hour"},
    {"kWh", "KWH", "kilowatt hour"},
    {"MWh", "MWH", "megawatt hour (1000 kW.h)"},
    {"VA", "D46", "volt - ampere"},
    {"kVA", "KVA", "kilovolt - ampere"},
    {"MVA", "MVA", "megavolt - ampere"},
    {"var", "D44", "var"},
    {"kvar", "KVR", "kilovar"},
    {"kvarh", "K3", "kilovolt ampere (reactive) hour"},
    {"Hz", "HTZ", "hertz"},
    {"kHz", "KHZ", "kilohertz"},
    {"Ω", "OHM", "ohm"},
    {"°C", "CEL", "degree Celsius"},
    {"°F", "FAH", "degree Fahrenheit"},
    {"K", "KEL", "kelvin"},
    {"%", "P1", "percent"},
    {"bar", "BAR", "bar [unit of pressure]"},
    {"mbar", "MBR", "millibar"},
    {"Pa", "PAL", "pascal"},
    {"kPa", "KPA", "kilopascal"},
    {"MPa", "MPA", "megapascal"},
    {"psi", "PS", "pound-force per square inch"},
    {"m3/h", "MQH", "cubic metre per hour"},
    {"m³/h", "MQH", "cubic metre per hour"},
    {"m3/s", "MQS", "cubic metre per second"},
    {"m3", "MTQ", "cubic metre"},
    {"m³", "MTQ", "cubic metre"},
    {"l/s", "G51", "litre per second"},
    {"l/min", "L2", "litre per minute"},
    {"l/h", "E32", "litre per hour"},
    {"l", "LTR", "litre"},
    {"rpm", "RPM", "revolutions per minute"},
    {"s", "SEC", "second [unit of time]"},
    {"ms", "C26", "millisecond"},
    {"min", "MIN", "minute [unit of time]"},
    {"h", "HUR", "hour"},
    {"m", "MTR", "metre"},
    {"mm", "MMT", "millimetre"},
    {"m/s", "MTS", "metre per second"},
    {"kg", "KGM", "kilogram"},
    {"kg/h", "E93", "kilogram per hour"},
    {"t", "TNE", "tonne (metric ton)"},
    {"N", "NEW", "newton"},
}};

const KnownUnit* Known(std::string_view text) {
  for (const KnownUnit& unit : kKnownUnits)
    if (unit.text == text) return &unit;
  return nullptr;
}

UaExtensionObject EuInformation(const std::string& units) {
  const KnownUnit* known = Known(units);
  UaEncoder enc;
  enc.String(kUnitsNamespace);
  enc.Int32(known != nullptr ? UnitIdOf(known->code) : kNoUnitId);
  enc.LocalizedText({"", units});
  enc.LocalizedText({"", known != nullptr ? std::string(known->name) : units});
  return {UaNodeId::Num(0, UaId::EUInformation_Encoding_DefaultBinary), 1, enc.Buffer()};
}

UaExtensionObject Range(double low, double high) {
  UaEncoder enc;
  enc.Double(low);
  enc.Double(high);
  return {UaNodeId::Num(0, UaId::Range_Encoding_DefaultBinary), 1, enc.Buffer()};
}

}  // namespace

std::string_view BrowseNameOf(TagProperty property) {
  return property == TagProperty::EngineeringUnits ? "EngineeringUnits" : "EURange";
}

bool Has(const TagProperties& properties, TagProperty property) {
  return property == TagProperty::EngineeringUnits ? !properties.units.empty()
                                                   : properties.hasRange;
}

uint32_t DataTypeOf(TagProperty property) {
  return property == TagProperty::EngineeringUnits ? kEuInformationType : kRangeType;
}

UaVariant PropertyValue(const TagProperties& properties, TagProperty property) {
  return UaVariant::Scalar(UaType::ExtensionObject,
                           property == TagProperty::EngineeringUnits
                               ? EuInformation(properties.units)
                               : Range(properties.rangeLow, properties.rangeHigh));
}

int32_t UnitIdOf(std::string_view commonCode) {
  uint32_t id = 0;
  for (char c : commonCode) id = (id << 8) | static_cast<uint8_t>(c);
  return static_cast<int32_t>(id);
}

}  // namespace tagserver
