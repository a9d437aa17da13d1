// Whether a device's map is one the gateway can poll: every tag named once,
// within its table, of a type its table can hold, and no two tags on the same
// register (or bit) but Bit tags of different bits of one register.
#pragma once

#include <cstdint>
#include <string>

#include "pointdb/RegisterMap.h"

// Most a poll class or default poll period may be: a day.
constexpr int32_t kMostPollMs = 86'400'000;
constexpr int32_t kMostPauseMs = 60'000;
constexpr int32_t kMostGap = 2000;

struct MapFault {
  int32_t tag = -1;    // the later of the tags at fault; -1 for the device's settings
  int32_t other = -1;  // the tag it clashes with, if any
  std::string reason;
};

// The device's settings alone; empty reason when they are sound.
std::string CheckDeviceLimits(const DeviceLimits& limits);
// The first fault of one tag taken alone; empty when it is sound.
std::string CheckMapTag(const MapTag& tag, const DeviceLimits& limits);
// False with the first fault, the settings first, then the tags in order,
// then the clashes between tags.
bool CheckDeviceMap(const DeviceMap& map, MapFault& fault);
