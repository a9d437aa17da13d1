// The soak run's configuration: the demonstration scans on an endpoint whose
// slave stays up, and a few scans on a second endpoint whose slave the soak
// stops and starts again, written with the program's own file writers.
#pragma once

#include <string>

namespace soak {

struct SoakEndpoint {
  std::string name;
  std::string host;
  int port = 0;
};

class SoakConfig {
 public:
  // Writes <dir>/pelmoran.tst and the scan files beside it; false (the
  // reason already reported) when a file could not be written.
  static bool write(const std::string& dir, const SoakEndpoint& steady, const SoakEndpoint& cycled);
};

}  // namespace soak
