#include "ui/ChildFrame.h"

#include <QCloseEvent>
#include <QMenu>

#include "pointdb/PelmoranDoc.h"
#include "ui/PelmoranView.h"

CChildFrame::CChildFrame(CPelmoranDoc& doc, PollClock& clock, QWidget* parent)
    : QMdiSubWindow(parent), m_doc(doc), m_pView(new CPelmoranView(doc, clock, this)) {
  setWidget(m_pView);
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(QString::fromStdString(doc.m_strTitle));
  connect(m_pView, &CPelmoranView::definitionChanged, this, &CChildFrame::changedByOperator);
  // Every child's menu would claim the main window's closing and cycling
  // keys: claimed twice, they would do nothing.
  for (QAction* action : systemMenu()->actions()) action->setShortcuts({});
}

void CChildFrame::Retire() {
  m_bRetired = true;
  m_pView->Detach();
  hide();
  deleteLater();
}

void CChildFrame::closeEvent(QCloseEvent* event) {
  // The view factory retires the window; the scan itself is deleted only by
  // the explicit Delete command, which asks first.
  event->ignore();
  if (m_bRetired) return;
  emit closedByOperator();
}
