// Polls per second, 10 holding registers each, through the library against
// pymodbus slaves: RTU framing over TCP (a serial device server's stream)
// beside standard Modbus/TCP, from the same slave program in one run. The
// two take turns in short rounds so that a change in the machine's load
// touches both alike; the ratio is what the serial framing costs on a stream.
#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "ChildProcess.h"
#include "PollRounds.h"
#include "modbuslib/modbuslib.h"

namespace {

constexpr int kRounds = 10;
constexpr auto kRound = std::chrono::milliseconds(500);

std::mutex mutex;
std::condition_variable changed;
std::map<int, bool> linkUp;

void onLink(int event, int handle) {
  std::lock_guard lock(mutex);
  linkUp[handle] = event == MBS_EVENT_CONNECTED;
  changed.notify_all();
}

// The slave's port, from its ready line; 0 when it did not start.
int startSlave(bench::ChildProcess& slave) {
  const auto line = slave.readErrorLine(std::chrono::seconds(20));
  return line && line->rfind("ready ", 0) == 0 ? std::stoi(line->substr(6)) : 0;
}

bool waitUp(int handle) {
  std::unique_lock lock(mutex);
  if (!changed.wait_for(lock, std::chrono::seconds(5), [&] { return linkUp[handle]; })) return false;
  EnableModbusCallback(handle, &bench::onPollAnswer);
  return true;
}

std::vector<std::string> slaveArgs(const char* mode) {
  return {"/usr/bin/python3", MODBUS_SLAVE_SCRIPT, "--mode", mode, "--no-commands"};
}

}  // namespace

int main() {
  bench::ChildProcess mbapSlave(slaveArgs("tcp"), {}, "");
  bench::ChildProcess rtuSlave(slaveArgs("rtu-tcp"), {}, "");
  const int mbapPort = startSlave(mbapSlave);
  const int rtuPort = startSlave(rtuSlave);
  EnableConnectionCallback(&onLink);
  TcpOptions options{};
  options.timeoutMs = 2000;
  const int mbap = ConnectTCP2(inet_addr("127.0.0.1"), static_cast<uint32_t>(mbapPort), &options);
  const int rtu = ConnectNetLine("127.0.0.1", static_cast<uint32_t>(rtuPort), MBS_NET_TCP,
                                 MBS_FRAMING_RTU, 2000);
  if (mbapPort == 0 || rtuPort == 0 || !waitUp(mbap) || !waitUp(rtu)) {
    std::fprintf(stderr, "the pymodbus slaves did not start or cannot be reached\n");
    return 1;
  }
  long rtuPolls = 0;
  long mbapPolls = 0;
  double rtuSeconds = 0;
  double mbapSeconds = 0;
  for (int i = 0; i < kRounds; ++i) {
    mbapSeconds += bench::pollRound(mbap, kRound, mbapPolls);
    rtuSeconds += bench::pollRound(rtu, kRound, rtuPolls);
  }
  CloseConnection(mbap);
  CloseConnection(rtu);
  const double rtuRate = rtuSeconds > 0 ? rtuPolls / rtuSeconds : 0;
  const double mbapRate = mbapSeconds > 0 ? mbapPolls / mbapSeconds : 0;
  std::printf("RTU over TCP (pymodbus RTU framer on TCP): %.0f polls/s\n", rtuRate);
  std::printf("Modbus/TCP   (pymodbus socket framer):     %.0f polls/s\n", mbapRate);
  std::printf("ratio RTU over TCP / Modbus/TCP: %.2f\n", mbapRate > 0 ? rtuRate / mbapRate : 0.0);
  return rtuRate > 0 && mbapRate > 0 ? 0 : 1;
}
