// Polls per second, 100 holding registers each: the library (PollMODBUS,
// callback, MODBUSResponse) beside libmodbus's synchronous
// modbus_read_registers loop, against the same libmodbus server. The two
// take turns in short rounds so that a change in the machine's load touches
// both alike.
#include <arpa/inet.h>
#include <modbus.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "LoopbackServer.h"
#include "modbuslib/modbuslib.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 10;
constexpr auto kRound = std::chrono::milliseconds(400);
constexpr RequestHeader kPoll{1, 3, 1, 100};

std::mutex mutex;
std::condition_variable changed;
bool linkUp = false;
bool roundOver = false;
long polls = 0;
Clock::time_point deadline;
uint16_t words[MBS_RESPONSE_CAPACITY];

void onLink(int event, int) {
  std::lock_guard lock(mutex);
  linkUp = event == MBS_EVENT_CONNECTED;
  changed.notify_all();
}

void onResponse(int handle, int, int) {
  RequestHeader header{};
  const int status = MODBUSResponse(handle, &header, words, MBS_RESPONSE_CAPACITY);
  if (status == MBS_OK && words[99] == 99) ++polls;
  if (status != MBS_OK || Clock::now() >= deadline || PollMODBUS(handle, &kPoll) != MBS_OK) {
    std::lock_guard lock(mutex);
    roundOver = true;
    changed.notify_all();
  }
}

int connectLibrary(int port) {
  EnableConnectionCallback(&onLink);
  TcpOptions options{};
  options.timeoutMs = 2000;
  const int handle = ConnectTCP2(inet_addr("127.0.0.1"), static_cast<uint32_t>(port), &options);
  std::unique_lock lock(mutex);
  if (!changed.wait_for(lock, std::chrono::seconds(5), [] { return linkUp; })) return -1;
  EnableModbusCallback(handle, &onResponse);
  return handle;
}

// Polls done in one round, and the round's length in seconds.
double libraryRound(int handle, long& count) {
  const long before = polls;
  const auto start = Clock::now();
  deadline = start + kRound;
  roundOver = false;
  if (PollMODBUS(handle, &kPoll) != MBS_OK) return 0;
  std::unique_lock lock(mutex);
  changed.wait(lock, [] { return roundOver; });
  count += polls - before;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double libmodbusRound(modbus_t* ctx, long& count) {
  uint16_t regs[100];
  const auto start = Clock::now();
  while (Clock::now() - start < kRound) {
    if (modbus_read_registers(ctx, 0, 100, regs) != 100 || regs[99] != 99) break;
    ++count;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main() {
  LoopbackServer server;
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", server.port());
  const int handle = connectLibrary(server.port());
  if (modbus_connect(ctx) != 0 || handle < 0) {
    std::fprintf(stderr, "cannot connect to the loopback server\n");
    return 1;
  }
  long ours = 0;
  long theirs = 0;
  double ourSeconds = 0;
  double theirSeconds = 0;
  for (int round = 0; round < kRounds; ++round) {
    theirSeconds += libmodbusRound(ctx, theirs);
    ourSeconds += libraryRound(handle, ours);
  }
  modbus_close(ctx);
  modbus_free(ctx);
  CloseConnection(handle);
  const double ourRate = ourSeconds > 0 ? ours / ourSeconds : 0;
  const double theirRate = theirSeconds > 0 ? theirs / theirSeconds : 0;
  std::printf("modbuslib (PollMODBUS + callback + MODBUSResponse): %.0f polls/s\n", ourRate);
  std::printf("libmodbus (modbus_read_registers loop):             %.0f polls/s\n", theirRate);
  std::printf("ratio modbuslib / libmodbus: %.2f\n", theirRate > 0 ? ourRate / theirRate : 0.0);
  return ourRate > 0 && theirRate > 0 ? 0 : 1;
}
