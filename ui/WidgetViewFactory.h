// Views of the window program: each scan document gets a child window of the
// main window's multiple-document area, holding its tag list view.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "pointdb/DocTemplate.h"

class CChildFrame;
class CPelmoranView;
class QMdiArea;

class WidgetViewFactory : public IViewFactory {
 public:
  WidgetViewFactory(QMdiArea& area, DocTemplate& docTemplate)
      : m_area(area), m_docTemplate(docTemplate) {}

  IScanView* CreateView(CPelmoranDoc& doc) override;
  void InitialUpdate(CPelmoranDoc& doc) override;
  void DestroyView(CPelmoranDoc& doc) override;

  // The child window of a document, or null.
  CChildFrame* FrameOf(const CPelmoranDoc& doc) const;
  CPelmoranView* ViewOf(const CPelmoranDoc& doc) const;
  int FrameCount() const { return static_cast<int>(m_frames.size()); }
  // The open scans' child windows, in the order they were made.
  std::vector<CChildFrame*> Frames() const;

  // Told after a child window came or went.
  std::function<void()> m_onFramesChanged;
  // Told when the operator changed or closed a scan.
  std::function<void()> m_onChangedByOperator;
  // Gives a new child window its remembered place; false when it has none.
  std::function<bool(CChildFrame&)> m_restorePlace;

  // A child window without a remembered place: big enough for every column,
  // each next one a title bar lower and to the right, starting over at the
  // top left when the next would leave the area.
  void Cascade(CChildFrame& frame);
  // Every child window cascaded anew from the top left.
  void CascadeAll();

 private:
  QMdiArea& m_area;
  DocTemplate& m_docTemplate;
  std::map<const CPelmoranDoc*, CChildFrame*> m_frames;
  int m_nCascaded = 0;
};
