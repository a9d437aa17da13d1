#include "ui/WidgetViewFactory.h"

#include <QLayout>
#include <QMdiArea>
#include <algorithm>

#include "pointdb/PelmoranDoc.h"
#include "ui/ChildFrame.h"
#include "ui/PelmoranView.h"
#include "ui/PollClock.h"

IScanView* WidgetViewFactory::CreateView(CPelmoranDoc& doc) {
  auto* frame = new CChildFrame(doc, m_docTemplate);
  m_area.addSubWindow(frame);
  // A new child window takes three quarters of the area, as child windows
  // of a multiple-document frame are made; the columns are cut from that.
  frame->resize(std::max(400, m_area.width() * 3 / 4), std::max(250, m_area.height() * 3 / 4));
  m_frames[&doc] = frame;
  frame->show();
  if (m_onFramesChanged) m_onFramesChanged();
  return &frame->View().Clock();
}

void WidgetViewFactory::InitialUpdate(CPelmoranDoc& doc) {
  if (CChildFrame* frame = FrameOf(doc)) {
    // The title is known only now for a document read from its file.
    frame->setWindowTitle(QString::fromStdString(doc.m_strTitle));
    if (frame->layout()) frame->layout()->activate();
    frame->View().OnInitialUpdate();
    if (m_onFramesChanged) m_onFramesChanged();
  }
}

void WidgetViewFactory::DestroyView(CPelmoranDoc& doc) {
  CChildFrame* frame = FrameOf(doc);
  if (!frame) return;
  m_frames.erase(&doc);
  frame->Retire();
  if (m_onFramesChanged) m_onFramesChanged();
}

CChildFrame* WidgetViewFactory::FrameOf(const CPelmoranDoc& doc) const {
  const auto it = m_frames.find(&doc);
  return it == m_frames.end() ? nullptr : it->second;
}

CPelmoranView* WidgetViewFactory::ViewOf(const CPelmoranDoc& doc) const {
  CChildFrame* frame = FrameOf(doc);
  return frame ? &frame->View() : nullptr;
}
