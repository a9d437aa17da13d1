// One run of the MQTT publisher in the program: the library's publisher, the
// bridge that feeds it the runtime's tags, and its two handlers, which run on
// the library's threads and only post to the main thread (the one rule).
// Main thread only otherwise; the runtime outlives it.
#pragma once

#include <memory>

#include "mqtt/MqttPublisher.h"
#include "runtime/MqttConfig.h"
#include "shell/MqttPublisherAdapter.h"

class MqttBridge;
class Runtime;

class MqttService : public std::enable_shared_from_this<MqttService> {
 public:
  // The publisher started with the settings and every tag of the runtime;
  // null when they are not enabled or cannot work, the reason in the
  // library log, where each key that kept its default is noted as well.
  static std::shared_ptr<MqttService> Start(Runtime& runtime, const mqtt::MqttSettings& settings,
                                            const mqttconfig::ReadNotes& notes);
  // Not started: Start makes one.
  explicit MqttService(const mqtt::MqttSettings& settings);
  // The bridge lets go of the runtime, then the publisher ends its session
  // (its death certificate) before the runtime's tags go.
  ~MqttService();
  MqttService(const MqttService&) = delete;
  MqttService& operator=(const MqttService&) = delete;

  mqtt::PublisherCounters Counters() const { return m_publisher.Counters(); }

  // The library's levels (0 error, 1 warning, 2 information) as syslog numbers
  // them, which the library log takes.
  static int SyslogLevel(int level);

 private:
  void InstallHandlers();

  mqtt::MqttPublisher m_publisher;
  MqttPublisherAdapter m_adapter{m_publisher};
  std::unique_ptr<MqttBridge> m_bridge;
};
