// What the program above the runtime knows and the web pages report beside
// it, taken on the main thread at each request.
#pragma once

#include <optional>
#include <string>

#include "mqtt/MqttPublisher.h"

namespace web {

struct ProgramFigures {
  bool mqttEnabled = false;
  // The publisher's counts while it runs.
  std::optional<mqtt::PublisherCounters> mqtt;
  // The configuration file, which a change is saved to, and pelmoran.ini.
  std::string configPath;
  std::string settingsPath;
};

}  // namespace web
