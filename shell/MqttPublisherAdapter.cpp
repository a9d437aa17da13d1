#include "shell/MqttPublisherAdapter.h"

void MqttPublisherAdapter::AddMetric(int32_t handle, const std::string& endpoint,
                                     const std::string& device, const std::string& name,
                                     VARTYPE type, bool writable) {
  m_publisher.AddMetric(handle, endpoint, device, name, type, writable);
}

void MqttPublisherAdapter::RemoveMetric(int32_t handle) { m_publisher.RemoveMetric(handle); }

void MqttPublisherAdapter::Update(int32_t handle, const VARIANT& value, uint32_t status,
                                  int64_t sourceTime) {
  m_publisher.Update(handle, value, status, sourceTime);
}

void MqttPublisherAdapter::SetDeviceOnline(const std::string& device, bool online) {
  m_publisher.SetDeviceOnline(device, online);
}

void MqttPublisherAdapter::CompleteCommand(uint64_t commandId, uint32_t status) {
  m_publisher.CompleteCommand(commandId, status);
}
