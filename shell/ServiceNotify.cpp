#include "shell/ServiceNotify.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace {
constexpr uint64_t kMicrosecondsPerMs = 1000;
// Pinged twice per interval, as sd_watchdog_enabled(3) advises.
constexpr uint64_t kPingsPerInterval = 2;
}  // namespace

void ServiceNotify::Send(const char* state) { sd_notify(0, state); }

void ServiceNotify::Ready() {
  Send("READY=1");
  uint64_t intervalUs = 0;
  if (sd_watchdog_enabled(0, &intervalUs) <= 0) return;
  const auto periodMs = static_cast<int>(intervalUs / kMicrosecondsPerMs / kPingsPerInterval);
  connect(&m_watchdog, &QTimer::timeout, this, [] { Send("WATCHDOG=1"); });
  m_watchdog.start(periodMs > 0 ? periodMs : 1);
}

void ServiceNotify::Stopping() {
  m_watchdog.stop();
  Send("STOPPING=1");
}
