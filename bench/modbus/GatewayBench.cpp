// The whole gateway, headless, with many scans on one serial RTU endpoint: a
// pseudo-terminal pair leads to a libmodbus RTU slave that counts the
// requests it answers. For each offered load (scans x 1000 / period polls per
// second) the polls completed per second are measured at the slave; then
// libmodbus's own master sends the same requests back-to-back on a fresh line
// as the measure of what the line and the slave can carry, once without and
// once with the RTU silence of 3.5 characters that the gateway keeps.
//
// Usage: gateway_bench [PATH-OF-PELMORAN]
#include <modbus.h>

#include <algorithm>
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
#include "WireTime.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr int kScans = 50;
constexpr int kRegisters = 50;
constexpr int kPeriodsMs[] = {500, 200, 100, 50, 20};
constexpr int kComPort = 1;
constexpr unsigned kBitsPerCharacter = 10;  // 8N1
constexpr auto kStartTimeout = std::chrono::seconds(30);
constexpr auto kStartCheck = milliseconds(50);
constexpr auto kMeasure = std::chrono::seconds(4);
constexpr int kMinimumPeriods = 25;
// What the program writes when a scan's first poll has come back good.
constexpr const char* kScanGood = " on LINE: GOOD";

int goodScans(const std::string& log) {
  std::ifstream in(log);
  int good = 0;
  for (std::string line; std::getline(in, line);) good += line.find(kScanGood) != line.npos;
  return good;
}

// The scans are opened one after another; until the last one polls, the
// load is still growing.
bool everyScanPolling(const std::string& log) {
  const auto deadline = Clock::now() + kStartTimeout;
  while (goodScans(log) < kScans && Clock::now() < deadline) {
    std::this_thread::sleep_for(kStartCheck);
  }
  return goodScans(log) >= kScans;
}

// Answers per second at the slave. The program's timers tick together, so
// the scans of one period poll in a burst and a window counts whole bursts:
// it spans enough periods that one burst more or less hardly matters.
double answerRate(const bench::RtuSlave& slave, int periodMs) {
  const milliseconds period(periodMs);
  const auto window = std::max<milliseconds>(kMeasure, period * kMinimumPeriods);
  const long before = slave.answered();
  std::this_thread::sleep_for(window);
  return (slave.answered() - before) / std::chrono::duration<double>(window).count();
}

double gatewayRate(const std::string& program, const std::string& dir,
                   const bench::ScanLoad& load) {
  bench::PtyPair line;
  bench::RtuSlave slave(line.second(), bench::GatewayConfig::kBaudRate);
  if (!bench::GatewayConfig::write(dir, kComPort, load)) {
    throw std::runtime_error("cannot write the configuration in " + dir);
  }
  const std::string log = dir + "/pelmoran.log";
  // HOME and XDG_CONFIG_HOME keep the program's registration record out of
  // the user's own configuration.
  bench::ChildProcess gateway(
      {program, "-Headless"},
      {"PELMORAN_CONFIG_DIR=" + dir, "HOME=" + dir, "XDG_CONFIG_HOME=" + dir,
       "PELMORAN_COM" + std::to_string(kComPort) + "=" + line.first(),
       "PELMORAN_RESTORE_DELAY_MS=100", "PELMORAN_OPCUA_ENDPOINT=opc.tcp://127.0.0.1:0"},
      log);
  if (!everyScanPolling(log)) {
    throw std::runtime_error("not every scan came back good; the program's output is in " + log);
  }
  return answerRate(slave, load.periodMs);
}

// The scans' requests one after another, each after the given silence.
double libmodbusCapacity(Clock::duration silence) {
  bench::PtyPair line;
  bench::RtuSlave slave(line.second(), bench::GatewayConfig::kBaudRate);
  modbus_t* ctx = modbus_new_rtu(line.first().c_str(), bench::GatewayConfig::kBaudRate, 'N', 8, 1);
  if (ctx == nullptr || modbus_set_slave(ctx, bench::RtuSlave::kNode) != 0 ||
      modbus_connect(ctx) != 0) {
    if (ctx != nullptr) modbus_free(ctx);
    throw std::runtime_error("libmodbus cannot open " + line.first());
  }
  const bench::ScanLoad load{kScans, kRegisters, 0};
  uint16_t regs[kRegisters];
  const long before = slave.answered();
  const auto start = Clock::now();
  for (int scan = 0; Clock::now() - start < kMeasure; scan = (scan + 1) % kScans) {
    std::this_thread::sleep_for(silence);
    modbus_read_registers(ctx, bench::GatewayConfig::firstPoint(scan, load) - 1, kRegisters, regs);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  modbus_close(ctx);
  modbus_free(ctx);
  return (slave.answered() - before) / seconds;
}

void printReferences() {
  const bench::WireTime wire(bench::GatewayConfig::kBaudRate, kBitsPerCharacter);
  const auto silence = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(wire.silentIntervalMs()));
  std::printf(
      "libmodbus RTU master, the same requests back-to-back (the line's capacity):"
      " %.0f polls/s\n",
      libmodbusCapacity(Clock::duration::zero()));
  std::printf("the same, silent %.2f ms (3.5 characters) before each request: %.0f polls/s\n",
              wire.silentIntervalMs(), libmodbusCapacity(silence));
  const double ms = wire.rtuReadMs(kRegisters);
  std::printf(
      "on a real line at %u baud 8N1 one poll of %d registers takes %.1f ms: at most %.1f"
      " polls/s\n",
      bench::GatewayConfig::kBaudRate, kRegisters, ms, bench::WireTime::pollsPerSecond(ms));
}

int run(const std::string& program, const std::string& dir) {
  std::printf(
      "pelmoran -Headless, %d scans of %d holding registers on one RTU endpoint"
      " (pseudo-terminal pair, %u baud 8N1 settings, no baud delay)\n",
      kScans, kRegisters, bench::GatewayConfig::kBaudRate);
  std::printf("period ms  offered polls/s  completed polls/s  completed/offered\n");
  for (const int period : kPeriodsMs) {
    const double offered = kScans * 1000.0 / period;
    const double completed = gatewayRate(program, dir, {kScans, kRegisters, period});
    std::printf("%9d  %15.0f  %17.0f  %16.0f %%\n", period, offered, completed,
                100 * completed / offered);
    std::fflush(stdout);
  }
  printReferences();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return bench::gatewayBenchMain("gateway_bench", argc, argv, PELMORAN_PROGRAM, &run);
}
