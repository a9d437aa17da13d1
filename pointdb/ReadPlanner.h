// The reads the gateway sends for a device's map: the tags of one table and one
// poll class merged into as few requests as the device's limits allow.
#pragma once

#include "pointdb/RegisterMap.h"

// The most registers (bits) one read of functions 03/04 (01/02) may ask for.
constexpr int32_t kMaxReadRegisters = 125;
constexpr int32_t kMaxReadBits = 2000;

// Registers a tag takes, or 1 for a coil or discrete input.
int32_t MapTagWidth(const MapTag& tag);

// Tags are grouped by table and resolved poll class (0 becomes the device's
// default), sorted by address, and a run is extended across a gap of at most
// maxGap unused registers while it stays within maxRegisters (maxBits). A tag
// is never cut across two reads: one wider than the limit is read alone.
// Reads come in order of poll class, table and address.
DevicePlan PlanReads(const DeviceMap& map);
