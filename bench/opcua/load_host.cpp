// The tag server as the load benchmark runs it: <tags> Float tags
// (BENCH.<i>) all given a new value every <interval> ms through the
// library's entry points. Prints "PORT <port>" once it listens, then answers
// each line on stdin with "rounds <n>", the rounds of updates done so far;
// ends when stdin closes. reference_server.mjs speaks the same.
//   load_host <tags> <interval ms>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "tagserver/tagserver.h"

namespace {

constexpr int kGoodQuality = 192;

VARIANT Float(float f) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: load_host <tags> <interval ms>\n");
    return 2;
  }
  const int tags = std::atoi(argv[1]);
  const std::chrono::milliseconds interval(std::atoi(argv[2]));
  setenv("PELMORAN_OPCUA_ENDPOINT", "opc.tcp://127.0.0.1:0", 1);
  GUID clsid{};
  if (InitOPCServer(&clsid, 100) != 0) return 1;
  std::vector<int32_t> handles;
  for (int i = 0; i < tags; ++i)
    handles.push_back(
        CreateOPCTag(("BENCH." + std::to_string(i)).c_str(), Float(0), kGoodQuality, 1));
  std::string url = GetOPCServerURL();
  std::cout << "PORT " << url.substr(url.rfind(':') + 1) << std::endl;

  std::atomic<bool> running{true};
  std::atomic<long> rounds{0};
  std::thread updater([&] {
    auto next = std::chrono::steady_clock::now();
    while (running) {
      const long round = ++rounds;
      for (int32_t h : handles) UpdateOPCTag(h, Float(static_cast<float>(round)), kGoodQuality);
      next += interval;
      std::this_thread::sleep_until(next);
    }
  });
  for (std::string line; std::getline(std::cin, line);)
    std::cout << "rounds " << rounds << std::endl;
  running = false;
  updater.join();
  ShutdownOPCServer();
  return 0;
}
