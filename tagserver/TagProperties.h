// What the program says of a tag beside its value (SetOPCTagProperties):
// its Description, and the EngineeringUnits and EURange properties that make
// its variable an analog item, as clients read them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tagserver/UaTypes.h"

namespace tagserver {

struct TagProperties {
  std::string description;
  std::string units;  // as the program writes them, e.g. "kWh"; "" for none
  bool hasRange = false;
  double rangeLow = 0;
  double rangeHigh = 0;
};

// The property nodes a tag can have, each ns=1;s=<tag id>.<browse name>.
enum class TagProperty : uint8_t { EngineeringUnits, EURange };

std::string_view BrowseNameOf(TagProperty property);
bool Has(const TagProperties& properties, TagProperty property);
// The property's DataType node: EUInformation or Range.
uint32_t DataTypeOf(TagProperty property);
// The property's value: an EUInformation after the UNECE codes for units the
// table knows (unit id -1 otherwise), or a Range.
UaVariant PropertyValue(const TagProperties& properties, TagProperty property);
// The UNECE common code as an EUInformation unit id ("CEL" -> 4408652).
int32_t UnitIdOf(std::string_view commonCode);

}  // namespace tagserver
