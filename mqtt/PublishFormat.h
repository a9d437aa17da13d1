// What differs between the payload formats the publisher speaks: the
// messages that tell the broker the gateway is there or gone, how tags and
// the answers to writes are published, and the topics commands come on.
// The worker's only, but NextWill, which the session's thread asks for.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "mqtt/MetricSample.h"
#include "mqtt/MqttSession.h"

namespace mqtt {

class CommandIntake;
struct WriteOrigin;

class IPublishFormat {
 public:
  virtual ~IPublishFormat() = default;

  // At each start: what the previous run left in the spool directory.
  virtual void Load() = 0;
  // The will of the next connect, asked for before each one.
  virtual OutgoingMessage NextWill() = 0;
  // The current session's will, which an orderly end sends itself.
  virtual OutgoingMessage Will() const = 0;

  virtual void OnConnected() = 0;
  // The session ended, or the publisher stopped.
  virtual void OnDisconnected() = 0;
  // Connected, and with all else the format waits for before publishing.
  virtual bool Publishing() const = 0;

  // Whether a device's data must wait for the device's birth; kept changes
  // of a device that is not born then wait in a spool of its own.
  virtual bool WaitsForBirths() const = 0;
  virtual bool Born(const std::string& device) const = 0;
  // Devices born since the last call: their births carried the table's
  // latest values, so changes taken before are no news.
  virtual std::set<std::string> TakeBornInPass() = 0;
  // Tags were added or removed, or devices went on or off line.
  virtual void ReconcileDevices() = 0;
  // Tag paths of tags removed since the last call.
  virtual void OnRemovedTags(const std::vector<std::string>& tagPaths) = 0;
  // False when the session would not take them all. mids, when given,
  // gathers the mids of the messages.
  virtual bool SendSamples(const std::vector<MetricSample>& samples, bool retain,
                           std::vector<int>* mids) = 0;

  // A message on a topic the format subscribed to; writes go to intake.
  virtual void OnMessage(const std::string& topic, const std::string& payload,
                         CommandIntake& intake) = 0;
  // How a write ended, answer carrying the tag's value and writeStatus.
  virtual void AnswerWrite(const MetricSample& answer, const std::string& idJson) = 0;
  // A write refused before it reached the program, answered at once.
  virtual void AnswerRefusal(const std::string& name, uint32_t status,
                             const WriteOrigin& origin) = 0;
};

}  // namespace mqtt
