// Polls per second, 100 holding registers each: the library (PollMODBUS,
// callback, MODBUSResponse) beside libmodbus's synchronous
// modbus_read_registers loop, against the same libmodbus server.
#include <arpa/inet.h>
#include <modbus.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "LoopbackServer.h"
#include "modbuslib/modbuslib.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRun = std::chrono::seconds(3);
constexpr RequestHeader kPoll{1, 3, 1, 100};

std::mutex mutex;
std::condition_variable changed;
bool linkUp = false;
bool finished = false;
std::atomic<long> polls{0};
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
    finished = true;
    changed.notify_all();
  }
}

double libraryRate(int port) {
  EnableConnectionCallback(&onLink);
  TcpOptions options{};
  options.timeoutMs = 2000;
  const int handle = ConnectTCP2(inet_addr("127.0.0.1"), static_cast<uint32_t>(port), &options);
  {
    std::unique_lock lock(mutex);
    if (!changed.wait_for(lock, std::chrono::seconds(5), [] { return linkUp; })) return 0;
  }
  EnableModbusCallback(handle, &onResponse);
  const auto start = Clock::now();
  deadline = start + kRun;
  PollMODBUS(handle, &kPoll);
  std::unique_lock lock(mutex);
  changed.wait(lock, [] { return finished; });
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  CloseConnection(handle);
  return polls / seconds;
}

double libmodbusRate(int port) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (modbus_connect(ctx) != 0) return 0;
  uint16_t regs[100];
  long count = 0;
  const auto start = Clock::now();
  while (Clock::now() - start < kRun) {
    if (modbus_read_registers(ctx, 0, 100, regs) != 100 || regs[99] != 99) break;
    ++count;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  modbus_close(ctx);
  modbus_free(ctx);
  return count / seconds;
}

}  // namespace

int main() {
  LoopbackServer server;
  const double theirs = libmodbusRate(server.port());
  const double ours = libraryRate(server.port());
  std::printf("modbuslib (PollMODBUS + callback + MODBUSResponse): %.0f polls/s\n", ours);
  std::printf("libmodbus (modbus_read_registers loop):             %.0f polls/s\n", theirs);
  std::printf("ratio modbuslib / libmodbus: %.2f\n", theirs > 0 ? ours / theirs : 0.0);
  return ours > 0 && theirs > 0 ? 0 : 1;
}
