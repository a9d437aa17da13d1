// The MQTT library's publisher behind the bridge's interface.
#pragma once

#include "mqtt/MqttPublisher.h"
#include "runtime/MetricPublisher.h"

class MqttPublisherAdapter : public IMetricPublisher {
 public:
  explicit MqttPublisherAdapter(mqtt::MqttPublisher& publisher) : m_publisher(publisher) {}

  void AddMetric(int32_t handle, const std::string& endpoint, const std::string& device,
                 const std::string& name, VARTYPE type, bool writable) override;
  void RemoveMetric(int32_t handle) override;
  void Update(int32_t handle, const VARIANT& value, uint32_t status, int64_t sourceTime) override;
  void SetDeviceOnline(const std::string& device, bool online) override;
  void CompleteCommand(uint64_t commandId, uint32_t status) override;

 private:
  mqtt::MqttPublisher& m_publisher;
};
