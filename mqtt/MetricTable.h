// The tags the publisher knows, keyed by the program's handles: their latest
// values, which of them changed since the worker last looked, and the devices
// they belong to. Not thread-safe: the publisher guards it with its mutex.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "mqtt/MetricSample.h"
#include "opcua/UaStatusCodes.h"
#include "platform/Variant.h"

namespace mqtt {

// Where a write by name goes.
struct WriteTarget {
  int32_t handle = 0;
  std::string device;
  VARTYPE type = VT_EMPTY;
  bool writable = false;
};

class MetricTable {
 public:
  void Add(int32_t handle, const std::string& endpoint, const std::string& device,
           const std::string& name, VARTYPE type, bool writable);
  void Remove(int32_t handle);
  // False when the handle is unknown. A bad status keeps the last good value.
  bool Update(int32_t handle, const VARIANT& value, uint32_t status, uint64_t timeMs);
  void SetOnline(const std::string& device, bool online);

  bool HasChanges() const { return !m_dirty.empty(); }
  // Each changed tag once, with its latest value, in the order it first changed.
  std::vector<MetricSample> TakeChanges();
  // Devices whose tags were added or removed, or that went on or off line.
  bool DevicesChanged() const { return !m_reshaped.empty() || m_onlineChanged; }
  std::set<std::string> TakeReshaped();
  // Tag paths of tags removed since the worker last looked.
  bool HasRemovals() const { return !m_removedPaths.empty(); }
  std::vector<std::string> TakeRemovals();
  // Devices that are on line and have tags, and that have been settled: a
  // device is first born once each of its tags has had a first update,
  // good or bad, so that its birth carries its values.
  std::set<std::string> LiveDevices() const;
  // Whether the device has tags, on line or not.
  bool Knows(const std::string& device) const;
  std::vector<MetricSample> DeviceSamples(const std::string& device) const;
  std::vector<MetricSample> AllSamples() const;
  bool Sample(int32_t handle, MetricSample* sample) const;

  const WriteTarget* FindByName(const std::string& name) const;
  const WriteTarget* FindByPath(const std::string& tagPath) const;
  // The device whose topic level is level, or empty.
  std::string DeviceByLevel(const std::string& level) const;

 private:
  static constexpr uint32_t kWaitingForInitialData = UaStatus::BadWaitingForInitialData;

  struct Metric {
    MetricSample sample;
    WriteTarget target;
    bool dirty = false;
  };
  struct Device {
    bool online = true;
    size_t metrics = 0;
    // Tags still waiting for their first update, until the device settles.
    size_t waiting = 0;
    bool settled = false;
  };

  void EndWait(const std::string& device);

  std::unordered_map<int32_t, Metric> m_metrics;
  std::unordered_map<std::string, WriteTarget> m_byName;
  std::unordered_map<std::string, WriteTarget> m_byPath;
  std::map<std::string, Device> m_devices;
  std::vector<int32_t> m_dirty;
  std::set<std::string> m_reshaped;
  std::set<std::string> m_removedPaths;
  bool m_onlineChanged = false;
};

}  // namespace mqtt
