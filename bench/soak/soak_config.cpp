// soak_config: writes the soak run's configuration.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SoakConfig.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(
        stderr,
        "usage: soak_config DIRECTORY STEADY_PORT CYCLED_PORT\n"
        "Writes DIRECTORY/pelmoran.tst and its scan files: endpoint STEADY to the\n"
        "slave on 127.0.0.1 port STEADY_PORT, endpoint CYCLED to the one on CYCLED_PORT.\n");
    return 2;
  }
  const soak::SoakEndpoint steady{"STEADY", "127.0.0.1", std::atoi(argv[2])};
  const soak::SoakEndpoint cycled{"CYCLED", "127.0.0.1", std::atoi(argv[3])};
  return soak::SoakConfig::write(argv[1], steady, cycled) ? 0 : 1;
}
