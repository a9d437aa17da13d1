// The demonstration configuration: one Modbus/TCP endpoint to the simulator
// and scans of every point type and data type, written with the program's own
// configuration and scan file writers.
#pragma once

#include <string>
#include <vector>

struct DemoTag {
  int nDataType;
  float fLow = 0.0f;
  float fHigh = 100.0f;
};

struct DemoScan {
  std::string strFile;
  int nPointType;
  int nPointAddress;
  int nScanLength;
  int nPollFrequency;
  std::vector<DemoTag> tags;
};

class DemoConfig {
 public:
  // The scans, matched to the simulator's register map.
  static std::vector<DemoScan> Scans();

  // Writes <dir>/pelmoran.tst and one scan file per scan beside it; false
  // (the reason already reported) when a file could not be written.
  static bool Write(const std::string& dir, const std::string& endpoint, const std::string& host,
                    int port);
};
