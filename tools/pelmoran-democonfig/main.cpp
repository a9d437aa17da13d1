// pelmoran-democonfig: writes the demonstration configuration for a simulator.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "DemoConfig.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr,
                 "usage: pelmoran-democonfig DIRECTORY PORT [HOST] [ENDPOINT]\n"
                 "Writes DIRECTORY/pelmoran.tst and its scan files: one Modbus/TCP endpoint\n"
                 "(default SIM) to HOST (default 127.0.0.1) port PORT, where pelmoran-sim\n"
                 "serves, and scans of every point type and data type.\n");
    return 2;
  }
  char* end = nullptr;
  const long port = std::strtol(argv[2], &end, 10);
  if (*end != '\0' || port < 1 || port > 65535) {
    std::fprintf(stderr, "pelmoran-democonfig: the port must be 1 to 65535, not \"%s\"\n", argv[2]);
    return 2;
  }
  const std::string host = argc > 3 ? argv[3] : "127.0.0.1";
  const std::string endpoint = argc > 4 ? argv[4] : "SIM";
  // The configuration holds full paths of the scan files.
  std::error_code ec;
  std::string dir = std::filesystem::absolute(argv[1], ec).lexically_normal().string();
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (!DemoConfig::Write(dir, endpoint, host, static_cast<int>(port))) return 1;
  // Every file written, so that a caller can take the demonstration away again.
  std::printf("%s/pelmoran.tst\n", dir.c_str());
  for (const DemoScan& scan : DemoConfig::Scans()) {
    std::printf("%s/%s\n", dir.c_str(), scan.strFile.c_str());
  }
  return 0;
}
