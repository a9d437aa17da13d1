// One run of the MQTT publisher in the program: the library's publisher, the
// bridge that feeds it the runtime's tags, and its command handler, which
// runs on the library's threads and only posts to the main thread (the one
// rule). Main thread only otherwise; the runtime outlives it.
#pragma once

#include <memory>
#include <string>

#include "mqtt/MqttPublisher.h"
#include "platform/Log.h"
#include "runtime/MqttConfig.h"

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

 private:
  // A line of the publisher's start, beside the publisher's own lines.
  static void Say(platform::LogLevel level, const std::string& text);
  void InstallHandlers();

  mqtt::MqttPublisher m_publisher;
  std::unique_ptr<MqttBridge> m_bridge;
};
