// The server side of secure_bench.mjs: 10,000 tags (or argv[1]) that change
// every 100 ms once told to start, with the certificates and users in
// $PELMORAN_CONFIG_DIR. Prints "url <endpoint>", then obeys, one per line:
//   trust <certificate file>  -> "ok"
//   start                     -> "ok"   (the updates begin)
//   cpu                       -> "cpu <seconds of CPU this process used>"
//   quit
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tagserver/tagserver.h"

namespace {

VARIANT Float(float f) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Churn(const std::vector<int32_t>& handles, const std::atomic<bool>& running) {
  auto next = std::chrono::steady_clock::now();
  for (int round = 1; running; ++round) {
    for (int32_t h : handles) UpdateOPCTag(h, Float(static_cast<float>(round)), 192);
    next += std::chrono::milliseconds(100);
    std::this_thread::sleep_until(next);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int tags = argc > 1 ? std::atoi(argv[1]) : 10000;
  setenv("PELMORAN_OPCUA_ENDPOINT", "opc.tcp://127.0.0.1:0", 1);
  GUID clsid{};
  if (InitOPCServer(&clsid, 100) != 0) return 1;
  std::vector<int32_t> handles;
  for (int i = 0; i < tags; ++i)
    handles.push_back(CreateOPCTag(("BENCH." + std::to_string(i)).c_str(), Float(0), 192, 1));
  std::cout << "url " << GetOPCServerURL() << std::endl;
  std::atomic<bool> running{true};
  std::thread churn;
  std::string line;
  while (std::getline(std::cin, line) && line != "quit") {
    std::istringstream in(line);
    std::string word, argument;
    in >> word >> argument;
    if (word == "trust") {
      char error[256] = {};
      std::cout << (TrustOPCClient(nullptr, argument.c_str(), error, sizeof error) == 0
                        ? std::string("ok")
                        : std::string("error ") + error)
                << std::endl;
    } else if (word == "start" && !churn.joinable()) {
      churn = std::thread(Churn, std::cref(handles), std::cref(running));
      std::cout << "ok" << std::endl;
    } else if (word == "cpu") {
      std::cout << "cpu " << CpuSeconds() << std::endl;
    }
  }
  running = false;
  if (churn.joinable()) churn.join();
  ShutdownOPCServer();
  return 0;
}
