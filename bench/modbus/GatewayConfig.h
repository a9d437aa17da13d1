// The configuration a gateway benchmark runs: one serial RTU endpoint and a
// number of equal scans of holding registers on it, each over registers of
// its own. The files are written to their documented format (docs/files.md)
// rather than through the program's classes, so the benchmark keeps working
// while those change.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct ScanLoad {
  int scans;
  int registers;
  int periodMs;
};

// Scans of a node nobody answers on the same line, after the load's own,
// and the endpoint's time-out that each of their polls costs.
struct SilentNeighbour {
  static constexpr int kNode = 2;
  int scans;
  int timeoutMs;
};

class GatewayConfig {
 public:
  static constexpr const char* kEndpoint = "LINE";
  static constexpr unsigned kBaudRate = 19200;

  // Writes <dir>/pelmoran.tst and a scan file per scan beside it; false when
  // a file could not be written.
  static bool write(const std::string& dir, int comPort, const ScanLoad& load);
  static bool write(const std::string& dir, int comPort, const ScanLoad& load,
                    const SilentNeighbour& silent);
  // The point address (1-based) where scan i starts.
  static int firstPoint(int scan, const ScanLoad& load) { return 1 + scan * load.registers; }

 private:
  static std::string configuration(int comPort, int timeoutMs,
                                   const std::vector<std::string>& scanFiles);
  static std::string scan(int index, int comPort, const ScanLoad& load, int node);
};

}  // namespace bench
