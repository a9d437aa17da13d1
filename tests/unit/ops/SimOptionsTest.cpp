#include <gtest/gtest.h>

#include <stdexcept>

#include "SimOptions.h"

namespace {

TEST(SimOptions, DefaultsToTcpOnAFreeLoopbackPort) {
  const SimOptions o = SimOptions::Parse({});
  EXPECT_TRUE(o.bTcp);
  EXPECT_EQ(o.nTcpPort, 0);
  EXPECT_EQ(o.strBind, "127.0.0.1");
}

TEST(SimOptions, ReadsEveryTransportAndLineSetting) {
  const SimOptions o =
      SimOptions::Parse({"--rtu", "pty", "--ascii", "/dev/ttyUSB1", "--baud", "9600", "--parity",
                         "E", "--data", "7", "--stop", "2", "--slave", "17", "--tick", "250"});
  EXPECT_FALSE(o.bTcp);  // a serial transport alone serves no TCP
  EXPECT_EQ(o.strRtuDevice, "pty");
  EXPECT_EQ(o.strAsciiDevice, "/dev/ttyUSB1");
  EXPECT_EQ(o.line.nBaud, 9600);
  EXPECT_EQ(o.line.cParity, 'E');
  EXPECT_EQ(o.line.nDataBits, 7);
  EXPECT_EQ(o.line.nStopBits, 2);
  EXPECT_EQ(o.nSlave, 17);
  EXPECT_EQ(o.nTickMs, 250);
}

TEST(SimOptions, BadArgumentsAreNamed) {
  auto message = [](std::vector<std::string> args) {
    try {
      SimOptions::Parse(args);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message({"--tcp", "70000"}),
            "--tcp needs a whole number from 0 to 65535, not \"70000\"");
  EXPECT_EQ(message({"--tcp", "12x"}), "--tcp needs a whole number from 0 to 65535, not \"12x\"");
  EXPECT_EQ(message({"--parity", "X"}), "--parity needs N, E or O, not \"X\"");
  EXPECT_EQ(message({"--tcp"}), "--tcp needs a value");
  EXPECT_EQ(message({"--frobnicate", "1"}), "unknown option \"--frobnicate\"");
  EXPECT_EQ(message({"--slave", "0"}), "--slave needs a whole number from 1 to 247, not \"0\"");
}

}  // namespace
