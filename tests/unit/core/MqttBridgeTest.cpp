// The MQTT bridge on the whole core: tags reach the publisher as the tag
// server gets them, under the right device, and a write from the broker takes
// the OPC UA client's path and comes back with the status such a client gets.
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "mqtt/MqttPublisher.h"
#include "runtime/MetricPublisher.h"
#include "runtime/MqttBridge.h"
#include "support/CoreWorld.h"
#include "support/Variants.h"

namespace {

using mqtt::DeviceScope;

constexpr uint64_t kCommand = mqtt::MqttPublisher::kCommandIdBit;

struct FakePublisher : IMetricPublisher {
  struct Metric {
    std::string endpoint, device, name;
    VARTYPE type = VT_EMPTY;
    bool writable = false;
    std::optional<double> value;
    uint32_t status = 0;
    int64_t time = 0;
  };
  std::map<int32_t, Metric> metrics;
  std::map<std::string, bool> online;
  // Every state change of a device, in order: "device up" or "device down".
  std::vector<std::string> deviceChanges;
  std::vector<std::pair<uint64_t, uint32_t>> completions;

  void AddMetric(int32_t handle, const std::string& endpoint, const std::string& device,
                 const std::string& name, VARTYPE type, bool writable) override {
    EXPECT_FALSE(metrics.contains(handle)) << name << " added twice";
    metrics[handle] = {endpoint, device, name, type, writable, std::nullopt, 0, 0};
  }
  void RemoveMetric(int32_t handle) override { EXPECT_EQ(metrics.erase(handle), 1u); }
  void Update(int32_t handle, const VARIANT& value, uint32_t status, int64_t time) override {
    ASSERT_TRUE(metrics.contains(handle)) << "an update before its metric";
    VARIANT number;
    VariantInit(&number);
    Metric& m = metrics[handle];
    m.value.reset();
    if (VariantChangeType(&number, &value, 0, VT_R8) == S_OK) m.value = number.dblVal;
    m.status = status;
    m.time = time;
  }
  void SetDeviceOnline(const std::string& device, bool up) override {
    online[device] = up;
    deviceChanges.push_back(device + (up ? " up" : " down"));
  }
  void CompleteCommand(uint64_t id, uint32_t status) override {
    completions.emplace_back(id, status);
  }
  const Metric* Named(const std::string& name) const {
    for (const auto& [handle, m] : metrics)
      if (m.name == name) return &m;
    return nullptr;
  }
};

struct BridgeFixture : ::testing::Test {
  CoreWorld w;
  FakePublisher publisher;
  std::optional<MqttBridge> bridge;

  void Attach(DeviceScope scope) { bridge.emplace(w.app, publisher, scope); }
};

TEST_F(BridgeFixture, TagsReachThePublisherUnderTheirDevicesWithTheirTypes) {
  struct Case {
    DeviceScope scope;
    int slave;
    int pointType;
    int dataType;
    std::string device;
    VARTYPE type;
    bool writable;
  };
  const Case cases[] = {
      {DeviceScope::Endpoint, 1, 3, 0, "PLC_1_a_b", VT_R4, true},
      {DeviceScope::Endpoint, 2, 3, 6, "PLC_1_a_b", VT_I4, true},
      {DeviceScope::Slave, 7, 3, 29, "PLC_1_a_b-NODE7", VT_R8, true},
      {DeviceScope::Slave, 9, 4, 22, "PLC_1_a_b-NODE9", VT_UI8, false},
      {DeviceScope::Slave, 9, 1, 6, "PLC_1_a_b-NODE9", VT_R4, true},
  };
  w.ConnectedTcpEndpoint("PLC/1+a#b");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device + " data type " + std::to_string(c.dataType));
    bridge.reset();
    publisher = FakePublisher{};
    Attach(c.scope);
    CPelmoranDoc* doc = w.Scan("PLC/1+a#b", c.pointType, 100, 8, c.dataType, c.slave);
    ASSERT_EQ(publisher.metrics.size(), static_cast<size_t>(doc->GetTagCount()));
    for (int i = 0; i < doc->GetTagCount(); ++i) {
      const int32_t handle = doc->GetTag(i)->m_hTag;
      const FakePublisher::Metric& m = publisher.metrics.at(handle);
      EXPECT_EQ(m.name, w.tagServer.tags.at(handle).name);
      EXPECT_EQ(m.endpoint, "PLC_1_a_b");
      EXPECT_EQ(m.device, c.device);
      EXPECT_EQ(m.type, c.type);
      EXPECT_EQ(m.writable, c.writable);
      EXPECT_EQ(m.status, OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA);
    }
    EXPECT_EQ(publisher.online, (std::map<std::string, bool>{{c.device, true}}));
    w.app.m_docTemplate.CloseDocument(doc);
    EXPECT_TRUE(publisher.metrics.empty());
  }
  // A scan being opened names no endpoint until its file is read.
  publisher.deviceChanges.clear();
  w.Scan("", 3, 1, 2);
  EXPECT_TRUE(publisher.metrics.empty());
  EXPECT_TRUE(publisher.deviceChanges.empty());
}

TEST_F(BridgeFixture, ValuesStatusesAndRepublishedTagsFollowTheTagServer) {
  Attach(DeviceScope::Endpoint);
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("MODBUS1");
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  w.modbus.memory[1] = 42;
  doc->Poll();
  FakeModbus::Respond(tcp->m_hConnection);
  const int32_t first = doc->GetTag(0)->m_hTag;
  EXPECT_EQ(publisher.metrics.at(first).value, 42.0);
  EXPECT_EQ(publisher.metrics.at(first).status, w.tagServer.tags.at(first).status);
  EXPECT_EQ(publisher.metrics.at(first).time, w.tagServer.tags.at(first).sourceTime);
  w.modbus.responseStatus = MBS_POLL_TIMEOUT;
  doc->Poll();
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(publisher.metrics.at(first).status, OPC_STATUS_BAD_TIMEOUT);
  EXPECT_EQ(publisher.metrics.at(first).value, 42.0) << "a bad tag keeps its last good value";
  // A new type is a new node at the tag server, and a new metric here.
  doc->SetTagFormat(0, 26, 0.0f, 100.0f, TagFormat{});
  const int32_t again = doc->GetTag(0)->m_hTag;
  EXPECT_FALSE(publisher.metrics.contains(first));
  EXPECT_EQ(publisher.metrics.at(again).type, VT_R8);
}

TEST_F(BridgeFixture, ABridgeAttachedLaterLearnsEveryTagAndEveryEndpointsState) {
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("UP");
  w.ConnectedTcpEndpoint("DOWN");
  w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, w.frame.FindEndpoint("DOWN")->m_hConnection);
  CPelmoranDoc* up = w.Scan("UP", 3, 1, 3);
  CPelmoranDoc* down = w.Scan("DOWN", 4, 1, 2, 0, 5);
  w.modbus.memory[2] = 9;
  up->Poll();
  FakeModbus::Respond(tcp->m_hConnection);
  Attach(DeviceScope::Slave);
  ASSERT_EQ(publisher.metrics.size(), 5u);
  const FakePublisher::Metric& second = publisher.metrics.at(up->GetTag(1)->m_hTag);
  EXPECT_EQ(second.device, "UP-NODE1");
  EXPECT_EQ(second.value, 9.0);
  EXPECT_EQ(second.status, OPC_STATUS_GOOD);
  EXPECT_EQ(publisher.metrics.at(down->GetTag(0)->m_hTag).device, "DOWN-NODE5");
  EXPECT_EQ(publisher.online,
            (std::map<std::string, bool>{{"UP-NODE1", true}, {"DOWN-NODE5", false}}));
}

TEST_F(BridgeFixture, DevicesGoDownAndComeBackWithTheirEndpointsLink) {
  Attach(DeviceScope::Slave);
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("TCP");
  w.Scan("TCP", 3, 1, 2, 0, 1);
  w.Scan("TCP", 3, 1, 2, 0, 2);
  CModbusConnection* serial = w.SerialEndpoint("COM", 1);
  w.Scan("COM", 3, 1, 2, 0, 3);
  publisher.deviceChanges.clear();
  struct Step {
    std::function<void()> act;
    std::vector<std::string> changes;
  };
  const Step steps[] = {
      {[&] { w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, tcp->m_hConnection); },
       {"TCP-NODE1 down", "TCP-NODE2 down"}},
      {[&] { w.frame.ReconnectTcpEndpoints(); }, {}},
      {[&] { w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, tcp->m_hTcpConnection); },
       {"TCP-NODE1 up", "TCP-NODE2 up"}},
      {[&] { w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, serial->m_hConnection); },
       {"COM-NODE3 down"}},
      {[&] { w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, serial->m_hConnection); },
       {"COM-NODE3 up"}},
      {[&] { w.frame.RemoveEndpoint(0); }, {"TCP-NODE1 down", "TCP-NODE2 down"}},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    steps[i].act();
    EXPECT_EQ(publisher.deviceChanges, steps[i].changes) << "step " << i;
    publisher.deviceChanges.clear();
  }
}

TEST_F(BridgeFixture, ACommandEndsWithTheStatusAnOpcUaClientWouldGet) {
  Attach(DeviceScope::Endpoint);
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("MODBUS1");
  CPelmoranDoc* registers = w.Scan("MODBUS1", 3, 1, 2);
  CPelmoranDoc* inputs = w.Scan("MODBUS1", 4, 1, 2);
  w.ConnectedTcpEndpoint("LOST");
  CPelmoranDoc* lost = w.Scan("LOST", 3, 1, 2);
  w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, w.frame.FindEndpoint("LOST")->m_hConnection);
  struct Case {
    const char* what;
    int32_t handle;
    int responseStatus;  // -1: no response is awaited
    uint32_t expected;
    double value = 5;
  };
  const Case cases[] = {
      {"the device takes it", registers->GetTag(0)->m_hTag, MBS_OK, OPC_STATUS_GOOD},
      {"the device refuses it", registers->GetTag(1)->m_hTag, 2, OPC_STATUS_BAD_DEVICE_FAILURE},
      {"the device is silent", registers->GetTag(1)->m_hTag, MBS_POLL_TIMEOUT,
       OPC_STATUS_BAD_TIMEOUT},
      {"an input register", inputs->GetTag(0)->m_hTag, -1, OPC_STATUS_BAD_NOT_WRITABLE},
      {"its endpoint is down", lost->GetTag(0)->m_hTag, -1, OPC_STATUS_BAD_NOT_CONNECTED},
      {"no scan owns the tag", 9999, -1, OPC_STATUS_BAD_NODE_ID_UNKNOWN},
      {"beyond an UNSIGNED register", registers->GetTag(1)->m_hTag, -1, OPC_STATUS_BAD_OUT_OF_RANGE,
       70000},
  };
  uint64_t id = kCommand | 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    publisher.completions.clear();
    VARIANT value = Number(c.value);
    bridge->OnCommand(c.handle, value, ++id);
    if (c.responseStatus >= 0) {
      EXPECT_TRUE(publisher.completions.empty()) << "not before the device answered";
      w.modbus.responseStatus = c.responseStatus;
      FakeModbus::Respond(tcp->m_hConnection);
    }
    EXPECT_EQ(publisher.completions,
              (std::vector<std::pair<uint64_t, uint32_t>>{{id, c.expected}}));
  }
  EXPECT_EQ(w.modbus.memory[1], 5) << "the write reached the device, the refused one did not";
  EXPECT_TRUE(w.tagServer.completions.empty()) << "a command is never completed at the server";
}

TEST_F(BridgeFixture, ACommandOutWhenItsScanIsClosedStillComesBack) {
  Attach(DeviceScope::Endpoint);
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("MODBUS1");
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  bridge->OnCommand(doc->GetTag(0)->m_hTag, Number(6), kCommand | 7);
  w.app.m_docTemplate.CloseDocument(doc);
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(publisher.completions,
            (std::vector<std::pair<uint64_t, uint32_t>>{{kCommand | 7, OPC_STATUS_GOOD}}));
  EXPECT_TRUE(publisher.metrics.empty());
}

}  // namespace

namespace {

// A map's tags go to the device the operator named, under their full names,
// whether the bridge comes before the map or after it.
TEST_F(BridgeFixture, AMapsTagsReachTheirNamedDeviceUnderTheirNames) {
  w.ConnectedTcpEndpoint("PLC1");
  MapTag row;
  row.name = "Phase A voltage";
  row.type = DataType::FloatHighWordFirst;
  row.access = MapAccess::ReadWrite;
  const DeviceMap map{.endpoint = "PLC1", .slave = 4, .deviceName = "Meter", .limits = {}, .tags = {row}};
  for (bool before : {true, false}) {
    SCOPED_TRACE(before ? "bridge first" : "map first");
    bridge.reset();
    publisher = FakePublisher{};
    w.app.m_deviceMaps.Remove("PLC1", 4);
    if (before) Attach(DeviceScope::Slave);
    w.app.m_deviceMaps.Put(map);
    if (!before) Attach(DeviceScope::Slave);
    const FakePublisher::Metric* metric = publisher.Named("PLC1.Meter.Phase A voltage");
    ASSERT_NE(metric, nullptr);
    EXPECT_EQ(metric->device, "PLC1-Meter");
    EXPECT_EQ(metric->type, VT_R4);
    EXPECT_TRUE(metric->writable);
    EXPECT_EQ(metric->status, OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA);
  }
  w.app.m_deviceMaps.Remove("PLC1", 4);
  EXPECT_TRUE(publisher.metrics.empty());
}

}  // namespace
