// Register addresses as operators write them in a device's map, read into a
// table and a zero-based protocol offset, and written back in the notation
// they came in:
//
//   40001, 30001, 10001, 00001      Modicon, 5 digits: table digit, reference 1-9999
//   400001 ... 065536               Modicon, 6 digits: table digit, reference 1-65536
//   HR0, IR12, CO5, DI7             table prefix, counted as the map's base says
//   123                             1 to 4 digits: a holding register, by the map's base
//   0x9C40, HR0x10                  hexadecimal: the protocol offset itself, zero-based
//
// Table digits and prefixes: 0 CO coil, 1 DI discrete input, 3 IR input
// register, 4 HR holding register. Letters may be of either case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pointdb/PointType.h"
#include "pointdb/RegisterMap.h"

enum class AddressNotation { Modicon5, Modicon6, Prefixed, Decimal, Hex, PrefixedHex };

struct MapAddress {
  PointType table = PointType::HoldingRegister;
  uint16_t offset = 0;
  AddressNotation notation = AddressNotation::Prefixed;

  bool operator==(const MapAddress&) const = default;
};

// False, with the reason (to follow the quoted text), when text is no address.
bool ParseMapAddress(std::string_view text, MapBase base, MapAddress& address, std::string& error);
// The address in its notation, or in the table prefix notation where its own
// cannot say it (a 5-digit reference past 9999, a bare number past 9999).
std::string FormatMapAddress(const MapAddress& address, MapBase base);
