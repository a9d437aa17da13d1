// The gateway benchmark's configuration, byte for byte against the layout of
// docs/files.md: a slip here would leave the program polling nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "GatewayConfig.h"

namespace {

std::string hexOf(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : bytes) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[c & 0x0F];
  }
  return hex;
}

std::string hexOfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return hexOf(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

// A short text: its length in one byte, then its bytes.
std::string hexOfText(const std::string& text) {
  return hexOf(std::string(1, static_cast<char>(text.size())) + text);
}

class GatewayConfigFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(mkdtemp(dir_), nullptr); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir() + "/" + name; }

 private:
  char dir_[32] = "/tmp/gateway-config-XXXXXX";
};

TEST_F(GatewayConfigFiles, FollowTheDocumentedLayout) {
  ASSERT_TRUE(bench::GatewayConfig::write(dir(), 3, {2, 10, 250}));
  const std::string endpoint =
      "044C494E45"        // name "LINE"
      "00000000"          // not connected
      "01000000"          // RTU
      "D0070000"          // 2000 ms
      "03000000"          // COM 3
      "00000000"          // serial port
      "00000000"          // no IPv4 address
      "004B000000000800"  // 19200 baud, no parity, one stop bit, 8 bits
      "0000000000000000"  // reserved
      "0000000001000000"  // RTS off, DTR on
      "00000000";         // reserved, pad
  const std::string configuration =
      "0300"                   // format
      "01000000"               // one endpoint
      + endpoint + "02000000"  // two scans
      + hexOfText(path("scan0.scn")) + hexOfText(path("scan1.scn"));
  EXPECT_EQ(hexOfFile(path("pelmoran.tst")), configuration);
  std::string scan =
      "04332E3030"  // version "3.00"
      "044C494E45"  // endpoint "LINE"
      "012E"        // delimiter "."
      "03000000"    // COM 3
      "0103"        // node 1, holding registers
      "0B000A00"    // from point 11, 10 points
      "FA000000"    // every 250 ms
      "0A000000";   // 10 tags
  // Each tag: holding register, unsigned, 0.0 to 100.0.
  const std::string tag =
      "030000000000000000000000"
      "0000C842";
  for (int i = 0; i < 10; ++i) scan += tag;
  EXPECT_EQ(hexOfFile(path("scan1.scn")), scan);
}

}  // namespace
