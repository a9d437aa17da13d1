// Writes from the broker on their way to the program and back: each one
// checked against its tag, handed to the program's command handler under an
// id of its own, and answered through the format when the program completes
// it, or at once when it is refused. The worker's only, but the handler,
// which the callers' threads set, and the counters.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "mqtt/MetricSample.h"
#include "mqtt/MetricTable.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/ValueConversion.h"

namespace mqtt {

class IPublishFormat;
struct PublisherContext;

// Where a write came from, for its answer: the device a Sparkplug DCMD
// named, or a JSON request's id and tag path.
struct WriteOrigin {
  std::string device;
  std::string idJson;
  std::string tagPath;
};

class CommandIntake {
 public:
  CommandIntake(PublisherContext& context, IPublishFormat& format);

  void SetHandler(MqttPublisher::CommandHandler handler);

  // A write of a tag the command named: to the program, or refused.
  void Dispatch(const WriteTarget& target, const ReceivedWrite& write, WriteOrigin origin);
  void Refuse(const std::string& name, WriteRefusal why, const WriteOrigin& origin);
  // A command that could not be read at all: counted, and not answered.
  void CountUnreadable();
  void Complete(uint64_t commandId, uint32_t status);
  // Answers every command still pending: the publisher is stopping.
  void AbandonAll();

  uint64_t Received() const { return m_received; }
  uint64_t Refused() const { return m_refused; }

 private:
  struct PendingCommand {
    int32_t handle = 0;
    std::string idJson;
  };

  PublisherContext& m_context;
  IPublishFormat& m_format;
  std::unordered_map<uint64_t, PendingCommand> m_commands;

  mutable std::mutex m_handlerMutex;
  MqttPublisher::CommandHandler m_handler;

  std::atomic<uint64_t> m_received{0};
  std::atomic<uint64_t> m_refused{0};
};

}  // namespace mqtt
