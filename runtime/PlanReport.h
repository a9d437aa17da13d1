// A device's planned reads as text for the operator: per poll class the
// requests, the registers (bits) they read and the requests per second, then
// each read; the -Plan command prints it and the window may show it.
#pragma once

#include <string>

#include "pointdb/RegisterMap.h"

std::string DescribePlan(const DeviceMap& map, const DevicePlan& plan);
