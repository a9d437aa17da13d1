// A device polled by its register map: planned reads through the endpoint's
// queue, each tag decoded by its own type under the name the map gives it,
// writes to its own registers, and a changed map applied to that device alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pointdb/ClientWrites.h"
#include "support/CoreWorld.h"
#include "support/Variants.h"

namespace {

constexpr int32_t kSlave = 3;

MapTag Row(const char* name, PointType table, uint16_t offset, DataType type, TagFormat format = {},
           MapAccess access = MapAccess::Read) {
  MapTag row;
  row.name = name;
  row.table = table;
  row.offset = offset;
  row.type = type;
  row.format = format;
  row.access = access;
  return row;
}

struct MapDeviceFixture : ::testing::Test {
  CoreWorld w;
  CModbusConnection* tcp = nullptr;
  int64_t now = 1000;
  OPCWriteToken nextToken = 1;

  void SetUp() override {
    tcp = w.ConnectedTcpEndpoint("PLC1");
    w.app.m_devicePoller.SetClock([this] { return now; });
  }
  void Put(std::vector<MapTag> tags, DeviceLimits limits = {}, const char* name = "Meter",
           int32_t slave = kSlave) {
    w.app.m_deviceMaps.Put(DeviceMap{
        .endpoint = "PLC1", .slave = slave, .deviceName = name, .limits = limits, .tags = tags});
  }
  // One pass of every poll class, each read answered by the simulated slave.
  void PollOnce() {
    w.app.m_devicePoller.Run(now);
    while (tcp->m_bBusy) {
      FakeModbus::Respond(tcp->m_hConnection);
      w.app.m_devicePoller.Run(now);
    }
  }
  const FakeTagServer::Tag& TagOf(const std::string& name) const {
    const FakeTagServer::Tag* tag = w.tagServer.TagNamed(name);
    EXPECT_NE(tag, nullptr) << name;
    static const FakeTagServer::Tag none;
    return tag ? *tag : none;
  }
  int32_t HandleOf(const std::string& name) const {
    for (const auto& [handle, tag] : w.tagServer.tags)
      if (tag.name == name && !tag.removed) return handle;
    return -1;
  }
  std::vector<uint32_t> Write(const std::string& name, VARIANT value) {
    const OPCWriteToken token = nextToken++;
    w.app.OfferClientWrite(HandleOf(name), &value, token);
    VariantClear(&value);
    if (tcp->m_bBusy) FakeModbus::Respond(tcp->m_hConnection);
    std::vector<uint32_t> statuses;
    for (const auto& [t, status] : w.tagServer.completions)
      if (t == token) statuses.push_back(status);
    return statuses;
  }
};

// The slave's registers laid out by hand for each row; memory is indexed by
// the one-based reference, all tables alike, so the tables keep apart.
TEST_F(MapDeviceFixture, EachTagIsReadFromItsOwnRegistersUnderItsOwnName) {
  const TagFormat linear{.scaled = true, .rawLow = 0, .rawHigh = 1000, .engLow = 0, .engHigh = 100};
  struct Case {
    MapTag row;
    std::vector<uint16_t> words;
    VARTYPE published;
    std::string text;
  };
  const Case cases[] = {
      {Row("Voltage", PointType::HoldingRegister, 0, DataType::FloatHighWordFirst),
       {0x4366, 0x8000}, VT_R4, "230.5"},
      {Row("Count", PointType::HoldingRegister, 5, DataType::UInt32CDAB), {0x1170, 0x0001},
       VT_UI4, "70000"},
      {Row("Temp", PointType::HoldingRegister, 8, DataType::Integer), {0xFFF4}, VT_R4, "-12"},
      {Row("Tag", PointType::HoldingRegister, 10, DataType::StringAB, {.stringRegisters = 2}),
       {0x4142, 0x4300}, VT_BSTR, "ABC"},
      {Row("Alarm", PointType::HoldingRegister, 12, DataType::Bit, {.bit = 3}), {0x0008}, VT_BOOL,
       "-1"},
      {Row("Level", PointType::HoldingRegister, 13, DataType::Unsigned, linear), {250}, VT_R8, "25"},
      {Row("Energy", PointType::InputRegister, 100, DataType::Int64ABCD),
       {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFE}, VT_I8, "-2"},
      {Row("Freq", PointType::InputRegister, 110, DataType::Unsigned), {50}, VT_R4, "50"},
      {Row("Run", PointType::Coil, 200, DataType::Unsigned), {1}, VT_BOOL, "-1"},
      {Row("Trip", PointType::Coil, 203, DataType::Unsigned), {0}, VT_BOOL, "0"},
  };
  std::vector<MapTag> rows;
  for (const Case& c : cases) {
    rows.push_back(c.row);
    for (size_t k = 0; k < c.words.size(); ++k) w.modbus.memory[c.row.offset + 1 + k] = c.words[k];
  }
  Put(rows);
  PollOnce();
  // One read a table: the gaps are within the device's default.
  EXPECT_EQ(w.modbus.Started().size(), 3u);
  for (const Case& c : cases) {
    const std::string name = "PLC1.Meter." + c.row.name;
    const FakeTagServer::Tag& tag = TagOf(name);
    EXPECT_EQ(tag.value.vt, c.published) << name;
    EXPECT_EQ(tag.value.text, c.text) << name;
    EXPECT_EQ(tag.status, OPC_STATUS_GOOD) << name;
    EXPECT_EQ(w.tagServer.folders[tag.folder].id, "PLC1.Meter") << name;
  }
}

TEST_F(MapDeviceFixture, AFailedReadMarksItsTagsBadAndThePauseHoldsTheNextRead) {
  Put({Row("A", PointType::HoldingRegister, 0, DataType::Unsigned),
       Row("B", PointType::InputRegister, 0, DataType::Unsigned)},
      DeviceLimits{.pauseMs = 50});
  w.modbus.responseStatus = 2;  // illegal data address
  w.app.m_devicePoller.Run(now);
  ASSERT_EQ(w.modbus.Started().size(), 1u);
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(TagOf("PLC1.Meter.A").status, clientwrites::StatusOf(2));
  EXPECT_EQ(TagOf("PLC1.Meter.B").status, OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA);
  // The device rests for its pause before its next request.
  EXPECT_EQ(w.app.m_devicePoller.Run(now + 10), now + 50);
  EXPECT_EQ(w.modbus.Started().size(), 1u);
  w.app.m_devicePoller.Run(now + 50);
  EXPECT_EQ(w.modbus.Started().size(), 2u);
}

TEST_F(MapDeviceFixture, AWriteGoesToTheTagsRegistersWithTheDevicesFunctions) {
  struct Case {
    const char* what;
    MapTag row;
    bool alwaysMultiple;
    VARIANT value;
    std::vector<uint32_t> statuses;
    int function;  // 0: nothing sent
    std::vector<uint16_t> words;
  };
  const auto rw = MapAccess::ReadWrite;
  Case cases[] = {
      {"one register", Row("U", PointType::HoldingRegister, 20, DataType::Unsigned, {}, rw), false,
       Number(7), {OPC_STATUS_GOOD}, 6, {7}},
      {"one register, always 16",
       Row("U", PointType::HoldingRegister, 20, DataType::Unsigned, {}, rw), true, Number(7),
       {OPC_STATUS_GOOD}, 16, {7}},
      {"a float", Row("F", PointType::HoldingRegister, 30, DataType::FloatHighWordFirst, {}, rw),
       false, Number(230.5), {OPC_STATUS_GOOD}, 16, {0x4366, 0x8000}},
      {"a coil", Row("C", PointType::Coil, 40, DataType::Unsigned, {}, rw), false, Number(1),
       {OPC_STATUS_GOOD}, 5, {1}},
      {"a coil, always 15", Row("C", PointType::Coil, 40, DataType::Unsigned, {}, rw), true,
       Number(1), {OPC_STATUS_GOOD}, 15, {1}},
      {"beyond the type", Row("I", PointType::HoldingRegister, 50, DataType::Integer, {}, rw),
       false, Number(40000), {OPC_STATUS_BAD_OUT_OF_RANGE}, 0, {}},
      {"a read-only row", Row("R", PointType::HoldingRegister, 60, DataType::Unsigned), false,
       Number(1), {OPC_STATUS_BAD_NOT_WRITABLE}, 0, {}},
      {"an input register", Row("N", PointType::InputRegister, 70, DataType::Unsigned, {}, rw),
       false, Number(1), {OPC_STATUS_BAD_NOT_WRITABLE}, 0, {}},
  };
  for (Case& c : cases) {
    Put({c.row}, DeviceLimits{.alwaysMultipleWrites = c.alwaysMultiple});
    w.modbus.Clear();
    EXPECT_EQ(Write(std::string("PLC1.Meter.") + c.row.name, c.value), c.statuses) << c.what;
    const FakeModbus::Call* sent = w.modbus.Last("WriteMODBUS");
    ASSERT_EQ(sent != nullptr, c.function != 0) << c.what;
    if (sent == nullptr) continue;
    EXPECT_EQ(sent->header.function, c.function) << c.what;
    EXPECT_EQ(sent->header.address, c.row.offset + 1) << c.what;
    EXPECT_EQ(sent->header.slaveNode, kSlave) << c.what;
    EXPECT_EQ(sent->data, c.words) << c.what;
  }
}

TEST_F(MapDeviceFixture, AChangedMapRebuildsThatDeviceAloneKeepingUnchangedTags) {
  CPelmoranDoc* scan = w.Scan("PLC1", 3, 1, 2);
  Put({Row("Kept", PointType::HoldingRegister, 0, DataType::Unsigned),
       Row("Moved", PointType::HoldingRegister, 1, DataType::Unsigned),
       Row("Gone", PointType::HoldingRegister, 2, DataType::Unsigned)});
  Put({Row("Other", PointType::HoldingRegister, 0, DataType::Unsigned)}, {}, "Pump", 4);
  const int32_t kept = HandleOf("PLC1.Meter.Kept"), moved = HandleOf("PLC1.Meter.Moved");
  const int32_t other = HandleOf("PLC1.Pump.Other"), scanTag = scan->GetTag(0)->m_hTag;
  Put({Row("Kept", PointType::HoldingRegister, 0, DataType::Unsigned),
       Row("Moved", PointType::HoldingRegister, 9, DataType::Unsigned),
       Row("New", PointType::HoldingRegister, 3, DataType::Unsigned)});
  EXPECT_EQ(HandleOf("PLC1.Meter.Kept"), kept);
  EXPECT_NE(HandleOf("PLC1.Meter.Moved"), moved);
  EXPECT_EQ(HandleOf("PLC1.Meter.Gone"), -1);
  EXPECT_NE(HandleOf("PLC1.Meter.New"), -1);
  EXPECT_EQ(HandleOf("PLC1.Pump.Other"), other);
  EXPECT_FALSE(w.tagServer.tags[scanTag].removed);
  // A device renamed moves to its new folder; its endpoint's folder stays
  // while another device is in it, and goes with the last.
  Put({Row("Kept", PointType::HoldingRegister, 0, DataType::Unsigned)}, {}, "Meter2");
  EXPECT_EQ(w.tagServer.FolderNamed("PLC1.Meter"), nullptr);
  EXPECT_NE(HandleOf("PLC1.Meter2.Kept"), -1);
  w.app.m_deviceMaps.Remove("PLC1", kSlave);
  w.app.m_deviceMaps.Remove("PLC1", 4);
  EXPECT_EQ(w.tagServer.FolderNamed("PLC1"), nullptr);
  EXPECT_EQ(HandleOf("PLC1.Pump.Other"), -1);
  EXPECT_FALSE(w.tagServer.tags[scanTag].removed);
}

}  // namespace
