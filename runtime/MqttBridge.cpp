#include "runtime/MqttBridge.h"

#include <memory>

#include "mqtt/MqttPublisher.h"
#include "mqtt/Topics.h"
#include "platform/SharedVariant.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/MetricPublisher.h"
#include "runtime/Runtime.h"
#include "tagserver/tagserver.h"

static_assert(mqtt::MqttPublisher::kCommandIdBit == ITagObserver::kTokenBit,
              "a command's completion must find its way back to the publisher");

MqttBridge::MqttBridge(Runtime& runtime, IMetricPublisher& publisher, mqtt::DeviceScope devices)
    : m_runtime(runtime), m_publisher(publisher), m_scope(devices) {
  m_runtime.m_pTagObserver = this;
  m_runtime.m_endpoints.SetObserver(this);
  for (int i = 0; i < m_runtime.GetDocumentCount(); ++i)
    m_runtime.m_docTemplate.GetDocument(i)->AnnounceTags(*this);
  m_runtime.m_devicePoller.AnnounceTags(*this);
}

MqttBridge::~MqttBridge() {
  m_runtime.m_pTagObserver = nullptr;
  m_runtime.m_endpoints.SetObserver(nullptr);
}

std::string MqttBridge::DeviceName(const std::string& endpoint, int slaveNode,
                                   mqtt::DeviceScope scope, const std::string& device) {
  if (scope == mqtt::DeviceScope::Endpoint) return mqtt::Topics::Level(endpoint);
  const std::string node = device.empty() ? "NODE" + std::to_string(slaveNode) : device;
  return mqtt::Topics::Level(endpoint + "-" + node);
}

void MqttBridge::OnCommand(int32_t handle, const VARIANT& value, uint64_t commandId) {
  // An id without the bit would be completed at the tag server instead, to
  // an OPC UA client's write that may have the same number.
  if ((commandId & kTokenBit) == 0) {
    m_publisher.CompleteCommand(commandId, OPC_STATUS_BAD_INVALID_ARGUMENT);
    return;
  }
  // The write path converts the value in place.
  std::shared_ptr<VARIANT> copy = SharedVariantCopy(&value);
  m_runtime.OfferClientWrite(handle, copy.get(), commandId);
}

void MqttBridge::OnTagCreated(const TagInfo& tag) {
  // A scan that names no endpoint (one being opened from its file, before
  // the file names it) belongs to no device, and an empty device or topic
  // level is no name at the broker.
  if (tag.endpoint.empty()) return;
  const std::string name = DeviceName(tag.endpoint, tag.slaveNode, m_scope, tag.device);
  m_deviceOf[tag.handle] = name;
  auto [entry, added] = m_devices.try_emplace(name, Device{.endpoint = tag.endpoint});
  Device& device = entry->second;
  ++device.metrics;
  m_publisher.AddMetric(tag.handle, mqtt::Topics::Level(tag.endpoint), name, tag.name, tag.type,
                        tag.writable);
  // A new device is told its state once it has a tag to be born with.
  if (added) {
    device.online = m_runtime.m_endpoints.IsEndpointConnected(tag.endpoint);
    m_publisher.SetDeviceOnline(name, device.online);
  }
}

void MqttBridge::OnTagPublished(int32_t handle, const VARIANT& value, uint32_t status,
                                int64_t sourceTime) {
  if (m_deviceOf.contains(handle)) m_publisher.Update(handle, value, status, sourceTime);
}

void MqttBridge::OnTagRemoved(int32_t handle) {
  auto it = m_deviceOf.find(handle);
  if (it == m_deviceOf.end()) return;
  m_publisher.RemoveMetric(handle);
  auto device = m_devices.find(it->second);
  // A device without tags is forgotten: when tags come back it is told its
  // state anew.
  if (device != m_devices.end() && --device->second.metrics == 0) m_devices.erase(device);
  m_deviceOf.erase(it);
}

void MqttBridge::OnWriteCompleted(uint64_t token, uint32_t status) {
  m_publisher.CompleteCommand(token, status);
}

void MqttBridge::OnEndpointLink(const std::string& endpoint, bool up) {
  for (auto& [name, device] : m_devices)
    if (device.endpoint == endpoint) SetOnline(name, device, up);
}

void MqttBridge::SetOnline(const std::string& name, Device& device, bool online) {
  if (device.online == online) return;
  device.online = online;
  m_publisher.SetDeviceOnline(name, online);
}
