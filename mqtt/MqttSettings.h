// How the gateway reaches its MQTT broker and what it publishes there. Read
// from the [Mqtt] section of the settings file by the program; the library
// takes it as it is.
#pragma once

#include <cstdint>
#include <string>

namespace mqtt {

enum class ProtocolVersion { V311 = 4, V5 = 5 };

// Sparkplug B protobuf payloads under spBv1.0/, or one JSON document per tag
// under the topic prefix.
enum class PayloadFormat { SparkplugB, Json };

// What a Sparkplug device stands for: a whole endpoint, or one slave node on it.
enum class DeviceScope { Endpoint, Slave };

struct MqttSettings {
  bool enabled = false;
  std::string host = "localhost";
  int port = 1883;
  ProtocolVersion protocol = ProtocolVersion::V311;
  // Empty: "pelmoran-" followed by the edge node id.
  std::string clientId;
  // Empty: no user name is sent.
  std::string username;
  std::string password;
  bool tls = false;
  // Empty with TLS on: the system's trusted authorities.
  std::string caFile;
  // A client certificate and its key, both or neither.
  std::string certFile;
  std::string keyFile;
  int qos = 1;
  int keepAliveSeconds = 30;
  PayloadFormat format = PayloadFormat::SparkplugB;
  std::string groupId = "pelmoran";
  // Must be set: the program fills it, by default with the host name.
  std::string edgeNodeId;
  DeviceScope devices = DeviceScope::Endpoint;
  // Sparkplug: the primary host application whose STATE the edge node
  // follows, publishing only while it is online; empty, none is followed.
  std::string primaryHostId;
  // The first level of every JSON topic.
  std::string topicPrefix = "pelmoran";
  // Where changes wait while the broker cannot be reached, and how much of
  // them is kept; past the limit the oldest go first.
  std::string spoolDirectory;
  uint64_t spoolLimitBytes = 64ull * 1024 * 1024;
};

}  // namespace mqtt
