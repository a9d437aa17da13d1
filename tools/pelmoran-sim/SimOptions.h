// The simulator's command line.
#pragma once

#include <string>
#include <vector>

#include "SerialLine.h"

struct SimOptions {
  bool bTcp = false;
  int nTcpPort = 0;
  std::string strBind = "127.0.0.1";
  int nUnit = -1;  // Modbus/TCP unit id served; -1 every one
  std::string strRtuDevice;
  std::string strRtuLink;
  std::string strAsciiDevice;
  std::string strAsciiLink;
  LineSettings line;
  int nSlave = 1;
  int nTickMs = 1000;
  bool bHelp = false;

  // Throws std::invalid_argument with a message naming the bad argument.
  static SimOptions Parse(const std::vector<std::string>& args);
  static const char* Usage();
};
