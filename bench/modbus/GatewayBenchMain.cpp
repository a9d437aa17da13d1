#include "GatewayBenchMain.h"

#include <stdlib.h>

#include <cstdio>
#include <exception>
#include <filesystem>

namespace bench {

int gatewayBenchMain(const char* name, int argc, char** argv, const std::string& builtProgram,
                     GatewayRun run) {
  const std::string program = argc > 1 ? argv[1] : builtProgram;
  std::string pattern = std::string("/tmp/") + name + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror((std::string(name) + ": mkdtemp").c_str());
    return 1;
  }
  int status = 1;
  try {
    status = run(program, pattern);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
    return 1;  // the directory stays for the program's log
  }
  std::filesystem::remove_all(pattern);
  return status;
}

}  // namespace bench
