#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "DemoConfig.h"
#include "FakeTagServer.h"
#include "SimTables.h"
#include "link/EndpointRegistry.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/ConfigFile.h"
#include "runtime/Runtime.h"

namespace {

class DemoConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir =
        std::filesystem::temp_directory_path() / ("pelmoran-demo-" + std::to_string(::getpid()));
    std::filesystem::create_directories(m_dir);
    ASSERT_TRUE(DemoConfig::Write(m_dir.string(), "SIM", "127.0.0.1", 15020));
    ConfigFile(m_app).RestoreConfig((m_dir / "pelmoran.tst").string());
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  // The words the simulator would answer to the scan, as a response brings them.
  void Answer(CPelmoranDoc& doc, const SimTables& sim) {
    const modbus_mapping_t* map = sim.Mapping();
    for (int i = 0; i < doc.m_scan.m_nScanLength; ++i) {
      const int wire = doc.m_scan.m_nPointAddress - 1 + i;
      switch (doc.m_scan.m_nPointType) {
        case 1: doc.m_scan.m_data[i] = map->tab_bits[wire]; break;
        case 2: doc.m_scan.m_data[i] = map->tab_input_bits[wire]; break;
        case 3: doc.m_scan.m_data[i] = map->tab_registers[wire]; break;
        default: doc.m_scan.m_data[i] = map->tab_input_registers[wire]; break;
      }
    }
    doc.m_scan.m_nStatus = 0;
  }

  CPelmoranDoc* Doc(int i) { return m_app.m_docTemplate.GetDocument(i); }

  std::filesystem::path m_dir;
  FakeTagServer m_tagServer;
  Runtime m_app;
  EndpointRegistry& m_frame = m_app.m_endpoints;
};

TEST_F(DemoConfigTest, RestoresOneTcpEndpointAndEveryScanWithItsDataTypes) {
  ASSERT_EQ(m_frame.m_endpoints.size(), 1u);
  const CModbusConnection& sim = *m_frame.m_endpoints[0];
  EXPECT_EQ(sim.m_strName, "SIM");
  EXPECT_EQ(sim.m_bTcp, 1);
  EXPECT_EQ(sim.m_nPort, 15020);
  EXPECT_EQ(sim.m_ipAddress, (std::array<uint8_t, 4>{127, 0, 0, 1}));

  const auto scans = DemoConfig::Scans();
  ASSERT_EQ(m_app.GetDocumentCount(), static_cast<int>(scans.size()));
  bool pointTypes[5] = {};
  bool dataTypes[8] = {};
  for (size_t s = 0; s < scans.size(); ++s) {
    CPelmoranDoc& doc = *Doc(static_cast<int>(s));
    EXPECT_EQ(doc.m_strEndpoint, "SIM");
    EXPECT_EQ(doc.m_scan.m_nPointType, scans[s].nPointType);
    EXPECT_EQ(doc.m_scan.m_nPointAddress, scans[s].nPointAddress);
    EXPECT_EQ(doc.m_scan.m_nPollFrequency, scans[s].nPollFrequency);
    pointTypes[doc.m_scan.m_nPointType] = true;
    for (int i = 0; i < doc.GetTagCount(); ++i) dataTypes[doc.GetTag(i)->m_nDataType] = true;
  }
  for (int t = 1; t <= 4; ++t) EXPECT_TRUE(pointTypes[t]) << "point type " << t;
  for (int t = 0; t < 8; ++t) EXPECT_TRUE(dataTypes[t]) << "data type " << t;
  EXPECT_EQ(Doc(1)->GetTagName(0), "SIM.NODE1.40011");
  EXPECT_EQ(Doc(1)->GetTagName(1), "SIM.NODE1.40013");
  EXPECT_EQ(Doc(4)->GetTagName(15), "SIM.NODE1.00016");
  EXPECT_EQ(Doc(3)->GetTagName(0), "SIM.NODE1.30001");
  // Every restored tag is published, writable only where the point type allows it.
  int published = 0;
  for (const auto& [handle, tag] : m_tagServer.tags) {
    if (tag.removed) continue;
    ++published;
    EXPECT_EQ(tag.quality, 192) << tag.name;
    EXPECT_EQ(tag.writable,
              tag.name.find(".4") != std::string::npos || tag.name.find(".0") != std::string::npos)
        << tag.name;
  }
  int expected = 0;
  for (int s = 0; s < m_app.GetDocumentCount(); ++s) expected += Doc(s)->GetTagCount();
  EXPECT_EQ(published, expected);
}

TEST_F(DemoConfigTest, ScansDecodeTheSimulatorsValuesInBothWordOrders) {
  SimTables sim;
  for (int i = 0; i < 13; ++i) sim.Tick();
  CPelmoranDoc& holding = *Doc(0);
  Answer(holding, sim);
  EXPECT_FLOAT_EQ(holding.DecodeTag(holding.GetTag(0), 0), 13.0f);  // the counter
  const float scaled = holding.DecodeTag(holding.GetTag(2), 2);     // 0-4095 as 0-100
  EXPECT_NEAR(scaled, 100.0 * (13 * 45) / 4095.0, 1e-3);

  CPelmoranDoc& floats = *Doc(1);
  Answer(floats, sim);
  const float sine = floats.DecodeTag(floats.GetTag(0), 0);
  EXPECT_NEAR(sine, 100.0 * std::sin(2.0 * 3.14159265358979 * 13 / 60.0), 1e-3);
  EXPECT_EQ(floats.DecodeTag(floats.GetTag(1), 1), sine);

  CPelmoranDoc& longs = *Doc(2);
  Answer(longs, sim);
  EXPECT_FLOAT_EQ(longs.DecodeTag(longs.GetTag(0), 0), 65530.0f + 13.0f);
  EXPECT_EQ(longs.DecodeTag(longs.GetTag(1), 1), longs.DecodeTag(longs.GetTag(0), 0));
}

TEST_F(DemoConfigTest, UnwritableDirectoryIsReportedNotHidden) {
  EXPECT_FALSE(DemoConfig::Write((m_dir / "no" / "such" / "dir").string(), "SIM", "127.0.0.1", 1));
}

}  // namespace
