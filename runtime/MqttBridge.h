// Hands the runtime's tags to an MQTT publisher as the tag server gets them,
// each under its device (its endpoint, or its endpoint and slave node), with
// each device online while its endpoint's link is up; and hands writes from
// the broker to the same write path as an OPC UA client's, their ends back
// with the status such a client would get. Main thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "link/EndpointObserver.h"
#include "mqtt/MqttSettings.h"
#include "pointdb/TagObserver.h"
#include "runtime/MetricPublisher.h"

class Runtime;

class MqttBridge : public ITagObserver, public IEndpointObserver {
 public:
  // Observes the runtime from now on, and gives the publisher every tag
  // published already and the state of every device.
  MqttBridge(Runtime& runtime, IMetricPublisher& publisher, mqtt::DeviceScope devices);
  // Observes no more; the publisher keeps what it was given.
  ~MqttBridge() override;
  MqttBridge(const MqttBridge&) = delete;
  MqttBridge& operator=(const MqttBridge&) = delete;

  // The device a tag belongs to, with the characters MQTT reserves in a
  // topic level ('/', '+', '#') made '_'; a device the operator named (a
  // register map's) goes by its name rather than NODE<slaveNode>.
  static std::string DeviceName(const std::string& endpoint, int slaveNode,
                                mqtt::DeviceScope scope, const std::string& device = {});

  // A write from the broker; its id carries kTokenBit.
  void OnCommand(int32_t handle, const VARIANT& value, uint64_t commandId);

  void OnTagCreated(const TagInfo& tag) override;
  void OnTagPublished(int32_t handle, const VARIANT& value, uint32_t status,
                      int64_t sourceTime) override;
  void OnTagRemoved(int32_t handle) override;
  void OnWriteCompleted(uint64_t token, uint32_t status) override;
  void OnEndpointLink(const std::string& endpoint, bool up) override;

 private:
  struct Device {
    std::string endpoint;
    int metrics = 0;
    bool online = false;
  };

  void SetOnline(const std::string& name, Device& device, bool online);

  Runtime& m_runtime;
  IMetricPublisher& m_publisher;
  mqtt::DeviceScope m_scope;
  // Each published handle's device, and the devices by name.
  std::map<int32_t, std::string> m_deviceOf;
  std::map<std::string, Device> m_devices;
};
