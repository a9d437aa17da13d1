// The views of the program without windows: every scan document gets a poll
// clock and nothing to show; the mapped devices share one clock.
#pragma once

#include <map>
#include <memory>

#include "pointdb/DocTemplate.h"

class DeviceClock;
class DevicePoller;
class HeadlessLog;
class PollClock;

class HeadlessViewFactory : public IViewFactory {
 public:
  HeadlessViewFactory();
  ~HeadlessViewFactory() override;

  IScanView* CreateView(CPelmoranDoc& doc) override;
  void InitialUpdate(CPelmoranDoc& doc) override;
  void DestroyView(CPelmoranDoc& doc) override;

  PollClock* FindClock(const CPelmoranDoc& doc) const;
  // Every clock made from now on reports its scan's status changes there.
  void SetLog(HeadlessLog* log) { m_pLog = log; }
  // The devices polled by their register maps get one clock for them all,
  // in the window program too; it goes with the factory.
  void DriveDevices(DevicePoller& poller);

 private:
  std::map<const CPelmoranDoc*, std::unique_ptr<PollClock>> m_clocks;
  HeadlessLog* m_pLog = nullptr;
  std::unique_ptr<DeviceClock> m_deviceClock;
};
