// How each slave node that open scans poll is doing, for the operator and the
// diagnostics folder: the program's counts of its scans' exchanges summed per
// slave, the polls sent to it, and whether it is demoted. The library counts
// per connection and cannot tell slaves apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pointdb/ScanCounters.h"

class Runtime;

struct SlaveHealth {
  // Main thread. By endpoint name, then by slave node; only the nodes some
  // open scan polls.
  static std::vector<SlaveHealth> Of(Runtime& runtime);

  std::string endpoint;
  uint8_t slave = 0;
  uint32_t requests = 0;  // polls sent
  ScanCounters counters;
  bool demoted = false;
};
