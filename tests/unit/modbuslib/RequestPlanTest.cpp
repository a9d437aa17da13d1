// How requests are checked and cut into exchanges, and where COM ports lead.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "modbuslib/ComPortMap.h"
#include "modbuslib/RequestPlan.h"
#include "modbuslib/SerialConnection.h"

using mbl::Dialect;
using mbl::RequestPlan;

namespace {
int build(RequestHeader h, Dialect d = Dialect::Standard, bool serial = true) {
  RequestPlan plan;
  return RequestPlan::build(h, d, serial, plan);
}
RequestPlan plan(RequestHeader h, Dialect d = Dialect::Standard) {
  RequestPlan p;
  EXPECT_EQ(RequestPlan::build(h, d, true, p), 0);
  return p;
}
}  // namespace

TEST(RequestPlan, LongReadsAreCutIntoConsecutiveExchanges) {
  const RequestPlan p = plan({1, 3, 1, 1000});
  ASSERT_EQ(p.exchanges().size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(p.exchanges()[i].wireAddress, 125 * i);
    EXPECT_EQ(p.exchanges()[i].count, 125);
    EXPECT_EQ(p.exchanges()[i].firstWord, 125 * i);
  }
  const RequestPlan odd = plan({1, 4, 101, 251});
  ASSERT_EQ(odd.exchanges().size(), 3u);
  EXPECT_EQ(odd.exchanges()[2].wireAddress, 350);
  EXPECT_EQ(odd.exchanges()[2].count, 1);
  EXPECT_EQ(plan({1, 1, 1, 2000}).exchanges().size(), 1u);
  EXPECT_EQ(plan({1, 2, 1, 125}).exchanges().size(), 1u);
  EXPECT_EQ(plan({1, 16, 1, 123}).exchanges().size(), 1u);
}

TEST(RequestPlan, DanielsWideRegistersAreCountedInPairs) {
  const RequestPlan p = plan({1, 3, 7001, 300}, Dialect::Daniels);
  ASSERT_EQ(p.exchanges().size(), 3u);
  EXPECT_EQ(p.exchanges()[0].count, 62);
  EXPECT_EQ(p.exchanges()[0].words, 124);
  EXPECT_EQ(p.exchanges()[1].wireAddress, 7063);
  EXPECT_EQ(p.exchanges()[1].firstWord, 124);
  EXPECT_EQ(p.exchanges()[2].count, 26);
  EXPECT_TRUE(p.exchanges()[2].wide);
  // Outside the 32-bit ranges and for coils, Daniels addresses are plain and unshifted.
  EXPECT_FALSE(plan({1, 3, 6001, 3}, Dialect::Daniels).exchanges()[0].wide);
  EXPECT_EQ(plan({1, 3, 6001, 3}, Dialect::Daniels).exchanges()[0].wireAddress, 6001);
  EXPECT_FALSE(plan({1, 1, 5001, 3}, Dialect::Daniels).exchanges()[0].wide);
  EXPECT_EQ(plan({1, 3, 0, 1}, Dialect::Daniels).exchanges()[0].wireAddress, 0);
  EXPECT_EQ(build({1, 3, 5001, 3}, Dialect::Daniels), MBS_INVALID_LENGTH);
  EXPECT_EQ(build({1, 6, 7001, 1}, Dialect::Daniels), MBS_INVALID_LENGTH);
  EXPECT_EQ(build({1, 3, 5999, 4}, Dialect::Daniels), MBS_INVALID_ADDRESS);
  EXPECT_EQ(build({1, 3, 5999, 2}, Dialect::Daniels), 0);
}

TEST(RequestPlan, RefusalsCarryTheirStatus) {
  EXPECT_EQ(build({1, 0, 1, 1}), MBS_INVALID_COMMAND);
  EXPECT_EQ(build({1, 7, 1, 1}), MBS_INVALID_COMMAND);
  EXPECT_EQ(build({1, 17, 1, 1}), MBS_INVALID_COMMAND);
  EXPECT_EQ(build({1, 3, 1, 0}), MBS_INVALID_LENGTH);
  EXPECT_EQ(build({1, 3, 1, 2001}), MBS_INVALID_LENGTH);
  EXPECT_EQ(build({1, 5, 1, 2}), MBS_INVALID_LENGTH);
  EXPECT_EQ(build({1, 15, 1, 1969}), MBS_INVALID_LENGTH);
  EXPECT_EQ(build({1, 16, 1, 124}), MBS_INVALID_LENGTH);
  EXPECT_EQ(build({1, 3, 0, 1}), MBS_INVALID_ADDRESS);
  EXPECT_EQ(build({1, 3, 65535, 2}), 0);
  EXPECT_EQ(build({1, 3, 65535, 3}), MBS_INVALID_ADDRESS);
  EXPECT_EQ(build({1, 3, 65535, 1}), 0);
  EXPECT_EQ(build({1, 3, 65535, 2}, Dialect::Daniels), MBS_INVALID_ADDRESS);
  EXPECT_EQ(build({0, 3, 1, 1}), MBS_INVALID_NODE);
  EXPECT_EQ(build({248, 1, 1, 1}), MBS_INVALID_NODE);
  EXPECT_EQ(build({248, 6, 1, 1}), MBS_INVALID_NODE);
  // Modbus/TCP unit ids are not serial node numbers.
  EXPECT_EQ(build({0, 3, 1, 1}, Dialect::Standard, false), 0);
  EXPECT_EQ(build({255, 3, 1, 1}, Dialect::Standard, false), 0);
  RequestPlan p;
  ASSERT_EQ(RequestPlan::build({0, 16, 1, 2}, Dialect::Standard, true, p), 0);
  EXPECT_TRUE(p.broadcast());
  ASSERT_EQ(RequestPlan::build({0, 16, 1, 2}, Dialect::Standard, false, p), 0);
  EXPECT_FALSE(p.broadcast());
}

TEST(SerialTiming, SilentIntervalFollowsTheCharacterTime) {
  SerialSettings s{};
  s.baudRate = 9600;
  s.wordLength = 8;
  // 10 bits at 9600 baud: 1042 us a character, 3.5 of them.
  EXPECT_NEAR(mbl::SerialConnection::silentInterval(s).count(), 3646, 5);
  s.parity = 2;
  s.stopBits = 2;
  EXPECT_NEAR(mbl::SerialConnection::silentInterval(s).count(), 4375, 5);
  s.baudRate = 19200;
  EXPECT_NEAR(mbl::SerialConnection::silentInterval(s).count(), 2188, 5);
  s.baudRate = 38400;
  EXPECT_EQ(mbl::SerialConnection::silentInterval(s).count(), 1750);
  s.baudRate = 256000;
  EXPECT_EQ(mbl::SerialConnection::silentInterval(s).count(), 1750);
}

class ComPortMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("comports-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_ / "pelmoran");
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("PELMORAN_COM7");
    unsetenv("PELMORAN_CONFIG_DIR");
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
};

TEST_F(ComPortMapTest, VariableThenFileThenTheSerialDeviceOfTheNumber) {
  EXPECT_EQ(mbl::ComPortMap::mappingFilePath(), (dir_ / "pelmoran" / "comports").string());
  EXPECT_EQ(mbl::ComPortMap::devicePath(1), "/dev/ttyS0");
  EXPECT_EQ(mbl::ComPortMap::devicePath(7), "/dev/ttyS6");
  EXPECT_EQ(mbl::ComPortMap::devicePath(0), "");
  EXPECT_EQ(mbl::ComPortMap::devicePath(-3), "");
  std::ofstream(dir_ / "pelmoran" / "comports")
      << "# serial adapters\n\ncom7 = /dev/ttyUSB0 \nCOM70=/dev/ttyACM0\nbroken line\n";
  EXPECT_EQ(mbl::ComPortMap::devicePath(7), "/dev/ttyUSB0");
  EXPECT_EQ(mbl::ComPortMap::devicePath(70), "/dev/ttyACM0");
  EXPECT_EQ(mbl::ComPortMap::devicePath(8), "/dev/ttyS7");
  setenv("PELMORAN_COM7", "/dev/pts/9", 1);
  EXPECT_EQ(mbl::ComPortMap::devicePath(7), "/dev/pts/9");
}

TEST_F(ComPortMapTest, TheProgramsConfigurationDirectoryComesFirst) {
  std::filesystem::create_directories(dir_ / "own");
  std::ofstream(dir_ / "own" / "comports") << "COM7=/dev/ttyUSB3\n";
  std::ofstream(dir_ / "pelmoran" / "comports") << "COM7=/dev/ttyUSB0\n";
  setenv("PELMORAN_CONFIG_DIR", (dir_ / "own").c_str(), 1);
  EXPECT_EQ(mbl::ComPortMap::mappingFilePath(), (dir_ / "own" / "comports").string());
  EXPECT_EQ(mbl::ComPortMap::devicePath(7), "/dev/ttyUSB3");
}

TEST(ComPortMap, HomeConfigurationWhenNoXdgDirectory) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = xdg != nullptr ? xdg : "";
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(mbl::ComPortMap::mappingFilePath(),
            std::string(std::getenv("HOME")) + "/.config/pelmoran/comports");
  if (xdg != nullptr) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  std::istringstream lines("COM3=/a\nCOM33=/b\n");
  EXPECT_EQ(mbl::ComPortMap::lookup(lines, 33), "/b");
}
