#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pointdb/ReadPlanner.h"
#include "runtime/DeviceMaps.h"

namespace {

MapTag Tag(PointType table, uint16_t offset, DataType type = DataType::Unsigned, int32_t pollMs = 0,
           int32_t stringRegisters = 1) {
  MapTag tag;
  tag.name = std::to_string(static_cast<int>(table)) + "_" + std::to_string(offset);
  tag.table = table;
  tag.offset = offset;
  tag.type = type;
  tag.pollClassMs = pollMs;
  tag.format.stringRegisters = stringRegisters;
  return tag;
}

// A read as "<poll>:<table>:<start>+<count>[tag indices]".
std::vector<std::string> Describe(const DevicePlan& plan) {
  std::vector<std::string> out;
  for (const PlannedRead& read : plan.reads) {
    std::string text = std::to_string(read.pollClassMs) + ":" +
                       std::to_string(static_cast<int>(read.table)) + ":" +
                       std::to_string(read.start) + "+" + std::to_string(read.count) + "[";
    for (size_t i = 0; i < read.tags.size(); ++i)
      text += (i ? "," : "") + std::to_string(read.tags[i]);
    out.push_back(text + "]");
  }
  return out;
}

constexpr auto HR = PointType::HoldingRegister;
constexpr auto IR = PointType::InputRegister;
constexpr auto CO = PointType::Coil;
constexpr auto DI = PointType::InputStatus;
using D = DataType;

struct PlanCase {
  const char* what;
  DeviceLimits limits;
  std::vector<MapTag> tags;
  std::vector<std::string> reads;
};

DeviceLimits Limits(int32_t maxRegisters, int32_t maxGap, int32_t maxBits = 2000) {
  DeviceLimits limits;
  limits.maxRegisters = maxRegisters;
  limits.maxGap = maxGap;
  limits.maxBits = maxBits;
  return limits;
}

TEST(ReadPlanner, MergesWithinLimitsAndNeverCutsATag) {
  const std::vector<PlanCase> cases = {
      {"empty map", Limits(125, 10), {}, {}},
      {"gap within maxGap is read across",
       Limits(125, 3),
       {Tag(HR, 0), Tag(HR, 4), Tag(HR, 9)},
       {"1000:3:0+5[0,1]", "1000:3:9+1[2]"}},
      {"zero gap joins only neighbours",
       Limits(125, 0),
       {Tag(HR, 1), Tag(HR, 0), Tag(HR, 3)},
       {"1000:3:0+2[1,0]", "1000:3:3+1[2]"}},
      {"maxRegisters splits a long run",
       Limits(4, 10),
       {Tag(IR, 0), Tag(IR, 1), Tag(IR, 2), Tag(IR, 3), Tag(IR, 4)},
       {"1000:4:0+4[0,1,2,3]", "1000:4:4+1[4]"}},
      {"a float is not cut at the limit",
       Limits(4, 10),
       {Tag(HR, 0), Tag(HR, 2), Tag(HR, 3, D::Float32BADC)},
       {"1000:3:0+3[0,1]", "1000:3:3+2[2]"}},
      {"a 64-bit value and a string stay whole",
       Limits(6, 10),
       {Tag(HR, 10, D::Float64ABCD), Tag(HR, 14, D::StringAB, 0, 3)},
       {"1000:3:10+4[0]", "1000:3:14+3[1]"}},
      {"a string wider than the limit is read alone",
       Limits(4, 10),
       {Tag(HR, 0), Tag(HR, 1, D::StringBA, 0, 10), Tag(HR, 11)},
       {"1000:3:0+1[0]", "1000:3:1+10[1]", "1000:3:11+1[2]"}},
      {"bit tags of one register share it",
       Limits(125, 0),
       {Tag(HR, 7, D::Bit), Tag(HR, 7, D::Bit), Tag(HR, 8)},
       {"1000:3:7+2[0,1,2]"}},
      {"coils and inputs count bits against maxBits",
       Limits(2, 5, 16),
       {Tag(CO, 0, D::Bit), Tag(CO, 15, D::Bit), Tag(CO, 16, D::Bit), Tag(DI, 3, D::Bit)},
       {"1000:1:0+1[0]", "1000:1:15+2[1,2]", "1000:2:3+1[3]"}},
      {"tables are never merged",
       Limits(125, 100),
       {Tag(HR, 0), Tag(IR, 1), Tag(HR, 2)},
       {"1000:3:0+3[0,2]", "1000:4:1+1[1]"}},
      {"poll classes read apart, default resolved",
       Limits(125, 10),
       {Tag(HR, 0, D::Unsigned, 100), Tag(HR, 1), Tag(HR, 2, D::Unsigned, 100),
        Tag(HR, 3, D::Unsigned, 1000)},
       {"100:3:0+3[0,2]", "1000:3:1+3[1,3]"}},
      {"limits past the protocol are held to it",
       Limits(500, 1000),
       {Tag(HR, 0), Tag(HR, 200)},
       {"1000:3:0+1[0]", "1000:3:200+1[1]"}},
      {"the last register of the table",
       Limits(125, 10),
       {Tag(HR, 65533), Tag(HR, 65534, D::UInt32ABCD)},
       {"1000:3:65533+3[0,1]"}},
  };
  for (const PlanCase& c : cases) {
    DeviceMap map;
    map.limits = c.limits;
    map.tags = c.tags;
    EXPECT_EQ(Describe(PlanReads(map)), c.reads) << c.what;
  }
}

TEST(DeviceMaps, PutReplacesByDeviceAndTellsTheListener) {
  DeviceMaps maps;
  std::vector<std::string> heard;
  maps.SetListener(
      [&](const std::string& e, int32_t s) { heard.push_back(e + "/" + std::to_string(s)); });
  DeviceMap a;
  a.endpoint = "PLC1";
  a.slave = 2;
  maps.Put(a);
  a.deviceName = "Meter";
  maps.Put(a);
  a.slave = 3;
  maps.Put(a);
  ASSERT_EQ(maps.All().size(), 2u);
  EXPECT_EQ(maps.Find("PLC1", 2)->DisplayName(), "Meter");
  EXPECT_EQ(maps.Find("PLC2", 2), nullptr);
  EXPECT_TRUE(maps.Remove("PLC1", 2));
  EXPECT_FALSE(maps.Remove("PLC1", 2));
  EXPECT_EQ(heard, (std::vector<std::string>{"PLC1/2", "PLC1/2", "PLC1/3", "PLC1/2"}));
}

}  // namespace
