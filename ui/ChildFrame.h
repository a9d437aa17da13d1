// The child window of one scan document: it holds the scan's tag list view
// and shows the document's title. Closing it closes the document.
#pragma once

#include <QMdiSubWindow>

class DocTemplate;
class CPelmoranDoc;
class CPelmoranView;

class CChildFrame : public QMdiSubWindow {
  Q_OBJECT
 public:
  // Closing the window closes the document through docTemplate.
  CChildFrame(CPelmoranDoc& doc, DocTemplate& docTemplate, QWidget* parent = nullptr);

  CPelmoranView& View() const { return *m_pView; }
  CPelmoranDoc& GetDocument() const { return m_doc; }
  // The document is closed: the window goes without asking anything.
  void Retire();
  // Its document is gone; the window only waits to be deleted.
  bool IsRetired() const { return m_bRetired; }

 signals:
  // The operator changed the scan's definition or tags, or closed it: the
  // configuration differs from its file.
  void changedByOperator();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CPelmoranDoc& m_doc;
  DocTemplate& m_docTemplate;
  CPelmoranView* m_pView;
  bool m_bRetired = false;
};
