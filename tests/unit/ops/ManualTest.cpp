#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "pointdb/ModbusMsg.h"

namespace {

std::string Manual() {
  std::ifstream in(PELMORAN_MANUAL);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The manual tells what to do about every status text the tag list can show,
// in the program's own words.
TEST(Manual, ExplainsEveryStatusText) {
  const std::string manual = Manual();
  ASSERT_FALSE(manual.empty()) << PELMORAN_MANUAL;
  CModbusMsg msg;
  for (int status = 256; status <= 272; ++status) {
    msg.m_nStatus = status;
    const std::string text = msg.GetStatusText();
    if (text.empty()) continue;
    EXPECT_NE(manual.find(text), std::string::npos) << status << " " << text;
  }
  msg.m_nStatus = 2;
  EXPECT_NE(manual.find(msg.GetStatusText()), std::string::npos);
}

TEST(Manual, NamesTheSettingsTheProgramReads) {
  const std::string manual = Manual();
  for (const char* name : {"PELMORAN_CONFIG_DIR", "PELMORAN_OPCUA_ENDPOINT", "PELMORAN_COM",
                           "-Headless", "-Service", "pelmoran.tst", "XDG_CONFIG_HOME"}) {
    EXPECT_NE(manual.find(name), std::string::npos) << name;
  }
}

}  // namespace
