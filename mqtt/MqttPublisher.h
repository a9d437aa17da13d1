// Publishes the gateway's tags to an MQTT broker, as Sparkplug B or as JSON,
// and takes writes back from it. It runs on threads of its own (libmosquitto's
// network loop and one worker); every public member may be called from any
// thread. The command handler is called on its own threads and must not
// block: the program posts it to its main thread. Its lines go to the
// program's logger (platform/Log.h), category Mqtt, about the broker
// ("host:port") or the device they name.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mqtt/MetricPublisher.h"
#include "mqtt/MqttSettings.h"
#include "platform/Variant.h"

namespace mqtt {

struct PublisherCounters {
  bool connected = false;
  uint64_t connects = 0;         // sessions the broker accepted
  uint64_t published = 0;        // messages handed to the broker
  uint64_t acknowledged = 0;     // QoS 1 and 2 messages the broker confirmed
  uint64_t spooled = 0;          // changes kept while the broker could not be reached
  uint64_t spoolDropped = 0;     // kept changes dropped, oldest first, past the limit
  uint64_t commands = 0;         // writes received
  uint64_t commandsRefused = 0;  // commands that named no writable tag or carried no usable value
};

class MqttPublisher : public IMetricPublisher {
 public:
  // A write received from the broker, for the tag published under handle. The
  // program completes it with CompleteCommand(commandId, status).
  using CommandHandler =
      std::function<void(int32_t handle, const VARIANT& value, uint64_t commandId)>;

  // Command ids carry this bit, so that they never meet the tag server's tokens.
  static constexpr uint64_t kCommandIdBit = 1ull << 63;

  explicit MqttPublisher(MqttSettings settings);
  // Stop().
  ~MqttPublisher() override;
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  void SetCommandHandler(CommandHandler handler);

  // Starts connecting in the background; false with the reason when the
  // settings cannot work (a TLS file that cannot be read, a bad port, a
  // spool directory that cannot be made).
  bool Start(std::string* error);
  // Ends the session the way a death certificate says (Sparkplug NDEATH, or
  // the JSON status "offline"), then disconnects. Changes not yet sent stay
  // in the spool for the next start.
  void Stop();

  // A tag as it is published: device is the Sparkplug device it belongs to
  // (the endpoint, or the endpoint and slave node), name its full tag name,
  // type the VARIANT type its values have. Adding or removing a tag of a
  // device that has been born gives the device a new birth.
  void AddMetric(int32_t handle, const std::string& endpoint, const std::string& device,
                 const std::string& name, VARTYPE type, bool writable) override;
  void RemoveMetric(int32_t handle) override;
  // A new value or status: status is the OPC UA status code, sourceTime in
  // 100 ns ticks since 1601-01-01 UTC, as the tag server takes them.
  void Update(int32_t handle, const VARIANT& value, uint32_t status, int64_t sourceTime) override;
  // A device whose endpoint is down gets its death certificate, and a new
  // birth when the endpoint is back.
  void SetDeviceOnline(const std::string& device, bool online) override;
  // How a command ended, as the status code an OPC UA client would get.
  void CompleteCommand(uint64_t commandId, uint32_t status) override;

  PublisherCounters Counters() const;

 private:
  class Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace mqtt
