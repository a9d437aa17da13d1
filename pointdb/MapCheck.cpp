#include "pointdb/MapCheck.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <vector>

#include "pointdb/DataTypeInfo.h"
#include "pointdb/ReadPlanner.h"

namespace {

constexpr int32_t kTableSize = 65536;
constexpr int32_t kLastBit = 15;

std::string Text(int64_t value) { return std::to_string(value); }

std::string Range(const char* what, int32_t value, int32_t low, int32_t high) {
  if (value >= low && value <= high) return "";
  return std::string(what) + " " + Text(value) + " is not from " + Text(low) + " to " + Text(high);
}

bool IsString(DataType type) { return type == DataType::StringAB || type == DataType::StringBA; }

std::string CheckFormat(const MapTag& tag) {
  const TagFormat& f = tag.format;
  if (tag.type == DataType::Bit && !IsBitPointType(tag.table)) {
    if (std::string r = Range("bit", f.bit, 0, kLastBit); !r.empty()) return r;
  }
  if (IsString(tag.type)) {
    if (std::string r =
            Range("string length", f.stringRegisters, 1, TagFormat::kMaxStringRegisters);
        !r.empty())
      return r;
  }
  if (!f.scaled) return "";
  if (!IsScalableDataType(static_cast<int32_t>(tag.type)))
    return "a tag of this type takes no scale";
  if (!std::isfinite(f.rawLow) || !std::isfinite(f.rawHigh) || !std::isfinite(f.engLow) ||
      !std::isfinite(f.engHigh))
    return "a scale limit is not a finite number";
  if (f.rawLow == f.rawHigh) return "raw_low and raw_high are equal: the scale says nothing";
  return "";
}

// Where a tag sits, for finding clashes.
struct Place {
  PointType table;
  int32_t start;
  int32_t end;
  int32_t bit;  // of a Bit tag on a register; -1 otherwise
  int32_t tag;
};

int32_t BitOf(const MapTag& tag) {
  return tag.type == DataType::Bit && !IsBitPointType(tag.table) ? tag.format.bit : -1;
}

// Only Bit tags of different bits of one register may share it.
bool MayShare(const Place& a, const Place& b) {
  return a.bit >= 0 && b.bit >= 0 && a.start == b.start && a.bit != b.bit;
}

bool FindClash(const DeviceMap& map, MapFault& fault) {
  std::vector<Place> places;
  for (size_t i = 0; i < map.tags.size(); ++i) {
    const MapTag& tag = map.tags[i];
    places.push_back({tag.table, tag.offset, tag.offset + MapTagWidth(tag), BitOf(tag),
                      static_cast<int32_t>(i)});
  }
  std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
    return std::tie(a.table, a.start, a.bit, a.tag) < std::tie(b.table, b.start, b.bit, b.tag);
  });
  // Each tag is held against the one before it that reaches furthest: any
  // tag it overlaps, that one overlaps as well.
  const Place* furthest = nullptr;
  for (const Place& place : places) {
    if (furthest != nullptr && furthest->table == place.table && place.start < furthest->end &&
        !MayShare(*furthest, place)) {
      fault = {std::max(place.tag, furthest->tag), std::min(place.tag, furthest->tag),
               "its registers overlap those of \"" +
                   map.tags[std::min(place.tag, furthest->tag)].name + "\""};
      return true;
    }
    if (furthest == nullptr || furthest->table != place.table || place.end >= furthest->end)
      furthest = &place;
  }
  return false;
}

bool FindTwice(const DeviceMap& map, MapFault& fault) {
  std::map<std::string, int32_t> seen;
  for (size_t i = 0; i < map.tags.size(); ++i) {
    auto [it, added] = seen.emplace(map.tags[i].name, static_cast<int32_t>(i));
    if (!added) {
      fault = {static_cast<int32_t>(i), it->second,
               "the name \"" + it->first + "\" is given twice"};
      return true;
    }
  }
  return false;
}

}  // namespace

std::string CheckDeviceLimits(const DeviceLimits& limits) {
  for (std::string r : {Range("max_registers", limits.maxRegisters, 1, kMaxReadRegisters),
                        Range("max_bits", limits.maxBits, 1, kMaxReadBits),
                        Range("max_gap", limits.maxGap, 0, kMostGap),
                        Range("pause_ms", limits.pauseMs, 0, kMostPauseMs),
                        Range("default_poll_ms", limits.defaultPollMs, 1, kMostPollMs)}) {
    if (!r.empty()) return r;
  }
  return "";
}

std::string CheckMapTag(const MapTag& tag, const DeviceLimits& limits) {
  if (tag.name.empty()) return "the tag has no name";
  if (std::any_of(tag.name.begin(), tag.name.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
    return "the name holds a control character";
  if (!IsKnownPointType(static_cast<int>(tag.table))) return "the table is no Modbus table";
  if (IsBitPointType(tag.table) && tag.type != DataType::Bit)
    return "a coil or discrete input is one bit: its type is Bit";
  if (!IsKnownDataType(static_cast<int32_t>(tag.type))) return "the type is no data type";
  if (tag.access == MapAccess::ReadWrite && !IsWritablePointType(tag.table))
    return "an input register or discrete input cannot be read-write";
  if (std::string r = Range("poll_ms", tag.pollClassMs, 0, kMostPollMs); !r.empty()) return r;
  if (std::string r = CheckFormat(tag); !r.empty()) return r;
  const int32_t width = MapTagWidth(tag);
  if (tag.offset + width > kTableSize)
    return "the tag runs past register 65535 (it takes " + Text(width) + ")";
  const int32_t most = IsBitPointType(tag.table) ? limits.maxBits : limits.maxRegisters;
  if (width > most)
    return "the tag takes " + Text(width) + " registers, more than the device's max_registers " +
           Text(most);
  return "";
}

bool CheckDeviceMap(const DeviceMap& map, MapFault& fault) {
  if (std::string r = CheckDeviceLimits(map.limits); !r.empty()) {
    fault = {-1, -1, r};
    return false;
  }
  for (size_t i = 0; i < map.tags.size(); ++i) {
    if (std::string r = CheckMapTag(map.tags[i], map.limits); !r.empty()) {
      fault = {static_cast<int32_t>(i), -1, r};
      return false;
    }
  }
  return !FindTwice(map, fault) && !FindClash(map, fault);
}
