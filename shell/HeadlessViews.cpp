#include "shell/HeadlessViews.h"

#include "shell/DeviceClock.h"
#include "shell/HeadlessLog.h"
#include "ui/PollClock.h"

HeadlessViewFactory::HeadlessViewFactory() = default;

HeadlessViewFactory::~HeadlessViewFactory() = default;

IScanView* HeadlessViewFactory::CreateView(CPelmoranDoc& doc) {
  auto& clock = m_clocks[&doc];
  clock = std::make_unique<PollClock>(doc);
  if (m_pLog != nullptr) m_pLog->Watch(*clock);
  return clock.get();
}

void HeadlessViewFactory::InitialUpdate(CPelmoranDoc&) {}

void HeadlessViewFactory::DestroyView(CPelmoranDoc& doc) {
  if (m_pLog != nullptr) m_pLog->Forget(doc);
  m_clocks.erase(&doc);
}

PollClock* HeadlessViewFactory::FindClock(const CPelmoranDoc& doc) const {
  auto it = m_clocks.find(&doc);
  return it == m_clocks.end() ? nullptr : it->second.get();
}

void HeadlessViewFactory::DriveDevices(DevicePoller& poller) {
  m_deviceClock = std::make_unique<DeviceClock>(poller);
}
