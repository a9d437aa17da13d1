// The reads the gateway sends for a device's map: the tags of one table and one
// poll class merged into as few requests as the device's limits allow.
#pragma once

#include "pointdb/RegisterMap.h"

// Tags are grouped by table and resolved poll class (0 becomes the device's
// default), sorted by address, and a run is extended across a gap of at most
// maxGap unused registers while it stays within maxRegisters (maxBits).
DevicePlan PlanReads(const DeviceMap& map);
