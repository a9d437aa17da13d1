#include "shell/HeadlessViews.h"

#include "shell/HeadlessLog.h"
#include "ui/PollClock.h"

CHeadlessViewFactory::CHeadlessViewFactory() = default;

CHeadlessViewFactory::~CHeadlessViewFactory() = default;

IScanView* CHeadlessViewFactory::CreateView(CPelmoranDoc& doc) {
  auto& clock = m_clocks[&doc];
  clock = std::make_unique<CPollClock>(doc);
  if (m_pLog != nullptr) m_pLog->Watch(*clock);
  return clock.get();
}

void CHeadlessViewFactory::InitialUpdate(CPelmoranDoc&) {}

void CHeadlessViewFactory::DestroyView(CPelmoranDoc& doc) {
  if (m_pLog != nullptr) m_pLog->Forget(doc);
  m_clocks.erase(&doc);
}

CPollClock* CHeadlessViewFactory::FindClock(const CPelmoranDoc& doc) const {
  auto it = m_clocks.find(&doc);
  return it == m_clocks.end() ? nullptr : it->second.get();
}
