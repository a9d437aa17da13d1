#include "tagserver/UaTypes.h"

#include <chrono>

namespace tagserver {

int64_t UaNow() {
  // Seconds from 1601-01-01 to the Unix epoch.
  constexpr int64_t kEpochDelta = 11644473600LL;
  auto since = std::chrono::system_clock::now().time_since_epoch();
  auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
  return ticks + kEpochDelta * 10000000LL;
}

int64_t SteadyMs() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

}  // namespace tagserver
