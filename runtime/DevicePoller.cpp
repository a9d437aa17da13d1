#include "runtime/DevicePoller.h"

#include <algorithm>
#include <chrono>

#include "pointdb/ScanContext.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/DeviceMaps.h"

DevicePoller::DevicePoller(ScanContext& context, const DeviceMaps& maps)
    : m_context(context), m_maps(maps), m_hooks{.now = SteadyNowMs, .wake = nullptr} {}

DevicePoller::~DevicePoller() { Clear(); }

int64_t DevicePoller::SteadyNowMs() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

void DevicePoller::Clear() {
  while (!m_devices.empty()) Remove(m_devices.begin()->first);
}

void DevicePoller::Rebuild() {
  Clear();
  for (const DeviceMap& map : m_maps.All()) OnDeviceChanged(map.endpoint, map.slave);
}

void DevicePoller::OnDeviceChanged(const std::string& endpoint, int32_t slave) {
  const Key key{endpoint, slave};
  const DeviceMap* map = m_maps.Find(endpoint, slave);
  auto it = m_devices.find(key);
  if (map == nullptr) {
    Remove(key);
  } else if (it != m_devices.end() && it->second->Map().DisplayName() == map->DisplayName()) {
    it->second->Apply(*map);
  } else {
    // A device renamed moves to a folder of its new name.
    Remove(key);
    const int32_t folder = OpenFolder(*map);
    m_devices[key] = std::make_unique<MapDevice>(m_context, m_hooks, ++m_context.m_nDocKeyCounter,
                                                 folder, *map);
  }
  if (m_hooks.wake) m_hooks.wake();
}

void DevicePoller::Remove(Key key) {
  auto it = m_devices.find(key);
  if (it == m_devices.end()) return;
  const int32_t folder = it->second->Folder();
  m_devices.erase(it);
  CloseFolder(key.first, folder);
}

int32_t DevicePoller::OpenFolder(const DeviceMap& map) {
  const TagServerBinding& server = TagServer();
  if (!server.CreateOPCFolder) return -1;
  EndpointFolder& endpoint = m_folders[map.endpoint];
  if (endpoint.devices++ == 0) endpoint.handle = server.CreateOPCFolder(OPC_TAG_FOLDER, map.endpoint.c_str());
  if (endpoint.handle == -1) return -1;
  return server.CreateOPCFolder(endpoint.handle, map.DisplayName().c_str());
}

void DevicePoller::CloseFolder(const std::string& endpoint, int32_t folder) {
  const TagServerBinding& server = TagServer();
  if (folder != -1 && server.RemoveOPCFolder) server.RemoveOPCFolder(folder);
  auto it = m_folders.find(endpoint);
  if (it == m_folders.end() || --it->second.devices > 0) return;
  if (it->second.handle != -1 && server.RemoveOPCFolder) server.RemoveOPCFolder(it->second.handle);
  m_folders.erase(it);
}

int64_t DevicePoller::Run(int64_t nowMs) {
  int64_t next = kIdle;
  for (auto& [key, device] : m_devices) next = std::min(next, device->Run(nowMs));
  return next;
}

bool DevicePoller::HandleClientWrite(int32_t hTag, VARIANT* value, uint64_t token) {
  return std::any_of(m_devices.begin(), m_devices.end(), [&](auto& entry) {
    return entry.second->HandleClientWrite(hTag, value, token);
  });
}

void DevicePoller::AnnounceTags(ITagObserver& observer) const {
  for (const auto& [key, device] : m_devices) device->AnnounceTags(observer);
}

const MapDevice* DevicePoller::Find(const std::string& endpoint, int32_t slave) const {
  auto it = m_devices.find(Key{endpoint, slave});
  return it == m_devices.end() ? nullptr : it->second.get();
}
