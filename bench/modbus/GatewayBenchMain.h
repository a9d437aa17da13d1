// What every benchmark of the whole program does around its measuring: the
// program to run (argument 1, else the one built beside it), a scratch
// directory for its files, removed afterwards unless a failure leaves it
// for the program's log.
#pragma once

#include <string>

namespace bench {

using GatewayRun = int (*)(const std::string& program, const std::string& dir);

int gatewayBenchMain(const char* name, int argc, char** argv, const std::string& builtProgram,
                     GatewayRun run);

}  // namespace bench
