#include "shell/DeviceClock.h"

#include <algorithm>

#include "runtime/DevicePoller.h"

DeviceClock::DeviceClock(DevicePoller& poller, QObject* parent)
    : QObject(parent), m_poller(poller) {
  m_timer.setSingleShot(true);
  // Poll classes of 100 ms and less keep their period within a millisecond.
  m_timer.setTimerType(Qt::PreciseTimer);
  connect(&m_timer, &QTimer::timeout, this, &DeviceClock::Run);
  m_poller.SetWake([this] { m_timer.start(0); });
  m_timer.start(0);
}

DeviceClock::~DeviceClock() { m_poller.SetWake(nullptr); }

void DeviceClock::Run() {
  const int64_t now = DevicePoller::SteadyNowMs();
  const int64_t next = m_poller.Run(now);
  if (next == DevicePoller::kIdle) return;
  m_timer.start(static_cast<int>(std::clamp<int64_t>(next - now, 0, INT32_MAX)));
}
