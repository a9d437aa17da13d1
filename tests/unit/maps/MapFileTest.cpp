#include <string>
#include <vector>

#include "MapScratch.h"
#include "runtime/CsvConfig.h"
#include "runtime/MapCsv.h"
#include "runtime/MapFile.h"

namespace {

class MapFileTest : public MapScratch {
 protected:
  DeviceMap Meter() {
    DeviceMap map;
    map.endpoint = "PLC1";
    map.slave = 3;
    map.deviceName = "Meter";
    map.base = MapBase::ZeroBased;
    map.limits.maxGap = 3;
    std::string error;
    EXPECT_TRUE(MapCsv::Read(kMeterCsv, "meter.csv", map, error)) << error;
    return map;
  }
  std::vector<std::string> Restore(Runtime& runtime) {
    ConfigFile file(runtime, false);
    file.RestoreConfig(Config());
    return file.Messages();
  }
};

TEST_F(MapFileTest, SavedWithTheConfigurationWithoutTouchingItsBytesAndRestored) {
  const std::string classic = Read(Config());
  ASSERT_FALSE(std::filesystem::exists(MapFile::DevicesPathOf(Config())));
  m_runtime.m_deviceMaps.Put(Meter());
  ASSERT_TRUE(ConfigFile(m_runtime, false).SaveTestConfig(Config()));
  EXPECT_EQ(Read(Config()), classic);
  EXPECT_EQ(MapFile::DevicesPathOf(Config()), Path("pelmoran.devices.csv"));

  Runtime restarted;
  EXPECT_TRUE(Restore(restarted).empty());
  EXPECT_EQ(restarted.m_deviceMaps.All(), m_runtime.m_deviceMaps.All());

  // A map removed stays removed at the next start.
  m_runtime.m_deviceMaps.Remove("PLC1", 3);
  ASSERT_TRUE(ConfigFile(m_runtime, false).SaveTestConfig(Config()));
  EXPECT_TRUE(Restore(restarted).empty());
  EXPECT_TRUE(restarted.m_deviceMaps.All().empty());
}

TEST_F(MapFileTest, ADamagedMapFileRefusesTheRestoreAndWhatRunsStays) {
  m_runtime.m_deviceMaps.Put(Meter());
  ASSERT_TRUE(ConfigFile(m_runtime, false).SaveTestConfig(Config()));
  const std::string maps = MapFile::MapsPathOf(Config());
  Write(maps, Read(maps) + "PLC1,3,Twice,HR1,,,,,,,,,,read,\r\n");
  EXPECT_EQ(Restore(m_runtime),
            std::vector<std::string>{
                "The configuration file " + Config() +
                " was not restored: pelmoran.maps.csv row 6: its registers overlap those of "
                "\"Phase A voltage\" on row 2. The running configuration stays."});
  EXPECT_EQ(m_runtime.m_deviceMaps.All(), std::vector<DeviceMap>{Meter()});
}

TEST_F(MapFileTest, TheCsvConfigurationCarriesTheMaps) {
  m_runtime.m_deviceMaps.Put(Meter());
  std::string error;
  ASSERT_TRUE(CsvConfig(m_runtime).Export(m_dir, error)) << error;
  Runtime imported;
  ASSERT_TRUE(CsvConfig(imported, false).Import(m_dir, Config(), error)) << error;
  EXPECT_EQ(imported.m_deviceMaps.All(), m_runtime.m_deviceMaps.All());

  const std::string devices = Path(MapFile::kDevicesFile);
  Write(devices, Read(devices) + "PLC2,1,,1,125,2000,10,0,0,1000\r\n");
  EXPECT_FALSE(CsvConfig(imported, false).Import(m_dir, Config(), error));
  EXPECT_EQ(error, "devices.csv row 3: the endpoint \"PLC2\" is not in the configuration");
}

}  // namespace
