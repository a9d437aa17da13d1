#include "runtime/MqttConfig.h"

#include <unistd.h>

#include <array>
#include <climits>

#include "runtime/SettingsFile.h"

namespace mqttconfig {

namespace {

constexpr const char* kProtocol311 = "3.1.1";
constexpr const char* kProtocol5 = "5";
constexpr const char* kSparkplug = "sparkplug";
constexpr const char* kJson = "json";
constexpr const char* kEndpointDevices = "endpoint";
constexpr const char* kSlaveDevices = "slave";

bool Flag(const SettingsFile& file, const char* key) {
  return file.GetInt(kSection, key, 0, 0, 1) == 1;
}

// An empty value says nothing: the default stands.
std::string Text(const SettingsFile& file, const char* key, const std::string& fallback) {
  std::string value = file.GetString(kSection, key, fallback);
  return value.empty() ? fallback : value;
}

// The value if it is one of the two words, else the default (the first).
template <class T>
T Choice(const SettingsFile& file, const char* key, std::pair<const char*, T> first,
         std::pair<const char*, T> second) {
  return file.GetString(kSection, key, "") == second.first ? second.second : first.second;
}

}  // namespace

mqtt::MqttSettings Read(const SettingsFile& file, const std::string& folder,
                        const std::string& hostName) {
  mqtt::MqttSettings s;
  s.enabled = Flag(file, "Enabled");
  s.host = Text(file, "Host", s.host);
  s.tls = Flag(file, "Tls");
  s.port = file.GetInt(kSection, "Port", s.tls ? kTlsPort : kPlainPort, INT_MIN, INT_MAX);
  s.protocol = Choice(file, "Protocol", std::pair{kProtocol311, mqtt::ProtocolVersion::V311},
                      std::pair{kProtocol5, mqtt::ProtocolVersion::V5});
  s.clientId = file.GetString(kSection, "ClientId", "");
  s.username = file.GetString(kSection, "Username", "");
  s.password = file.GetString(kSection, "Password", "");
  s.caFile = file.GetString(kSection, "CaFile", "");
  s.certFile = file.GetString(kSection, "CertFile", "");
  s.keyFile = file.GetString(kSection, "KeyFile", "");
  s.qos = file.GetInt(kSection, "Qos", s.qos, 0, 2);
  s.keepAliveSeconds =
      file.GetInt(kSection, "KeepAlive", s.keepAliveSeconds, kShortestKeepAlive, kLongestKeepAlive);
  s.format = Choice(file, "Format", std::pair{kSparkplug, mqtt::PayloadFormat::SparkplugB},
                    std::pair{kJson, mqtt::PayloadFormat::Json});
  s.groupId = Text(file, "GroupId", s.groupId);
  s.edgeNodeId = Text(file, "EdgeNodeId", hostName);
  s.devices = Choice(file, "Devices", std::pair{kEndpointDevices, mqtt::DeviceScope::Endpoint},
                     std::pair{kSlaveDevices, mqtt::DeviceScope::Slave});
  s.primaryHostId = file.GetString(kSection, "PrimaryHostId", "");
  s.topicPrefix = Text(file, "TopicPrefix", s.topicPrefix);
  const int megabytes =
      file.GetInt(kSection, "SpoolMegabytes",
                  static_cast<int>(s.spoolLimitBytes / kBytesPerMegabyte), 0, kMostSpoolMegabytes);
  s.spoolLimitBytes = static_cast<uint64_t>(megabytes) * kBytesPerMegabyte;
  s.spoolDirectory = folder + kSpoolFolder;
  return s;
}

void Write(const mqtt::MqttSettings& s, SettingsFile& file) {
  file.SetInt(kSection, "Enabled", s.enabled ? 1 : 0);
  file.SetString(kSection, "Host", s.host);
  file.SetInt(kSection, "Port", s.port);
  file.SetString(kSection, "Protocol",
                 s.protocol == mqtt::ProtocolVersion::V5 ? kProtocol5 : kProtocol311);
  file.SetString(kSection, "ClientId", s.clientId);
  file.SetString(kSection, "Username", s.username);
  file.SetString(kSection, "Password", s.password);
  file.SetInt(kSection, "Tls", s.tls ? 1 : 0);
  file.SetString(kSection, "CaFile", s.caFile);
  file.SetString(kSection, "CertFile", s.certFile);
  file.SetString(kSection, "KeyFile", s.keyFile);
  file.SetInt(kSection, "Qos", s.qos);
  file.SetInt(kSection, "KeepAlive", s.keepAliveSeconds);
  file.SetString(kSection, "Format", s.format == mqtt::PayloadFormat::Json ? kJson : kSparkplug);
  file.SetString(kSection, "GroupId", s.groupId);
  file.SetString(kSection, "EdgeNodeId", s.edgeNodeId);
  file.SetString(kSection, "Devices",
                 s.devices == mqtt::DeviceScope::Slave ? kSlaveDevices : kEndpointDevices);
  file.SetString(kSection, "PrimaryHostId", s.primaryHostId);
  file.SetString(kSection, "TopicPrefix", s.topicPrefix);
  file.SetInt(kSection, "SpoolMegabytes", static_cast<int>(s.spoolLimitBytes / kBytesPerMegabyte));
}

std::string HostName() {
  std::array<char, HOST_NAME_MAX + 1> name{};
  if (gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') return "localhost";
  return name.data();
}

}  // namespace mqttconfig
