// Polls per second of 100 holding registers on serial lines made of
// pseudo-terminal pairs: the library's RTU master (ConnectRTU, PollMODBUS,
// callback, MODBUSResponse) beside libmodbus's own RTU master
// (modbus_read_registers loop), each against a libmodbus RTU slave on a line
// of its own; then the library's ASCII master against the benchmark's own
// ASCII slave. libmodbus sends each request as soon as the last answer is in,
// while the library keeps the RTU silence of 3.5 characters first, so each is
// also run the other way: libmodbus waiting out the same silence, and the
// library with its gap cut to 1 us through SetLineTiming. The masters take
// turns in rounds of a tenth of a second, so that the load other programs put
// on the machine touches all alike. A pseudo-terminal has no baud delay, so
// the time the same polls would take on a real line is printed as well.
#include <modbus.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "AsciiSlave.h"
#include "PtyPair.h"
#include "RtuSlave.h"
#include "WireTime.h"
#include "modbuslib/modbuslib.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 50;
constexpr auto kRound = std::chrono::milliseconds(100);
constexpr int kRegisters = 100;
constexpr RequestHeader kPoll{1, 3, 1, kRegisters};
constexpr int kLastValue = kRegisters - 1;  // register n holds n
constexpr int kBaudRate = 19200;
constexpr unsigned kBitsPerCharacter = 10;  // 8N1
constexpr int kTimeoutMs = 1000;
constexpr int kRtuPort = 1;
constexpr int kAsciiPort = 2;
constexpr int kNoGapPort = 3;
constexpr uint32_t kNoGapUs = 1;  // 0 would keep the standard silence

std::mutex mutex;
std::condition_variable changed;
bool roundOver = false;
long polls = 0;
Clock::time_point deadline;
uint16_t words[MBS_RESPONSE_CAPACITY];

struct Tally {
  long polls = 0;
  double seconds = 0;
  double rate() const { return seconds > 0 ? polls / seconds : 0; }
};

void onResponse(int handle, int, int) {
  RequestHeader header{};
  const int status = MODBUSResponse(handle, &header, words, MBS_RESPONSE_CAPACITY);
  if (status == MBS_OK && words[kLastValue] == kLastValue) ++polls;
  if (status != MBS_OK || Clock::now() >= deadline || PollMODBUS(handle, &kPoll) != MBS_OK) {
    std::lock_guard lock(mutex);
    roundOver = true;
    changed.notify_all();
  }
}

int connectLibrary(decltype(&ConnectRTU) connect, int comPort, const std::string& device) {
  setenv(("PELMORAN_COM" + std::to_string(comPort)).c_str(), device.c_str(), 1);
  SerialSettings settings{};
  settings.baudRate = kBaudRate;
  settings.wordLength = 8;
  settings.dtrControl = 1;
  const int handle = connect(comPort, kTimeoutMs, &settings);
  if (handle > 0) EnableModbusCallback(handle, &onResponse);
  return handle;
}

modbus_t* connectLibmodbus(const std::string& device) {
  modbus_t* ctx = modbus_new_rtu(device.c_str(), kBaudRate, 'N', 8, 1);
  if (ctx != nullptr && modbus_set_slave(ctx, bench::RtuSlave::kNode) == 0 &&
      modbus_connect(ctx) == 0) {
    return ctx;
  }
  if (ctx != nullptr) modbus_free(ctx);
  return nullptr;
}

void libraryRound(int handle, Tally& tally) {
  const long before = polls;
  const auto start = Clock::now();
  deadline = start + kRound;
  roundOver = false;
  if (PollMODBUS(handle, &kPoll) != MBS_OK) return;
  std::unique_lock lock(mutex);
  changed.wait(lock, [] { return roundOver; });
  tally.polls += polls - before;
  tally.seconds += std::chrono::duration<double>(Clock::now() - start).count();
}

void libmodbusRound(modbus_t* ctx, Clock::duration silence, Tally& tally) {
  uint16_t regs[kRegisters];
  const auto start = Clock::now();
  while (Clock::now() - start < kRound) {
    std::this_thread::sleep_for(silence);
    if (modbus_read_registers(ctx, 0, kRegisters, regs) != kRegisters ||
        regs[kLastValue] != kLastValue) {
      break;
    }
    ++tally.polls;
  }
  tally.seconds += std::chrono::duration<double>(Clock::now() - start).count();
}

Clock::duration silentInterval() {
  const double ms = bench::WireTime(kBaudRate, kBitsPerCharacter).silentIntervalMs();
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
}

double ratio(const Tally& ours, const Tally& reference) {
  return reference.rate() > 0 ? ours.rate() / reference.rate() : 0.0;
}

void printWireTime() {
  const bench::WireTime wire(kBaudRate, kBitsPerCharacter);
  const double rtu = wire.rtuReadMs(kRegisters);
  const double ascii = wire.asciiReadMs(kRegisters);
  std::printf(
      "on a real line at %d baud 8N1 one poll would take: RTU %.1f ms (at most %.1f polls/s,"
      " %.2f ms of it the silent interval), ASCII %.1f ms (at most %.1f polls/s)\n",
      kBaudRate, rtu, bench::WireTime::pollsPerSecond(rtu), wire.silentIntervalMs(), ascii,
      bench::WireTime::pollsPerSecond(ascii));
}

struct Tallies {
  Tally library;
  Tally libraryNoGap;
  Tally libmodbus;
  Tally libmodbusSilent;
  Tally ascii;
};

void reportRtu(const Tallies& t) {
  std::printf("modbuslib RTU (ConnectRTU, PollMODBUS + callback):       %.0f polls/s\n",
              t.library.rate());
  std::printf("libmodbus RTU, silent 3.5 characters before each request: %.0f polls/s\n",
              t.libmodbusSilent.rate());
  std::printf("ratio modbuslib RTU / libmodbus RTU, both keeping the silence: %.2f\n",
              ratio(t.library, t.libmodbusSilent));
  std::printf("modbuslib RTU, gap 1 us (SetLineTiming):                  %.0f polls/s\n",
              t.libraryNoGap.rate());
  std::printf("libmodbus RTU (modbus_read_registers loop, no silence):   %.0f polls/s\n",
              t.libmodbus.rate());
  std::printf("ratio modbuslib RTU / libmodbus RTU, neither keeping it:  %.2f\n",
              ratio(t.libraryNoGap, t.libmodbus));
  std::printf("ratio modbuslib RTU with the silence / libmodbus without: %.2f\n",
              ratio(t.library, t.libmodbus));
}

void report(const Tallies& t) {
  std::printf(
      "pseudo-terminal pairs (no baud delay), %d baud 8N1 settings, %d holding registers"
      " per poll\n",
      kBaudRate, kRegisters);
  reportRtu(t);
  std::printf("modbuslib ASCII (ConnectASCII, the bench's ASCII slave):  %.0f polls/s\n",
              t.ascii.rate());
  std::printf(
      "ratio modbuslib ASCII / libmodbus RTU: %.2f (libmodbus has no ASCII master: the"
      " reference is its RTU loop above)\n",
      ratio(t.ascii, t.libmodbus));
  printWireTime();
}

int run() {
  bench::PtyPair rtuLine;
  bench::PtyPair referenceLine;
  bench::PtyPair asciiLine;
  bench::PtyPair noGapLine;
  bench::RtuSlave rtuSlave(rtuLine.second(), kBaudRate);
  bench::RtuSlave referenceSlave(referenceLine.second(), kBaudRate);
  bench::AsciiSlave asciiSlave(asciiLine.second());
  bench::RtuSlave noGapSlave(noGapLine.second(), kBaudRate);
  const int rtu = connectLibrary(&ConnectRTU, kRtuPort, rtuLine.first());
  const int ascii = connectLibrary(&ConnectASCII, kAsciiPort, asciiLine.first());
  const int noGap = connectLibrary(&ConnectRTU, kNoGapPort, noGapLine.first());
  modbus_t* ctx = connectLibmodbus(referenceLine.first());
  if (rtu < 0 || ascii < 0 || noGap < 0 || ctx == nullptr ||
      SetLineTiming(noGap, kNoGapUs, kNoGapUs) != MBS_OK) {
    std::fprintf(stderr, "cannot open the pseudo-terminals\n");
    return 1;
  }
  Tallies tallies;
  for (int round = 0; round < kRounds; ++round) {
    libmodbusRound(ctx, Clock::duration::zero(), tallies.libmodbus);
    libmodbusRound(ctx, silentInterval(), tallies.libmodbusSilent);
    libraryRound(rtu, tallies.library);
    libraryRound(noGap, tallies.libraryNoGap);
    libraryRound(ascii, tallies.ascii);
  }
  modbus_close(ctx);
  modbus_free(ctx);
  CloseConnection(rtu);
  CloseConnection(ascii);
  CloseConnection(noGap);
  report(tallies);
  return tallies.library.rate() > 0 && tallies.ascii.rate() > 0 ? 0 : 1;
}

}  // namespace

int main() {
  try {
    return run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "serial_bench: %s\n", e.what());
    return 1;
  }
}
