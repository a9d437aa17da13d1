// Polls every slave device that has a register map, by the reads planned from
// its map, and publishes its tags in a folder per endpoint and device. It
// follows the runtime's DeviceMaps: a device whose map changes is rebuilt
// without disturbing the others or the scans. One timer drives it: whoever
// owns the event loop calls Run when it asks (SetWake) and again at the time
// Run returns. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/Variant.h"
#include "runtime/MapDevice.h"

class DeviceMaps;
class ITagObserver;
struct ScanContext;

class DevicePoller {
 public:
  static constexpr int64_t kIdle = MapDevice::kIdle;

  DevicePoller(ScanContext& context, const DeviceMaps& maps);
  // Takes every device's tags and folders off the tag server.
  ~DevicePoller();
  DevicePoller(const DevicePoller&) = delete;
  DevicePoller& operator=(const DevicePoller&) = delete;

  // The device's map was put, replaced or removed.
  void OnDeviceChanged(const std::string& endpoint, int32_t slave);
  // Every device as the maps hold them now.
  void Rebuild();
  void Clear();

  // Polls what is due; the steady-clock time (ms) to run next, kIdle for none.
  int64_t Run(int64_t nowMs);
  // Called when Run should come sooner than it last said; null: nobody.
  void SetWake(std::function<void()> wake) { m_hooks.wake = std::move(wake); }
  // The steady clock in ms, unless a test gives another.
  void SetClock(std::function<int64_t()> now) { m_hooks.now = std::move(now); }
  static int64_t SteadyNowMs();

  // A client's write to a map tag; false when no device publishes the handle.
  bool HandleClientWrite(int32_t hTag, VARIANT* value, uint64_t token);
  void AnnounceTags(ITagObserver& observer) const;
  const MapDevice* Find(const std::string& endpoint, int32_t slave) const;

 private:
  using Key = std::pair<std::string, int32_t>;
  struct EndpointFolder {
    int32_t handle = -1;
    int devices = 0;
  };

  int32_t OpenFolder(const DeviceMap& map);
  void CloseFolder(const std::string& endpoint, int32_t folder);
  // By value: the key may be the erased entry's own.
  void Remove(Key key);

  ScanContext& m_context;
  const DeviceMaps& m_maps;
  MapDevice::Hooks m_hooks;
  std::map<Key, std::unique_ptr<MapDevice>> m_devices;
  std::map<std::string, EndpointFolder> m_folders;
};
