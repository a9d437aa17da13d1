// How one endpoint is doing, for the operator: whether requests can reach
// it, which of its devices are held back, and what its library connection
// has counted since it was opened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modbuslib/modbuslib.h"

class CModbusConnection;

struct EndpointHealth {
  // Read through the Modbus binding; main thread, like every endpoint.
  static EndpointHealth Of(const CModbusConnection& endpoint);
  // "Connected", "Not connected", or "Device lost" for a serial device that
  // vanished while its port stays open.
  std::string StateText() const;
  // The demoted slave nodes, "2, 17", or "" when none is.
  std::string DemotedText() const;

  std::string name;
  bool connected = false;
  bool deviceLost = false;
  std::vector<uint8_t> demoted;
  // False when there is no connection to count, or the library has none.
  bool counted = false;
  ModbusCounters counters{};
};
