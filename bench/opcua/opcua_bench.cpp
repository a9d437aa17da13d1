// 50,000 tags (or argv[1]) updated every 100 ms through the library's entry
// points while one client in another process monitors all of them.
// Reports notifications per second offered and delivered, the server
// process's CPU share, and resident memory per tag. The client's cost is its
// own process's and is not counted.
//   opcua_bench [tags] [seconds]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tagserver/tagserver.h"

extern char** environ;

namespace {

long ResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
  return 0;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

VARIANT Float(float f) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

std::string ClientPath(const char* self) {
  std::string path(self);
  size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
         "/opcua_bench_client";
}

}  // namespace

int main(int argc, char** argv) {
  int tags = argc > 1 ? std::atoi(argv[1]) : 50000;
  int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  setenv("PELMORAN_OPCUA_ENDPOINT", "opc.tcp://127.0.0.1:0", 1);
  GUID clsid{};
  if (InitOPCServer(&clsid, 100) != 0) return 1;
  long rssBefore = ResidentBytes();
  std::vector<int32_t> handles;
  for (int i = 0; i < tags; ++i)
    handles.push_back(CreateOPCTag(("BENCH." + std::to_string(i)).c_str(), Float(0), 192, 1));

  std::string url = GetOPCServerURL();
  std::string port = url.substr(url.rfind(':') + 1);
  std::string client = ClientPath(argv[0]);
  std::string count = std::to_string(tags);
  std::string window = std::to_string(seconds + 1);
  int pipefd[2];
  if (pipe(pipefd) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipefd[0]);
  char* args[] = {client.data(), port.data(), count.data(), window.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, client.c_str(), &actions, nullptr, args, environ) != 0) return 1;
  close(pipefd[1]);
  FILE* out = fdopen(pipefd[0], "r");
  char line[128] = {};
  // The client tells how creating went ("created <items> <seconds>") before it is ready.
  double createSeconds = 0;
  unsigned long long createdItems = 0;
  while (std::fgets(line, sizeof line, out) && std::string(line) != "ready\n")
    std::sscanf(line, "created %llu %lf", &createdItems, &createSeconds);
  if (std::string(line) != "ready\n" || createSeconds <= 0) return 1;
  long rssMonitored = ResidentBytes();

  double cpu0 = CpuSeconds();
  auto start = std::chrono::steady_clock::now();
  auto next = start;
  int rounds = 0;
  while (next < start + std::chrono::seconds(seconds)) {
    ++rounds;
    for (int32_t h : handles) UpdateOPCTag(h, Float(static_cast<float>(rounds)), 192);
    next += std::chrono::milliseconds(100);
    std::this_thread::sleep_until(next);
  }
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double cpu = CpuSeconds() - cpu0;
  unsigned long long delivered = 0;
  if (std::fgets(line, sizeof line, out)) std::sscanf(line, "delivered %llu", &delivered);
  int status = 0;
  waitpid(pid, &status, 0);
  ShutdownOPCServer();

  double offered = static_cast<double>(tags) * rounds / wall;
  std::printf("tags %d, %d rounds of updates every 100 ms over %.1f s\n", tags, rounds, wall);
  std::printf("items created in            %.2f s (%.0f per second)\n", createSeconds,
              tags / createSeconds);
  std::printf("notifications/s offered   %.0f\n", offered);
  std::printf("notifications/s delivered %.0f (%.1f%%)\n", delivered / wall,
              100.0 * delivered / (offered * wall));
  std::printf("server CPU share          %.3f of a core\n", cpu / wall);
  std::printf("resident memory           %.1f MB total, %.0f bytes per monitored tag\n",
              rssMonitored / 1e6, static_cast<double>(rssMonitored - rssBefore) / tags);
  std::printf(
      "reference (C stack, 50,000 items): 463 k of 500 k/s delivered, 0.65 of a core, 87 MB\n");
  if (tags == 50000) {
    std::printf("against the reference: %.2fx delivered, %.2fx less CPU, %.2fx less memory\n",
                delivered / wall / 463000.0, 0.65 / (cpu / wall),
                87e6 / static_cast<double>(rssMonitored));
  }
  return 0;
}
