// A device's register map as CSV (RFC 4180, UTF-8), as a device maker's sheet
// or a spreadsheet gives it: a header naming the columns, in any order and of
// any case, then one row a tag. Only name and address are required:
//
//   name, address, type, bit, string_length, raw_low, raw_high, eng_low,
//   eng_high, units, description, access, poll_ms
//
// The table of every device's tags leads each row with endpoint and slave.
// Reading checks every row and then the whole map (MapCheck.h); the first
// fault refuses it all with "<file> row <n>: <reason>".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pointdb/RegisterMap.h"

class MapCsv {
 public:
  // The tags of map, whose base and limits say how they are read; map is
  // changed only when every row is sound.
  static bool Read(std::string_view text, const std::string& fileName, DeviceMap& map,
                   std::string& error);
  static std::string Write(const DeviceMap& map);

  // Every device's tags in one table; each row's endpoint and slave must be
  // those of one of maps, whose settings are known already.
  static bool ReadAll(std::string_view text, const std::string& fileName,
                      std::vector<DeviceMap>& maps, std::string& error);
  static std::string WriteAll(const std::vector<DeviceMap>& maps);
};
