// The tag list of one scan: one row per tag with its name, current value,
// data type and limits. It is built on the scan's poll clock, refreshes its
// rows after every poll, and carries the commands on one scan.
#pragma once

#include <QTreeView>
#include <memory>
#include <vector>

#include "ui/TagPrinter.h"

class CPelmoranDoc;
class PollClock;
class TagListModel;
class QPrinter;

class CPelmoranView : public QTreeView {
  Q_OBJECT
 public:
  // The clock is the scan's own: it outlives the view and polls without it.
  CPelmoranView(CPelmoranDoc& doc, PollClock& clock, QWidget* parent = nullptr);
  ~CPelmoranView() override;

  CPelmoranDoc& GetDocument() const { return m_doc; }
  // What the document knows of its view: the poll clock.
  PollClock& Clock() const { return *m_pClock; }

  // One row per tag, each column as wide as the widest text it can show.
  void OnInitialUpdate();
  // The size that shows every column and a screenful of rows.
  QSize PreferredSize() const;
  void RefreshTagValues();
  // The view or its document is going: no row reads the document any more.
  void Detach();
  // The view has gone; its window only waits to be deleted.
  bool IsDetached() const { return m_pClock == nullptr; }

  // Commands on the scan.
  void OnScanDefinition();
  void OnDebugData();
  void OnFilePrint();
  void OnFilePrintDirect();
  // Double-click at a point of the list's viewport.
  void OnDblclk(const QPoint& pos);
  // The data type and limits of one tag, in the data type dialog.
  void EditTag(int row);
  // Of several at once: the dialog starts from the first one's, and what it
  // returns is given to each. 32-bit tags are left out, and the operator told.
  void EditTags(const std::vector<int>& rows);
  // Sorted; the current row when none is selected.
  std::vector<int> SelectedRows() const;

  // The printer of this view's jobs; its settings hold from job to job.
  QPrinter& Printer();
  TagPrinter m_printer;

 signals:
  // A tag's data type or limits, or the poll frequency, changed by the operator.
  void definitionChanged();
  // The context menu's Delete Scan: the main window asks and deletes.
  void deleteRequested();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  CPelmoranDoc& m_doc;
  PollClock* m_pClock;
  TagListModel* m_pModel;
  std::unique_ptr<QPrinter> m_pPrinter;
  void SizeColumnsToContent();
};
