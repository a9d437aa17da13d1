// What a shared line adds to each request of another master: polls per
// second, 10 holding registers each, of the library polling a pymodbus RTU
// slave (RTU framing on TCP, a serial line the library shares) beside a
// Modbus/TCP master of the benchmark's own reading the same registers
// through the line's shared port, in alternating rounds of one run.
#include <arpa/inet.h>

#include <asio.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "ChildProcess.h"
#include "PollRounds.h"
#include "modbuslib/modbuslib.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 10;
constexpr auto kRound = std::chrono::milliseconds(500);
// The same read as a Modbus/TCP request: transaction 1, unit 1, registers 0-9.
constexpr uint8_t kRequest[] = {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 10};
constexpr size_t kAnswerSize = 7 + 2 + 20;

std::mutex mutex;
std::condition_variable changed;
bool up = false;

void onLink(int event, int) {
  std::lock_guard lock(mutex);
  up = event == MBS_EVENT_CONNECTED;
  changed.notify_all();
}

double sharedRound(asio::ip::tcp::socket& socket, long& count) {
  const auto start = Clock::now();
  uint8_t answer[kAnswerSize];
  while (Clock::now() < start + kRound) {
    asio::write(socket, asio::buffer(kRequest));
    asio::read(socket, asio::buffer(answer));
    if (answer[7] != 3 || answer[kAnswerSize - 1] != 9) return 0;
    ++count;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main() {
  bench::ChildProcess slave(
      {"/usr/bin/python3", MODBUS_SLAVE_SCRIPT, "--mode", "rtu-tcp", "--no-commands"}, {}, "");
  const auto ready = slave.readErrorLine(std::chrono::seconds(20));
  const int slavePort = ready && ready->rfind("ready ", 0) == 0 ? std::stoi(ready->substr(6)) : 0;
  EnableConnectionCallback(&onLink);
  const int line = ConnectNetLine("127.0.0.1", static_cast<uint32_t>(slavePort), MBS_NET_TCP,
                                  MBS_FRAMING_RTU, 2000);
  {
    std::unique_lock lock(mutex);
    if (slavePort == 0 || !changed.wait_for(lock, std::chrono::seconds(5), [] { return up; })) {
      std::fprintf(stderr, "the pymodbus slave did not start or cannot be reached\n");
      return 1;
    }
  }
  EnableModbusCallback(line, &bench::onPollAnswer);
  const SharedLineSettings settings{nullptr, 0, 1, 1};
  uint16_t port = 0;
  if (ShareLine(line, &settings, &port) != MBS_OK) return 1;
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), port});
  socket.set_option(asio::ip::tcp::no_delay(true));
  long directPolls = 0;
  long sharedPolls = 0;
  double directSeconds = 0;
  double sharedSeconds = 0;
  for (int i = 0; i < kRounds; ++i) {
    directSeconds += bench::pollRound(line, kRound, directPolls);
    sharedSeconds += sharedRound(socket, sharedPolls);
  }
  CloseConnection(line);
  const double directRate = directSeconds > 0 ? directPolls / directSeconds : 0;
  const double sharedRate = sharedSeconds > 0 ? sharedPolls / sharedSeconds : 0;
  if (directRate <= 0 || sharedRate <= 0) return 1;
  std::printf("library polling the line directly:   %.0f polls/s\n", directRate);
  std::printf("another master through the shared port: %.0f polls/s\n", sharedRate);
  std::printf("added per forwarded request: %.0f us; ratio shared / direct: %.2f\n",
              1e6 / sharedRate - 1e6 / directRate, sharedRate / directRate);
  return 0;
}
