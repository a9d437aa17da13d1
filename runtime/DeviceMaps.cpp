#include "runtime/DeviceMaps.h"

#include <algorithm>

namespace {

auto SameDevice(const std::string& endpoint, int32_t slave) {
  return [&endpoint, slave](const DeviceMap& map) {
    return map.endpoint == endpoint && map.slave == slave;
  };
}

}  // namespace

const DeviceMap* DeviceMaps::Find(const std::string& endpoint, int32_t slave) const {
  auto it = std::find_if(m_maps.begin(), m_maps.end(), SameDevice(endpoint, slave));
  return it != m_maps.end() ? &*it : nullptr;
}

void DeviceMaps::Put(DeviceMap map) {
  const std::string endpoint = map.endpoint;
  const int32_t slave = map.slave;
  auto it = std::find_if(m_maps.begin(), m_maps.end(), SameDevice(endpoint, slave));
  if (it != m_maps.end())
    *it = std::move(map);
  else
    m_maps.push_back(std::move(map));
  if (m_listener) m_listener(endpoint, slave);
}

bool DeviceMaps::Remove(const std::string& endpoint, int32_t slave) {
  auto it = std::find_if(m_maps.begin(), m_maps.end(), SameDevice(endpoint, slave));
  if (it == m_maps.end()) return false;
  m_maps.erase(it);
  if (m_listener) m_listener(endpoint, slave);
  return true;
}

void DeviceMaps::ReplaceAll(std::vector<DeviceMap> maps) {
  std::vector<std::pair<std::string, int32_t>> gone;
  for (const DeviceMap& old : m_maps) {
    auto kept = std::find_if(maps.begin(), maps.end(), SameDevice(old.endpoint, old.slave));
    if (kept == maps.end()) gone.emplace_back(old.endpoint, old.slave);
  }
  for (const auto& [endpoint, slave] : gone) Remove(endpoint, slave);
  for (DeviceMap& map : maps) Put(std::move(map));
}
