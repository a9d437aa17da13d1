#include "ui/WidgetViewFactory.h"

#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "pointdb/PelmoranDoc.h"
#include "ui/ChildFrame.h"
#include "ui/PelmoranView.h"
#include "ui/PollClock.h"
#include "ui/WindowLayout.h"

WidgetViewFactory::WidgetViewFactory(QMdiArea& area) : m_area(area) {}

WidgetViewFactory::~WidgetViewFactory() = default;

IScanView* WidgetViewFactory::CreateView(CPelmoranDoc& doc) {
  auto& clock = m_clocks[&doc];
  clock = std::make_unique<PollClock>(doc);
  MakeFrame(doc);
  return clock.get();
}

CChildFrame& WidgetViewFactory::MakeFrame(CPelmoranDoc& doc) {
  auto* frame = new CChildFrame(doc, *m_clocks.at(&doc));
  m_area.addSubWindow(frame);
  // The program's own icon, not the toolkit's.
  frame->setWindowIcon(m_area.window()->windowIcon());
  QObject::connect(frame, &CChildFrame::changedByOperator, [this] {
    if (m_onChangedByOperator) m_onChangedByOperator();
  });
  QObject::connect(frame, &CChildFrame::closedByOperator, [this, &doc] { CloseView(doc); });
  QObject::connect(&frame->View(), &CPelmoranView::deleteRequested, [this, &doc] {
    if (m_onDeleteRequested) m_onDeleteRequested(doc);
  });
  m_frames[&doc] = frame;
  frame->show();
  if (m_onFramesChanged) m_onFramesChanged();
  return *frame;
}

void WidgetViewFactory::InitialUpdate(CPelmoranDoc& doc) {
  if (CChildFrame* frame = FrameOf(doc)) ShowRows(*frame);
}

void WidgetViewFactory::ShowRows(CChildFrame& frame) {
  // The title is known only now for a document read from its file.
  frame.setWindowTitle(QString::fromStdString(frame.GetDocument().m_strTitle));
  if (frame.layout()) frame.layout()->activate();
  frame.View().OnInitialUpdate();
  if (!m_restorePlace || !m_restorePlace(frame)) Cascade(frame);
  if (m_onFramesChanged) m_onFramesChanged();
}

void WidgetViewFactory::OpenView(CPelmoranDoc& doc) {
  if (!m_clocks.count(&doc)) return;
  CChildFrame* frame = FrameOf(doc);
  if (!frame) {
    frame = &MakeFrame(doc);
    ShowRows(*frame);
  }
  m_area.setActiveSubWindow(frame);
}

void WidgetViewFactory::CloseView(CPelmoranDoc& doc) {
  CChildFrame* frame = FrameOf(doc);
  if (!frame) return;
  m_frames.erase(&doc);
  const bool active = m_area.currentSubWindow() == frame;
  frame->Retire();
  // The operator goes on with the next scan, as after any closed window.
  if (active) m_area.activateNextSubWindow();
  if (m_onFramesChanged) m_onFramesChanged();
}

void WidgetViewFactory::DestroyView(CPelmoranDoc& doc) {
  CloseView(doc);
  m_clocks.erase(&doc);
}

PollClock* WidgetViewFactory::ClockOf(const CPelmoranDoc& doc) const {
  const auto it = m_clocks.find(&doc);
  return it == m_clocks.end() ? nullptr : it->second.get();
}

CChildFrame* WidgetViewFactory::FrameOf(const CPelmoranDoc& doc) const {
  const auto it = m_frames.find(&doc);
  return it == m_frames.end() ? nullptr : it->second;
}

CPelmoranView* WidgetViewFactory::ViewOf(const CPelmoranDoc& doc) const {
  CChildFrame* frame = FrameOf(doc);
  return frame ? &frame->View() : nullptr;
}

std::vector<CChildFrame*> WidgetViewFactory::Frames() const {
  std::vector<CChildFrame*> frames;
  for (QMdiSubWindow* window : m_area.subWindowList(QMdiArea::CreationOrder))
    if (auto* frame = qobject_cast<CChildFrame*>(window); frame && !frame->IsRetired())
      frames.push_back(frame);
  return frames;
}

void WidgetViewFactory::Cascade(CChildFrame& frame) {
  const QRect area = m_area.viewport()->rect();
  const QSize chrome = frame.size() - frame.widget()->size();
  const QSize size = (frame.View().PreferredSize() + chrome).boundedTo(area.size());
  const int step = frame.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &frame) + 4;
  const int fitting = std::max(1, (area.height() - size.height()) / step + 1);
  const int place = m_nCascaded++ % fitting;
  frame.setGeometry(WindowLayout::PlaceInView(QRect(QPoint(place, place) * step, size), area));
}

void WidgetViewFactory::TileAll() {
  const std::vector<CChildFrame*> frames = Frames();
  if (frames.empty()) return;
  const QRect area = m_area.viewport()->rect();
  const int count = static_cast<int>(frames.size());
  const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
  const int rows = (count + columns - 1) / columns;
  for (int i = 0; i < count; ++i) {
    const int column = i % columns, row = i / columns;
    const QPoint topLeft(area.width() * column / columns, area.height() * row / rows);
    const QPoint next(area.width() * (column + 1) / columns, area.height() * (row + 1) / rows);
    frames[i]->showNormal();
    // A tile smaller than a window's least size overlaps its neighbour;
    // the area never grows, nor the main window with it.
    frames[i]->setGeometry(QRect(topLeft, next - QPoint(1, 1)));
  }
}

void WidgetViewFactory::CascadeAll() {
  m_nCascaded = 0;
  for (CChildFrame* frame : Frames()) {
    frame->showNormal();
    Cascade(*frame);
    frame->raise();
  }
}
