// Views of the window program: each scan document gets a child window of the
// main window's multiple-document area, holding its tag list view.
#pragma once

#include <functional>
#include <map>

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

  // Told after a child window came or went.
  std::function<void()> m_onFramesChanged;

 private:
  QMdiArea& m_area;
  DocTemplate& m_docTemplate;
  std::map<const CPelmoranDoc*, CChildFrame*> m_frames;
};
