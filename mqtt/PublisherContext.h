// What the publisher's worker and its parts share: the settings, the tag
// table, the broker session of the current start and whether it is
// connected. The worker's own, but for the table, which the callers' threads
// update too, under mutex.
#pragma once

#include <sys/stat.h>

#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "mqtt/MetricTable.h"
#include "mqtt/MqttSession.h"
#include "mqtt/MqttSettings.h"
#include "platform/Log.h"

namespace mqtt {

struct PublisherContext {
  // The files the publisher keeps beside its spool.
  static constexpr mode_t kFileMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;

  explicit PublisherContext(MqttSettings s)
      : settings(std::move(s)), broker(settings.host + ":" + std::to_string(settings.port)) {}

  // A line about the broker, the session or the publisher as a whole.
  void Log(platform::LogLevel level, std::string_view text) const {
    platform::log(level, platform::LogCategory::Mqtt, broker, text);
  }
  // A line about one device; one about no device in particular is the broker's.
  void LogAbout(platform::LogLevel level, std::string_view device, std::string_view text) const {
    platform::log(level, platform::LogCategory::Mqtt, device.empty() ? broker : device, text);
  }

  MqttSettings settings;
  // "host:port", the context of the publisher's lines.
  std::string broker;
  mutable std::mutex mutex;
  MetricTable table;
  // From Start to Stop; set and cleared under mutex, for Counters reads it.
  MqttSession* session = nullptr;
  bool connected = false;
};

}  // namespace mqtt
