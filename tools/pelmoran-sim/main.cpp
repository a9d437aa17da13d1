// pelmoran-sim: a Modbus slave with moving values, for the demo and for trials.
#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AsciiSlave.h"
#include "RtuSlave.h"
#include "SerialLine.h"
#include "SimOptions.h"
#include "SimTables.h"
#include "TcpSlave.h"

namespace {

volatile sig_atomic_t g_bStop = 0;

void OnStopSignal(int) { g_bStop = 1; }

void Announce(const std::string& line) {
  std::printf("pelmoran-sim: %s\n", line.c_str());
  std::fflush(stdout);
}

std::string Describe(const LineSettings& s, int slave) {
  return "(slave " + std::to_string(slave) + ", " + std::to_string(s.nBaud) + " " +
         std::to_string(s.nDataBits) + s.cParity + std::to_string(s.nStopBits) + ")";
}

struct Simulator {
  SimTables tables;
  std::vector<std::unique_ptr<SerialLine>> lines;
  std::vector<std::unique_ptr<SimTransport>> transports;
};

void Open(Simulator& sim, const SimOptions& o) {
  if (o.bTcp) {
    auto tcp = std::make_unique<TcpSlave>(sim.tables, o.strBind, o.nTcpPort, o.nUnit);
    Announce("Modbus/TCP listening on " + o.strBind + " port " + std::to_string(tcp->Port()));
    sim.transports.push_back(std::move(tcp));
  }
  if (!o.strRtuDevice.empty()) {
    auto& line =
        sim.lines.emplace_back(std::make_unique<SerialLine>(o.strRtuDevice, o.line, o.strRtuLink));
    sim.transports.push_back(std::make_unique<RtuSlave>(sim.tables, *line, o.line, o.nSlave));
    Announce("Modbus RTU on " + line->MasterDevice() + " " + Describe(o.line, o.nSlave));
  }
  if (!o.strAsciiDevice.empty()) {
    auto& line = sim.lines.emplace_back(
        std::make_unique<SerialLine>(o.strAsciiDevice, o.line, o.strAsciiLink));
    sim.transports.push_back(std::make_unique<AsciiSlave>(sim.tables, *line, o.nSlave));
    Announce("Modbus ASCII on " + line->MasterDevice() + " " + Describe(o.line, o.nSlave));
  }
}

void WaitAndServe(Simulator& sim, int timeoutMs) {
  std::vector<int> fds;
  std::vector<SimTransport*> owners;
  for (auto& transport : sim.transports) {
    const size_t before = fds.size();
    transport->CollectFds(fds);
    owners.insert(owners.end(), fds.size() - before, transport.get());
  }
  std::vector<pollfd> polled;
  for (int fd : fds) polled.push_back({fd, POLLIN, 0});
  if (::poll(polled.data(), polled.size(), timeoutMs) <= 0) return;
  for (size_t i = 0; i < polled.size(); ++i) {
    if (polled[i].revents != 0) owners[i]->OnReadable(polled[i].fd);
  }
}

void Run(Simulator& sim, int tickMs) {
  using Clock = std::chrono::steady_clock;
  auto next = Clock::now() + std::chrono::milliseconds(tickMs);
  while (!g_bStop) {
    const auto now = Clock::now();
    if (now >= next) {
      sim.tables.Tick();
      next += std::chrono::milliseconds(tickMs);
      if (next < now) next = now + std::chrono::milliseconds(tickMs);
      continue;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
    WaitAndServe(sim, static_cast<int>(wait.count()) + 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  try {
    options = SimOptions::Parse(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pelmoran-sim: %s\n%s", e.what(), SimOptions::Usage());
    return 2;
  }
  if (options.bHelp) {
    std::fputs(SimOptions::Usage(), stdout);
    return 0;
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  try {
    Simulator sim;
    Open(sim, options);
    Run(sim, options.nTickMs);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pelmoran-sim: %s\n", e.what());
    return 1;
  }
  Announce("stopped");
  return 0;
}
