// The views of the program without windows: every scan document gets a poll
// clock and nothing to show.
#pragma once

#include <map>
#include <memory>

#include "pointdb/DocTemplate.h"

class CHeadlessLog;
class CPollClock;

class CHeadlessViewFactory : public IViewFactory {
 public:
  CHeadlessViewFactory();
  ~CHeadlessViewFactory() override;

  IScanView* CreateView(CPelmoranDoc& doc) override;
  void InitialUpdate(CPelmoranDoc& doc) override;
  void DestroyView(CPelmoranDoc& doc) override;

  CPollClock* FindClock(const CPelmoranDoc& doc) const;
  // Every clock made from now on reports its scan's status changes there.
  void SetLog(CHeadlessLog* log) { m_pLog = log; }

 private:
  std::map<const CPelmoranDoc*, std::unique_ptr<CPollClock>> m_clocks;
  CHeadlessLog* m_pLog = nullptr;
};
