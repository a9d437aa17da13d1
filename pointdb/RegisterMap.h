// A slave device's register map: the rows of name, address, type, scale and
// units a device maker ships, kept per device (endpoint + slave node), with the
// settings the gateway plans that device's reads by.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pointdb/DataType.h"
#include "pointdb/PointType.h"
#include "pointdb/TagFormat.h"

enum class MapAccess { Read, ReadWrite };

// Where a notation that does not say it (a bare number, or a table prefix with
// a number) counts from. Modicon references (40001) are one-based always.
enum class MapBase { OneBased, ZeroBased };

// One row of a map.
struct MapTag {
  std::string name;        // unique within the device; published as <endpoint>.<device>.<name>
  PointType table = PointType::HoldingRegister;
  uint16_t offset = 0;     // zero-based protocol address within the table
  std::string address;     // as the operator wrote it, kept so export gives it back
  DataType type = DataType::Unsigned;
  TagFormat format;        // bit, string length, linear scale
  std::string units;       // engineering units, e.g. "V"
  std::string description;
  MapAccess access = MapAccess::Read;
  int32_t pollClassMs = 0;  // 0: the device's default poll period

  bool operator==(const MapTag&) const = default;
};

// What a device allows, and what is worth it, when its reads are planned.
struct DeviceLimits {
  int32_t maxRegisters = 125;   // most registers one read may ask for
  int32_t maxBits = 2000;       // most coils or inputs one read may ask for
  int32_t maxGap = 10;          // unused registers (or bits) worth reading across
  int32_t pauseMs = 0;          // rest between two requests to this device
  bool alwaysMultipleWrites = false;  // 16/15 even for one register or one coil
  int32_t defaultPollMs = 1000;

  bool operator==(const DeviceLimits&) const = default;
};

struct DeviceMap {
  std::string endpoint;
  int32_t slave = 1;
  std::string deviceName;  // empty: "NODE<slave>"
  MapBase base = MapBase::OneBased;
  DeviceLimits limits;
  std::vector<MapTag> tags;

  std::string DisplayName() const {
    return deviceName.empty() ? "NODE" + std::to_string(slave) : deviceName;
  }
  bool operator==(const DeviceMap&) const = default;
};

// One read the planner chose: a run of one table, for the tags of one poll class.
struct PlannedRead {
  PointType table = PointType::HoldingRegister;
  uint16_t start = 0;
  uint16_t count = 0;          // registers, or bits for the bit tables
  int32_t pollClassMs = 0;     // resolved: never 0
  std::vector<int32_t> tags;   // indices into DeviceMap::tags, in address order
};

struct DevicePlan {
  std::vector<PlannedRead> reads;
};
