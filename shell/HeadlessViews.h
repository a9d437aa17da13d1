// The views of the program without windows: every scan document gets a poll
// clock and nothing to show.
#pragma once

#include <map>
#include <memory>

#include "pointdb/DocTemplate.h"

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

 private:
  std::map<const CPelmoranDoc*, std::unique_ptr<PollClock>> m_clocks;
  HeadlessLog* m_pLog = nullptr;
};
