// The [Mqtt] section of pelmoran.ini: what each key's text is read as, with
// the defaults and bounds of the settings table, and the round trip through
// the file that the dialog makes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "runtime/MqttConfig.h"
#include "runtime/SettingsFile.h"

namespace {

using mqtt::MqttSettings;

MqttSettings Read(const std::string& text) {
  return mqttconfig::Read(SettingsFile::Parse("[Mqtt]\n" + text), "/cfg/", "gateway7");
}

TEST(MqttConfig, AnEmptySectionHasTheDefaults) {
  const MqttSettings s = Read("");
  EXPECT_FALSE(s.enabled);
  EXPECT_EQ(s.host, "localhost");
  EXPECT_EQ(s.port, 1883);
  EXPECT_EQ(s.protocol, mqtt::ProtocolVersion::V311);
  EXPECT_EQ(s.clientId, "");
  EXPECT_FALSE(s.tls);
  EXPECT_EQ(s.qos, 1);
  EXPECT_EQ(s.keepAliveSeconds, 30);
  EXPECT_EQ(s.format, mqtt::PayloadFormat::SparkplugB);
  EXPECT_EQ(s.groupId, "pelmoran");
  EXPECT_EQ(s.edgeNodeId, "gateway7");
  EXPECT_EQ(s.devices, mqtt::DeviceScope::Endpoint);
  EXPECT_EQ(s.topicPrefix, "pelmoran");
  EXPECT_EQ(s.spoolLimitBytes, 64ull << 20);
  EXPECT_EQ(s.spoolDirectory, "/cfg/mqtt-spool");
}

TEST(MqttConfig, EachKeysTextIsReadWithinItsBounds) {
  struct Case {
    const char* text;
    std::function<bool(const MqttSettings&)> holds;
  };
  const Case cases[] = {
      {"Enabled=1", [](auto& s) { return s.enabled; }},
      {"Enabled=2", [](auto& s) { return !s.enabled; }},
      {"Tls=1", [](auto& s) { return s.tls && s.port == 8883; }},
      {"Tls=1\nPort=1883", [](auto& s) { return s.tls && s.port == 1883; }},
      // Out of range is kept: the publisher refuses it and says why.
      {"Port=70000", [](auto& s) { return s.port == 70000; }},
      {"Port=0", [](auto& s) { return s.port == 0; }},
      {"Port=abc", [](auto& s) { return s.port == 1883; }},
      {"Protocol=5", [](auto& s) { return s.protocol == mqtt::ProtocolVersion::V5; }},
      {"Protocol=3.1", [](auto& s) { return s.protocol == mqtt::ProtocolVersion::V311; }},
      {"Qos=0", [](auto& s) { return s.qos == 0; }},
      {"Qos=2", [](auto& s) { return s.qos == 2; }},
      {"Qos=3", [](auto& s) { return s.qos == 1; }},
      {"KeepAlive=2", [](auto& s) { return s.keepAliveSeconds == 30; }},
      {"KeepAlive=600", [](auto& s) { return s.keepAliveSeconds == 600; }},
      {"Format=json", [](auto& s) { return s.format == mqtt::PayloadFormat::Json; }},
      {"Format=xml", [](auto& s) { return s.format == mqtt::PayloadFormat::SparkplugB; }},
      {"Devices=slave", [](auto& s) { return s.devices == mqtt::DeviceScope::Slave; }},
      {"Devices=node", [](auto& s) { return s.devices == mqtt::DeviceScope::Endpoint; }},
      {"Host=", [](auto& s) { return s.host == "localhost"; }},
      {"EdgeNodeId=", [](auto& s) { return s.edgeNodeId == "gateway7"; }},
      {"SpoolMegabytes=0", [](auto& s) { return s.spoolLimitBytes == 0; }},
      {"SpoolMegabytes=-1", [](auto& s) { return s.spoolLimitBytes == 64ull << 20; }},
      {"Password= p w ", [](auto& s) { return s.password == "p w"; }},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.holds(Read(c.text))) << c.text;
}

TEST(MqttConfig, WhatIsWrittenIsReadBackAndTheFilesOtherLinesStay) {
  MqttSettings s;
  s.enabled = true;
  s.host = "broker.example";
  s.port = 8884;
  s.protocol = mqtt::ProtocolVersion::V5;
  s.clientId = "gw-1";
  s.username = "user";
  s.password = "p=ss;#word";
  s.tls = true;
  s.caFile = "/etc/ca.pem";
  s.certFile = "/etc/c.pem";
  s.keyFile = "/etc/k.pem";
  s.qos = 2;
  s.keepAliveSeconds = 45;
  s.format = mqtt::PayloadFormat::Json;
  s.groupId = "plant";
  s.edgeNodeId = "line4";
  s.devices = mqtt::DeviceScope::Slave;
  s.topicPrefix = "site";
  s.primaryHostId = "scada1";
  s.spoolLimitBytes = 5ull << 20;
  const std::string path =
      (std::filesystem::temp_directory_path() / ("mqttconfig-" + std::to_string(getpid())))
          .string();
  SettingsFile file = SettingsFile::Parse("[Demotion]\nTimeouts=4\n");
  mqttconfig::Write(s, file);
  ASSERT_TRUE(file.Save(path));
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
      << "the file holds a password";
  const SettingsFile loaded = SettingsFile::Load(path);
  std::filesystem::remove(path);
  const MqttSettings r = mqttconfig::Read(loaded, "/cfg/", "other");
  EXPECT_EQ(loaded.GetInt("Demotion", "Timeouts", 0, 0, 9), 4);
  EXPECT_EQ(std::tie(r.enabled, r.host, r.port, r.protocol, r.clientId, r.username, r.password),
            std::tie(s.enabled, s.host, s.port, s.protocol, s.clientId, s.username, s.password));
  EXPECT_EQ(std::tie(r.tls, r.caFile, r.certFile, r.keyFile, r.qos, r.keepAliveSeconds),
            std::tie(s.tls, s.caFile, s.certFile, s.keyFile, s.qos, s.keepAliveSeconds));
  EXPECT_EQ(std::tie(r.format, r.groupId, r.edgeNodeId, r.devices, r.topicPrefix, r.primaryHostId,
                     r.spoolLimitBytes),
            std::tie(s.format, s.groupId, s.edgeNodeId, s.devices, s.topicPrefix, s.primaryHostId,
                     s.spoolLimitBytes));
  // A line break in a value would start a line of its own.
  file.SetString("Mqtt", "Password", "one\n[Other]\nKey=1");
  EXPECT_EQ(SettingsFile::Parse(file.Text()).GetString("Mqtt", "Password", ""), "one");
}

}  // namespace
