// The timing a serial line keeps between frames, as the slave sees it: the
// inter-frame gap before every request and the turnaround after a broadcast.
// Only lower bounds are checked: a loaded machine can make a pause longer,
// never shorter.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "CallbackRecorder.h"
#include "ScriptedSlave.h"

using namespace std::chrono_literals;
using Bytes = ScriptedSlave::Bytes;
using Clock = std::chrono::steady_clock;

TEST(LineTiming, GapAndTurnaroundSetPerLineHoldOnTheWire) {
  struct Case {
    const char* what;
    uint32_t gapUs, turnaroundUs;
    RequestHeader first;
    std::chrono::milliseconds atLeast;  // from the first request's start to the second's arrival
  };
  const Case cases[] = {
      {"gap after an answer", 60000, 0, RequestHeader{1, 3, 1, 1}, 60ms},
      {"turnaround after a broadcast", 0, 90000, RequestHeader{0, 6, 1, 1}, 90ms},
  };
  for (const Case& c : cases) {
    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;
    ScriptedSlave slave([&](const Bytes& request) -> Bytes {
      std::lock_guard lock(mutex);
      arrivals.push_back(Clock::now());
      if (request[0] == 0) return {};
      return ScriptedSlave::rtu({request[0], 3, 2, 0, 7});
    });
    const SerialSettings settings = serialSettings8N1(115200);
    const int handle = ConnectRTU(slave.comPort(), 1000, &settings);
    ASSERT_NE(handle, -1);
    EnableModbusCallback(handle, &CallbackRecorder::onResponse);
    ASSERT_EQ(SetLineTiming(handle, c.gapUs, c.turnaroundUs), MBS_OK);
    std::vector<uint16_t> words{5};
    // Before the first frame goes out, so before the pause it sets off begins.
    const auto start = Clock::now();
    ASSERT_EQ(CallbackRecorder::exchange(handle, c.first, words), MBS_OK) << c.what;
    ASSERT_EQ(CallbackRecorder::exchange(handle, RequestHeader{1, 3, 1, 1}, words), MBS_OK)
        << c.what;
    std::lock_guard lock(mutex);
    ASSERT_EQ(arrivals.size(), 2u) << c.what;
    EXPECT_GE(arrivals[1] - start, c.atLeast) << c.what;
    CloseConnection(handle);
  }
}

TEST(LineTiming, RefusedForModbusTcpAndUnknownHandles) {
  EXPECT_EQ(SetLineTiming(-1, 1000, 1000), MBS_INVALID_HANDLE);
  TcpOptions options{};
  options.timeoutMs = 100;
  const int tcp = ConnectTCP2(0x0100007F, 9, &options);  // 127.0.0.1, nothing listens
  ASSERT_NE(tcp, -1);
  EXPECT_EQ(SetLineTiming(tcp, 1000, 1000), MBS_INVALID_PROTOCOL);
  ModbusCounters counters{};
  EXPECT_EQ(GetModbusCounters(tcp, &counters), MBS_OK);
  EXPECT_EQ(counters.requests, 0u);
  CloseConnection(tcp);
  EXPECT_EQ(GetModbusCounters(tcp, &counters), MBS_INVALID_HANDLE);
}
