// What the program above the runtime knows and the web pages report beside
// it, taken on the main thread at each request.
#pragma once

#include <optional>

#include "mqtt/MqttPublisher.h"

namespace web {

struct ProgramFigures {
  bool mqttEnabled = false;
  // The publisher's counts while it runs.
  std::optional<mqtt::PublisherCounters> mqtt;
};

}  // namespace web
