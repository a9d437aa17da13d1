// The register maps of every slave device that has one, held by the runtime on
// the main thread; whoever polls or shows the maps listens for changes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "pointdb/RegisterMap.h"

class DeviceMaps {
 public:
  using Listener = std::function<void(const std::string& endpoint, int32_t slave)>;

  const std::vector<DeviceMap>& All() const { return m_maps; }
  const DeviceMap* Find(const std::string& endpoint, int32_t slave) const;
  // Adds the map, or replaces the one of the same endpoint and slave.
  void Put(DeviceMap map);
  bool Remove(const std::string& endpoint, int32_t slave);
  // Makes maps the whole store: the devices it lacks are removed, then each
  // of maps is put.
  void ReplaceAll(std::vector<DeviceMap> maps);
  // Called after every Put and Remove with the device that changed.
  void SetListener(Listener listener) { m_listener = std::move(listener); }

 private:
  std::vector<DeviceMap> m_maps;
  Listener m_listener;
};
