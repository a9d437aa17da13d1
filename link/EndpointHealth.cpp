#include "link/EndpointHealth.h"

#include "link/ModbusBinding.h"
#include "link/ModbusConnection.h"

EndpointHealth EndpointHealth::Of(const CModbusConnection& endpoint) {
  EndpointHealth health;
  health.name = endpoint.m_strName;
  health.connected = endpoint.IsConnected();
  health.deviceLost = endpoint.m_bDeviceLost;
  health.demoted = endpoint.m_demotion.DemotedDevices();
  const auto getCounters = Modbus().GetModbusCounters;
  if (health.connected && getCounters != nullptr)
    health.counted = getCounters(endpoint.m_hConnection, &health.counters) == MBS_OK;
  return health;
}

std::string EndpointHealth::StateText() const {
  if (!connected) return "Not connected";
  return deviceLost ? "Device lost" : "Connected";
}

std::string EndpointHealth::DemotedText() const {
  std::string text;
  for (uint8_t node : demoted) text += (text.empty() ? "" : ", ") + std::to_string(node);
  return text;
}
