// What planned reads are worth: a 300-tag register map with gaps over holding
// registers, input registers and coils, polled through the runtime's device
// poller and the Modbus library from a pymodbus slave on Modbus/TCP, once with
// the reads the planner merges and once with one request a tag. It prints the
// requests of one poll and the polls per second of each, and their ratios; and
// the planner's request count beside the fewest any plan can have under the
// same limits, found by an exact search over the sorted tags.
//
// Usage: map_plan_bench
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "ChildProcess.h"
#include "link/ModbusBinding.h"
#include "modbuslib/modbuslib.h"
#include "pointdb/DataTypeInfo.h"
#include "pointdb/ReadPlanner.h"
#include "runtime/Runtime.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kHolding = 150, kInputs = 100, kCoils = 50;
constexpr int kSlaveSize = 4000;
// Most rows follow closely; one in eight starts a new block further on.
constexpr int kSmallGaps = 4, kBlockEvery = 8, kBlockGapFrom = 11, kBlockGaps = 30;
constexpr auto kWarmUp = std::chrono::seconds(1);
constexpr auto kMeasure = std::chrono::seconds(4);
constexpr auto kStartTimeout = std::chrono::seconds(10);
const DataType kTypes[] = {DataType::Unsigned, DataType::FloatHighWordFirst, DataType::UInt32CDAB,
                           DataType::Int64ABCD, DataType::Integer};

// The main thread's loop: what the library's threads post, run in order.
class MainLoop {
 public:
  void post(std::function<void()> fn) {
    {
      std::lock_guard lock(m_mutex);
      m_posted.push_back(std::move(fn));
    }
    m_ready.notify_one();
  }
  // Runs posted calls and the poller until the deadline.
  void run(DevicePoller& poller, Clock::time_point until) {
    while (Clock::now() < until) {
      const int64_t next = poller.Run(DevicePoller::SteadyNowMs());
      std::unique_lock lock(m_mutex);
      const auto due = next == DevicePoller::kIdle
                           ? until
                           : std::min(until, Clock::time_point(std::chrono::milliseconds(next)));
      m_ready.wait_until(lock, due, [&] { return !m_posted.empty() || m_woken; });
      m_woken = false;
      std::deque<std::function<void()>> work;
      work.swap(m_posted);
      lock.unlock();
      for (auto& fn : work) fn();
    }
  }
  void wake() {
    std::lock_guard lock(m_mutex);
    m_woken = true;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<std::function<void()>> m_posted;
  bool m_woken = false;
};

MainLoop* g_loop = nullptr;
Runtime* g_runtime = nullptr;

void onConnection(int event, int handle) {
  g_loop->post([event, handle] { g_runtime->m_endpoints.OnConnectionEvent(event, handle); });
}

void installLibrary() {
  ModbusBinding& m = Modbus();
  m.ConnectTCP2 = &::ConnectTCP2;
  m.ConnectTCPHost = &::ConnectTCPHost;
  m.EnableConnectionCallback = &::EnableConnectionCallback;
  m.EnableModbusCallback = &::EnableModbusCallback;
  m.PollMODBUS = &::PollMODBUS;
  m.WriteMODBUS = &::WriteMODBUS;
  m.MODBUSResponse = &::MODBUSResponse;
  m.MODBUSResponseTime = &::MODBUSResponseTime;
  m.CloseConnection = &::CloseConnection;
  m.SetRequestPause = &::SetRequestPause;
  m.SetRequestRetries = &::SetRequestRetries;
  m.EnableConnectionCallback(onConnection);
}

// The same map every run: tags of mixed widths, mostly 0 to 3 registers apart,
// in blocks 11 to 40 registers apart.
DeviceMap benchMap() {
  DeviceMap map;
  map.endpoint = "METER";
  map.slave = 1;
  map.deviceName = "PowerMeter";
  map.limits.defaultPollMs = 1;  // every pass starts as soon as the last one ends
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  const std::tuple<PointType, int> tables[] = {{PointType::HoldingRegister, kHolding},
                                               {PointType::InputRegister, kInputs},
                                               {PointType::Coil, kCoils}};
  for (const auto& [table, count] : tables) {
    int offset = 0;
    for (int i = 0; i < count; ++i) {
      MapTag tag;
      tag.table = table;
      tag.type = IsBitPointType(table) ? DataType::Bit : kTypes[next(std::size(kTypes))];
      tag.offset = static_cast<uint16_t>(offset);
      tag.name = "T" + std::to_string(map.tags.size());
      map.tags.push_back(tag);
      const bool block = next(kBlockEvery) == 0;
      offset += MapTagWidth(tag) + static_cast<int>(block ? kBlockGapFrom + next(kBlockGaps)
                                                          : next(kSmallGaps));
    }
  }
  return map;
}

// The fewest reads any plan can have: within one table and poll class, a read
// takes a run of the tags sorted by address (whatever lies between is read
// anyway), so the best cut of each run is found by dynamic programming over
// where the last read begins.
size_t fewestReads(const DeviceMap& map) {
  std::map<std::pair<int32_t, PointType>, std::vector<std::pair<int, int>>> groups;
  for (const MapTag& tag : map.tags) {
    const int32_t poll = tag.pollClassMs > 0 ? tag.pollClassMs : map.limits.defaultPollMs;
    groups[{poll, tag.table}].push_back({tag.offset, tag.offset + MapTagWidth(tag)});
  }
  size_t total = 0;
  for (auto& [key, spans] : groups) {
    std::sort(spans.begin(), spans.end());
    const int most = IsBitPointType(key.second) ? map.limits.maxBits : map.limits.maxRegisters;
    const size_t n = spans.size();
    std::vector<size_t> best(n + 1, SIZE_MAX);
    best[0] = 0;
    for (size_t end = 1; end <= n; ++end) {
      // Tags first..end-1 as one read, first going down while it still fits.
      int reach = spans[end - 1].second;
      for (size_t first = end; first-- > 0;) {
        reach = std::max(reach, spans[first].second);
        if (reach - spans[first].first > most) break;
        if (first + 1 < end) {
          int covered = spans[first].second;
          bool gapsFit = true;
          for (size_t k = first + 1; k < end && gapsFit; ++k) {
            gapsFit = spans[k].first - covered <= map.limits.maxGap;
            covered = std::max(covered, spans[k].second);
          }
          if (!gapsFit) continue;
        }
        if (best[first] != SIZE_MAX) best[end] = std::min(best[end], best[first] + 1);
      }
    }
    total += best[n];
  }
  return total;
}

struct Rate {
  size_t requestsPerPoll;
  double pollsPerSecond;
};

Rate measure(MainLoop& loop, Runtime& runtime, const DeviceMap& map) {
  runtime.m_deviceMaps.Put(map);
  const MapDevice* device = runtime.m_devicePoller.Find(map.endpoint, map.slave);
  loop.run(runtime.m_devicePoller, Clock::now() + kWarmUp);
  const int64_t before = device->PollsDone();
  const auto start = Clock::now();
  loop.run(runtime.m_devicePoller, start + kMeasure);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (device->Counters().lastError != 0)
    std::fprintf(stderr, "the device answered with status %d\n", device->Counters().lastError);
  return {device->Plan().reads.size(), (device->PollsDone() - before) / seconds};
}

int startSlave(bench::ChildProcess& slave) {
  for (int i = 0; i < 100; ++i) {
    auto line = slave.readErrorLine(std::chrono::milliseconds(100));
    if (line && line->rfind("ready ", 0) == 0) return std::stoi(line->substr(6));
  }
  throw std::runtime_error("the pymodbus slave did not start");
}

}  // namespace

int main() {
  bench::ChildProcess slave({"/usr/bin/python3", MODBUS_SLAVE_SCRIPT, "--mode", "tcp",
                             "--no-commands", "--size", std::to_string(kSlaveSize)},
                            {}, "");
  const int port = startSlave(slave);
  MainLoop loop;
  Runtime runtime;
  g_loop = &loop;
  g_runtime = &runtime;
  installLibrary();
  runtime.m_endpoints.ListenForAnswers([&loop](std::function<void()> fn) { loop.post(fn); });
  runtime.m_devicePoller.SetWake([&loop] { loop.wake(); });
  EndpointChoice choice = runtime.m_endpoints.ProposeEndpoint();
  choice.strName = "METER";
  choice.strIpAddress = "127.0.0.1";
  choice.nTcpPort = port;
  runtime.m_endpoints.AddEndpoint(choice);
  const auto deadline = Clock::now() + kStartTimeout;
  while (!runtime.m_endpoints.IsEndpointConnected("METER") && Clock::now() < deadline)
    loop.run(runtime.m_devicePoller, Clock::now() + std::chrono::milliseconds(50));
  if (!runtime.m_endpoints.IsEndpointConnected("METER")) {
    std::fprintf(stderr, "the slave on port %d could not be reached\n", port);
    return 1;
  }

  const DeviceMap planned = benchMap();
  DeviceMap perTag = planned;
  perTag.limits.maxRegisters = 1;  // a read never takes a second tag
  perTag.limits.maxBits = 1;
  const Rate merged = measure(loop, runtime, planned);
  const Rate single = measure(loop, runtime, perTag);
  const size_t fewest = fewestReads(planned);

  std::printf("Register map of %zu tags (%d holding, %d input registers, %d coils), gaps of "
              "0-%d and blocks %d-%d apart, on a pymodbus slave over Modbus/TCP\n",
              planned.tags.size(), kHolding, kInputs, kCoils, kSmallGaps - 1, kBlockGapFrom,
              kBlockGapFrom + kBlockGaps - 1);
  std::printf("  limits: %d registers, %d bits a read, gaps up to %d\n",
              planned.limits.maxRegisters, planned.limits.maxBits, planned.limits.maxGap);
  std::printf("%-22s %18s %12s\n", "", "requests per poll", "polls/s");
  std::printf("%-22s %18zu %12.2f\n", "planned reads", merged.requestsPerPoll,
              merged.pollsPerSecond);
  std::printf("%-22s %18zu %12.2f\n", "one request a tag", single.requestsPerPoll,
              single.pollsPerSecond);
  std::printf("ratio (planned : per tag): requests %.3f, polls/s %.2f\n",
              static_cast<double>(merged.requestsPerPoll) / single.requestsPerPoll,
              merged.pollsPerSecond / single.pollsPerSecond);
  std::printf("fewest requests possible under the same limits: %zu (planned %zu)\n", fewest,
              merged.requestsPerPoll);
  runtime.m_devicePoller.SetWake(nullptr);
  runtime.m_endpoints.StopListening();
  return merged.requestsPerPoll == fewest ? 0 : 2;
}
