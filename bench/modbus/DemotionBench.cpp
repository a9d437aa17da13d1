// A silent neighbour on a shared serial line: the headless gateway polls a
// libmodbus RTU slave (node 1) on a pseudo-terminal pair, and in two of the
// three runs also a node 2 that nobody answers, on the same endpoint at the
// same period. The good slave's answers per second are counted at the slave:
// alone, beside the silent node with demotion on (the defaults: 3 time-outs,
// 10 s held back), and beside it with demotion off. Steady state only: the
// window opens once every good scan has polled and, with demotion on, once
// the silent node has been demoted the first time.
//
// Usage: demotion_bench [PATH-OF-PELMORAN]

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "ChildProcess.h"
#include "GatewayBenchMain.h"
#include "GatewayConfig.h"
#include "PtyPair.h"
#include "RtuSlave.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kComPort = 1;
constexpr bench::ScanLoad kGood{5, 10, 100};
constexpr int kTimeoutMs = 500;
constexpr int kHoldSeconds = 10;
// Three whole cycles of hold and probe, so that where the window falls in a
// cycle hardly matters.
constexpr auto kMeasure = std::chrono::seconds(3 * (kHoldSeconds + 1));
constexpr auto kStartTimeout = std::chrono::seconds(60);
constexpr auto kStartCheck = std::chrono::milliseconds(50);

struct Run {
  const char* name;
  int silentScans;
  int demotionTimeouts;  // 0 never demotes
};

int linesWith(const std::string& log, const char* text) {
  std::ifstream in(log);
  int count = 0;
  for (std::string line; std::getline(in, line);) count += line.find(text) != line.npos;
  return count;
}

void awaitSteadyState(const std::string& log, const Run& run) {
  const auto deadline = Clock::now() + kStartTimeout;
  const bool demotes = run.silentScans > 0 && run.demotionTimeouts > 0;
  while (Clock::now() < deadline) {
    if (linesWith(log, " on LINE: GOOD") >= kGood.scans &&
        (!demotes || linesWith(log, " demoted") > 0))
      return;
    std::this_thread::sleep_for(kStartCheck);
  }
  throw std::runtime_error("the gateway did not settle; its output is in " + log);
}

void writeSettings(const std::string& dir, const Run& run) {
  std::ofstream out(dir + "/pelmoran.ini", std::ios::trunc);
  out << "[Demotion]\nTimeouts=" << run.demotionTimeouts << "\nHoldSeconds=" << kHoldSeconds
      << "\n";
  if (!out.flush()) throw std::runtime_error("cannot write the settings in " + dir);
}

double goodRate(const std::string& program, const std::string& dir, const Run& run) {
  bench::PtyPair line;
  bench::RtuSlave slave(line.second(), bench::GatewayConfig::kBaudRate);
  if (!bench::GatewayConfig::write(dir, kComPort, kGood, {run.silentScans, kTimeoutMs})) {
    throw std::runtime_error("cannot write the configuration in " + dir);
  }
  writeSettings(dir, run);
  const std::string log = dir + "/pelmoran-" + std::to_string(run.silentScans) + "-" +
                          std::to_string(run.demotionTimeouts) + ".log";
  bench::ChildProcess gateway(
      {program, "-Headless"},
      {"PELMORAN_CONFIG_DIR=" + dir, "HOME=" + dir, "XDG_CONFIG_HOME=" + dir,
       "PELMORAN_COM" + std::to_string(kComPort) + "=" + line.first(),
       "PELMORAN_RESTORE_DELAY_MS=100", "PELMORAN_OPCUA_ENDPOINT=opc.tcp://127.0.0.1:0"},
      log);
  awaitSteadyState(log, run);
  // The slave counts only requests to its own node.
  const long before = slave.answered();
  std::this_thread::sleep_for(kMeasure);
  return (slave.answered() - before) / std::chrono::duration<double>(kMeasure).count();
}

int run(const std::string& program, const std::string& dir) {
  std::printf(
      "pelmoran -Headless, one RTU endpoint (pseudo-terminal pair, %u baud 8N1 settings):"
      " %d scans of %d registers every %d ms on node 1; the silent neighbour is one scan of"
      " node 2 every %d ms, time-out %d ms; demotion holds back for %d s\n",
      bench::GatewayConfig::kBaudRate, kGood.scans, kGood.registers, kGood.periodMs, kGood.periodMs,
      kTimeoutMs, kHoldSeconds);
  const Run runs[] = {{"node 1 alone", 0, 3},
                      {"beside a silent node 2, demotion on (3 time-outs)", 1, 3},
                      {"beside a silent node 2, demotion off", 1, 0}};
  double alone = 0;
  for (const Run& r : runs) {
    const double rate = goodRate(program, dir, r);
    if (r.silentScans == 0) alone = rate;
    std::printf("%-52s %6.1f polls/s of node 1  %5.1f %% of alone\n", r.name, rate,
                100 * rate / alone);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return bench::gatewayBenchMain("demotion_bench", argc, argv, PELMORAN_PROGRAM, &run);
}
