// Views of the window program: every scan document gets its own poll clock,
// which polls whether or not the scan is shown, and a child window of the
// main window's multiple-document area holding its tag list view. Closing
// the window closes the view only; the scan can be shown again.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "pointdb/DocTemplate.h"

class CChildFrame;
class CPelmoranView;
class PollClock;
class QMdiArea;

class WidgetViewFactory : public IViewFactory {
 public:
  WidgetViewFactory(QMdiArea& area);
  ~WidgetViewFactory() override;

  IScanView* CreateView(CPelmoranDoc& doc) override;
  void InitialUpdate(CPelmoranDoc& doc) override;
  void DestroyView(CPelmoranDoc& doc) override;

  // Shows the scan's window again, or brings it forward when it is shown.
  void OpenView(CPelmoranDoc& doc);
  // The window goes; the scan goes on polling.
  void CloseView(CPelmoranDoc& doc);

  // The child window of a document, or null (none, or its view closed).
  CChildFrame* FrameOf(const CPelmoranDoc& doc) const;
  CPelmoranView* ViewOf(const CPelmoranDoc& doc) const;
  PollClock* ClockOf(const CPelmoranDoc& doc) const;
  int FrameCount() const { return static_cast<int>(m_frames.size()); }
  // The open scans' child windows, in the order they were made.
  std::vector<CChildFrame*> Frames() const;

  // Told after a child window came or went.
  std::function<void()> m_onFramesChanged;
  // Told when the operator changed a scan.
  std::function<void()> m_onChangedByOperator;
  // Told when the operator asked to delete a scan from its window.
  std::function<void(CPelmoranDoc&)> m_onDeleteRequested;
  // Gives a new child window its remembered place; false when it has none.
  std::function<bool(CChildFrame&)> m_restorePlace;

  // A child window without a remembered place: big enough for every column,
  // each next one a title bar lower and to the right, starting over at the
  // top left when the next would leave the area.
  void Cascade(CChildFrame& frame);
  // Every child window cascaded anew from the top left.
  void CascadeAll();
  // Every child window in a grid over the area as it is: unlike the
  // toolkit's tiling, it never grows the main window to fit many windows.
  void TileAll();

 private:
  CChildFrame& MakeFrame(CPelmoranDoc& doc);
  void ShowRows(CChildFrame& frame);

  QMdiArea& m_area;
  std::map<const CPelmoranDoc*, std::unique_ptr<PollClock>> m_clocks;
  std::map<const CPelmoranDoc*, CChildFrame*> m_frames;
  int m_nCascaded = 0;
};
