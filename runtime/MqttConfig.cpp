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

// Reads the section, noting each key whose value it does not take.
class Reader {
 public:
  Reader(const SettingsFile& file, ReadNotes* notes) : m_file(file), m_notes(notes) {}

  bool Flag(const char* key) const { return Number(key, 0, 0, 1) == 1; }

  // The value if it is a whole number within [low, high], else fallback.
  int Number(const char* key, int fallback, int low, int high) const {
    if (Raw(key).empty()) return fallback;
    // Two readings with different fallbacks agree only on a value taken.
    const int value = m_file.GetInt(kSection, key, fallback, low, high);
    const int other = fallback == low ? high : low;
    if (value == fallback && m_file.GetInt(kSection, key, other, low, high) == other) {
      NoteFallback(key, std::to_string(fallback));
    }
    return value;
  }

  std::string Raw(const char* key) const { return m_file.GetString(kSection, key, ""); }

  // An empty value says nothing: the default stands.
  std::string Text(const char* key, const std::string& fallback) const {
    const std::string value = Raw(key);
    return value.empty() ? fallback : value;
  }

  // The value if it is one of the two words, else the default (the first).
  template <class T>
  T Choice(const char* key, std::pair<const char*, T> first,
           std::pair<const char*, T> second) const {
    const std::string value = Raw(key);
    if (value == second.first) return second.second;
    if (!value.empty() && value != first.first) NoteFallback(key, first.first);
    return first.second;
  }

  // Any whole number is kept, for the publisher to refuse with its reason.
  int Port(int fallback) const {
    const std::string text = Raw("Port");
    if (text.empty()) return fallback;
    const int value = m_file.GetInt(kSection, "Port", fallback, INT_MIN, INT_MAX);
    if (value == fallback && m_file.GetInt(kSection, "Port", fallback + 1, INT_MIN, INT_MAX) ==
                                 fallback + 1) {
      NoteError("the MQTT port " + text + " is not a number");
    }
    return value;
  }

  void NoteFallback(const char* key, const std::string& fallback) const {
    if (m_notes == nullptr) return;
    m_notes->fallbacks.push_back(std::string(key) + "=" + Raw(key) +
                                 " is not a value it takes: the default " + fallback +
                                 " is used");
  }

  void NoteError(const std::string& error) const {
    if (m_notes != nullptr && m_notes->error.empty()) m_notes->error = error;
  }

 private:
  const SettingsFile& m_file;
  ReadNotes* m_notes;
};

}  // namespace

mqtt::MqttSettings Read(const SettingsFile& file, const std::string& folder,
                        const std::string& hostName, ReadNotes* notes) {
  const Reader r(file, notes);
  mqtt::MqttSettings s;
  s.enabled = r.Flag("Enabled");
  s.host = r.Text("Host", s.host);
  s.tls = r.Flag("Tls");
  s.port = r.Port(s.tls ? kTlsPort : kPlainPort);
  s.protocol = r.Choice("Protocol", std::pair{kProtocol311, mqtt::ProtocolVersion::V311},
                        std::pair{kProtocol5, mqtt::ProtocolVersion::V5});
  s.clientId = r.Raw("ClientId");
  s.username = r.Raw("Username");
  s.password = r.Raw("Password");
  s.caFile = r.Raw("CaFile");
  s.certFile = r.Raw("CertFile");
  s.keyFile = r.Raw("KeyFile");
  s.qos = r.Number("Qos", s.qos, 0, 2);
  s.keepAliveSeconds =
      r.Number("KeepAlive", s.keepAliveSeconds, kShortestKeepAlive, kLongestKeepAlive);
  s.format = r.Choice("Format", std::pair{kSparkplug, mqtt::PayloadFormat::SparkplugB},
                      std::pair{kJson, mqtt::PayloadFormat::Json});
  s.groupId = r.Text("GroupId", s.groupId);
  s.edgeNodeId = r.Text("EdgeNodeId", hostName);
  s.devices = r.Choice("Devices", std::pair{kEndpointDevices, mqtt::DeviceScope::Endpoint},
                       std::pair{kSlaveDevices, mqtt::DeviceScope::Slave});
  s.primaryHostId = r.Raw("PrimaryHostId");
  s.topicPrefix = r.Text("TopicPrefix", s.topicPrefix);
  const int megabytes = r.Number(
      "SpoolMegabytes", static_cast<int>(s.spoolLimitBytes / kBytesPerMegabyte), 0,
      kMostSpoolMegabytes);
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
