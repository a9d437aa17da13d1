#include "mqtt/MetricTable.h"

#include <bit>
#include <utility>

#include "mqtt/Topics.h"
#include "mqtt/ValueConversion.h"

namespace mqtt {

void MetricTable::Add(int32_t handle, const std::string& endpoint, const std::string& device,
                      const std::string& name, VARTYPE type, bool writable) {
  Remove(handle);
  Metric m;
  m.sample.endpoint = endpoint;
  m.sample.device = device;
  m.sample.name = name;
  m.sample.type = type;
  m.sample.status = kWaitingForInitialData;
  m.sample.timeMs = ValueConversion::NowMilliseconds();
  m.target = {handle, device, type, writable};
  m_byName[name] = m.target;
  m_byPath[Topics::TagPath(endpoint, name)] = m.target;
  m_metrics.emplace(handle, std::move(m));
  Device& d = m_devices[device];
  ++d.metrics;
  ++d.waiting;
  m_reshaped.insert(device);
}

void MetricTable::Remove(int32_t handle) {
  const auto it = m_metrics.find(handle);
  if (it == m_metrics.end()) return;
  const MetricSample& s = it->second.sample;
  m_byName.erase(s.name);
  const std::string path = Topics::TagPath(s.endpoint, s.name);
  m_byPath.erase(path);
  m_removedPaths.insert(path);
  Device& d = m_devices[s.device];
  // A device whose tags all went is born anew, with values, once tags are back.
  if (--d.metrics == 0) d.settled = false;
  m_reshaped.insert(s.device);
  const std::string device = s.device;
  const bool waited = s.status == kWaitingForInitialData;
  m_metrics.erase(it);
  if (waited) EndWait(device);
}

void MetricTable::EndWait(const std::string& device) {
  Device& d = m_devices[device];
  if (d.waiting > 0) --d.waiting;
  if (d.settled || d.waiting > 0 || d.metrics == 0) return;
  d.settled = true;
  // Its birth is due now.
  m_reshaped.insert(device);
}

namespace {
// Bit for bit, so that a NaN that stays NaN is no change and 0.0 after -0.0 is one.
bool SameValue(const ScalarValue& a, const ScalarValue& b) {
  const auto* x = std::get_if<double>(&a);
  const auto* y = std::get_if<double>(&b);
  if (x != nullptr && y != nullptr) {
    return std::bit_cast<uint64_t>(*x) == std::bit_cast<uint64_t>(*y);
  }
  return a == b;
}
}  // namespace

// The program hands over every poll's value: only a new value or status is
// news to the broker, a new source time alone is not.
bool MetricTable::Update(int32_t handle, const VARIANT& value, uint32_t status, uint64_t timeMs) {
  const auto it = m_metrics.find(handle);
  if (it == m_metrics.end()) return false;
  Metric& m = it->second;
  ScalarValue next = m.sample.value;
  if (!ValueConversion::IsBad(status)) next = ValueConversion::FromVariant(value, m.sample.type);
  if (status == m.sample.status && SameValue(next, m.sample.value)) return true;
  const bool firstUpdate =
      m.sample.status == kWaitingForInitialData && status != kWaitingForInitialData;
  m.sample.value = std::move(next);
  m.sample.status = status;
  m.sample.timeMs = timeMs;
  if (!m.dirty) {
    m.dirty = true;
    m_dirty.push_back(handle);
  }
  if (firstUpdate) EndWait(m.sample.device);
  return true;
}

void MetricTable::SetOnline(const std::string& device, bool online) {
  Device& d = m_devices[device];
  if (d.online == online) return;
  d.online = online;
  m_onlineChanged = true;
}

std::vector<MetricSample> MetricTable::TakeChanges() {
  std::vector<MetricSample> changes;
  changes.reserve(m_dirty.size());
  for (int32_t handle : m_dirty) {
    const auto it = m_metrics.find(handle);
    if (it == m_metrics.end() || !it->second.dirty) continue;
    it->second.dirty = false;
    changes.push_back(it->second.sample);
  }
  m_dirty.clear();
  return changes;
}

std::set<std::string> MetricTable::TakeReshaped() {
  m_onlineChanged = false;
  return std::exchange(m_reshaped, {});
}

std::vector<std::string> MetricTable::TakeRemovals() {
  const std::set<std::string> removed = std::exchange(m_removedPaths, {});
  return {removed.begin(), removed.end()};
}

std::set<std::string> MetricTable::LiveDevices() const {
  std::set<std::string> live;
  for (const auto& [name, d] : m_devices) {
    if (d.online && d.metrics > 0 && d.settled) live.insert(name);
  }
  return live;
}

bool MetricTable::Knows(const std::string& device) const {
  const auto it = m_devices.find(device);
  return it != m_devices.end() && it->second.metrics > 0;
}

std::vector<MetricSample> MetricTable::DeviceSamples(const std::string& device) const {
  std::vector<MetricSample> samples;
  for (const auto& [handle, m] : m_metrics) {
    if (m.sample.device == device) samples.push_back(m.sample);
  }
  return samples;
}

std::vector<MetricSample> MetricTable::AllSamples() const {
  std::vector<MetricSample> samples;
  samples.reserve(m_metrics.size());
  for (const auto& [handle, m] : m_metrics) samples.push_back(m.sample);
  return samples;
}

bool MetricTable::Sample(int32_t handle, MetricSample* sample) const {
  const auto it = m_metrics.find(handle);
  if (it == m_metrics.end()) return false;
  *sample = it->second.sample;
  return true;
}

const WriteTarget* MetricTable::FindByName(const std::string& name) const {
  const auto it = m_byName.find(name);
  return it == m_byName.end() ? nullptr : &it->second;
}

const WriteTarget* MetricTable::FindByPath(const std::string& tagPath) const {
  const auto it = m_byPath.find(tagPath);
  return it == m_byPath.end() ? nullptr : &it->second;
}

std::string MetricTable::DeviceByLevel(const std::string& level) const {
  for (const auto& [name, d] : m_devices) {
    if (Topics::Level(name) == level) return name;
  }
  return {};
}

}  // namespace mqtt
