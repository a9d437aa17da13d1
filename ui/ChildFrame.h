// The child window of one scan document: it holds the scan's tag list view
// and shows the document's title. Closing it closes the view only: the scan
// goes on polling and can be shown again.
#pragma once

#include <QMdiSubWindow>

class CPelmoranDoc;
class CPelmoranView;
class PollClock;

class CChildFrame : public QMdiSubWindow {
  Q_OBJECT
 public:
  // The view shows the document's rows on the scan's own poll clock.
  CChildFrame(CPelmoranDoc& doc, PollClock& clock, QWidget* parent = nullptr);

  CPelmoranView& View() const { return *m_pView; }
  CPelmoranDoc& GetDocument() const { return m_doc; }
  // The view is closed or its document gone: the window goes without asking.
  void Retire();
  // The window only waits to be deleted.
  bool IsRetired() const { return m_bRetired; }

 signals:
  // The operator changed the scan's definition or tags: the configuration
  // differs from its file.
  void changedByOperator();
  // The operator closed the window (close box, Ctrl+W, Ctrl+F4).
  void closedByOperator();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CPelmoranDoc& m_doc;
  CPelmoranView* m_pView;
  bool m_bRetired = false;
};
