// A scratch directory with a configuration of one endpoint, PLC1, saved as
// start-up restores it, for the tests of the map files and commands.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "runtime/ConfigFile.h"
#include "runtime/Runtime.h"

class MapScratch : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelmoran-maps-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_dir = pattern;
    auto endpoint = std::make_unique<CModbusConnection>();
    endpoint->m_strName = "PLC1";
    m_runtime.m_endpoints.Adopt(std::move(endpoint));
    ASSERT_TRUE(ConfigFile(m_runtime, false).SaveTestConfig(Config()));
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::string Path(const std::string& name) const { return m_dir + "/" + name; }
  std::string Config() const { return Path("pelmoran.tst"); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  std::string m_dir;
  Runtime m_runtime;
};

// A meter's sheet as a spreadsheet writes it.
inline const char* const kMeterCsv =
    "\xEF\xBB\xBFname,address,type,bit,string_length,units,description,poll_ms\r\n"
    "Phase A voltage,HR0,Float 32 (BADC),,,V,\"Voltage, \"\"L1\"\"\",100\r\n"
    "Alarm,HR2,Bit of register,4,,,,\r\n"
    "Model,0x10,ASCII String (AB),,8,,,10s\r\n"
    "Run,CO0,,,,,,\r\n";
