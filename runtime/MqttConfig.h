// The [Mqtt] section of the settings file: how the gateway reaches its MQTT
// broker and what it publishes there.
//
//   [Mqtt]
//   Enabled=1
//   Host=broker.example
//   Format=sparkplug
//
// A key that is missing, or whose value is none the key takes, has its
// default; the latter is noted. A port is taken as written, whatever its
// number: the publisher refuses to start with one outside 1 to 65535 and
// says why; a port that is not a number is an error of the reading.
#pragma once

#include <string>
#include <vector>

#include "mqtt/MqttSettings.h"

class SettingsFile;

namespace mqttconfig {

constexpr const char* kSection = "Mqtt";
constexpr const char* kSpoolFolder = "mqtt-spool";
constexpr int kPlainPort = 1883;
constexpr int kTlsPort = 8883;
constexpr int kShortestKeepAlive = 5;
constexpr int kLongestKeepAlive = 65535;
constexpr int kMostSpoolMegabytes = 1024 * 1024;
constexpr int kBytesPerMegabyte = 1024 * 1024;

// What Read could not take as written.
struct ReadNotes {
  // One line per key whose value it does not take, naming the default used.
  std::vector<std::string> fallbacks;
  // Set when the settings must not be used, saying why.
  std::string error;
};

// folder: the configuration directory with its trailing "/", where the spool
// is kept; hostName: the edge node id when none is set.
mqtt::MqttSettings Read(const SettingsFile& file, const std::string& folder,
                        const std::string& hostName, ReadNotes* notes = nullptr);
// Every key of the section; the file's other lines stay.
void Write(const mqtt::MqttSettings& settings, SettingsFile& file);
// This machine's name; "localhost" when it has none.
std::string HostName();

}  // namespace mqttconfig
