#include "ui/PelmoranView.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPrinter>
#include <QScrollBar>
#include <algorithm>

#include "platform/MessageBox.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/ScanContext.h"
#include "ui/DataDefDlg.h"
#include "ui/DataTypeDlg.h"
#include "ui/DebugDlg.h"
#include "ui/PollClock.h"
#include "ui/TagListModel.h"

namespace {

const char* const kPairReason =
    " holds a value read from more than one register. Its data type and limits are chosen for the "
    "whole scan, with Set Default Data Type when the scan is defined.";

}  // namespace

CPelmoranView::CPelmoranView(CPelmoranDoc& doc, PollClock& clock, QWidget* parent)
    : QTreeView(parent),
      m_printer(doc),
      m_doc(doc),
      m_pClock(&clock),
      m_pModel(new TagListModel(doc, this)) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  // Whole rows, several at once: their tags are edited together.
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  auto* edit = new QAction("Set Data Type and Limits...", this);
  connect(edit, &QAction::triggered, this, [this] { EditTags(SelectedRows()); });
  addAction(edit);
  auto* remove = new QAction("Delete Scan...", this);
  connect(remove, &QAction::triggered, this, &CPelmoranView::deleteRequested);
  addAction(remove);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setModel(m_pModel);
  // What matters first stays in sight in a narrow window: the quality and
  // status beside the name; the last column takes what room is left.
  header()->moveSection(TagListModel::kQuality, 1);
  header()->moveSection(TagListModel::kStatus, 2);
  header()->setStretchLastSection(true);
  setTextElideMode(Qt::ElideRight);
  connect(m_pClock, &PollClock::tagValuesRefreshed, this, &CPelmoranView::RefreshTagValues);
}

CPelmoranView::~CPelmoranView() = default;

QPrinter& CPelmoranView::Printer() {
  // Made at the first print: asking for the system's printers costs time that
  // a program opening many scans should not spend.
  if (!m_pPrinter) {
    m_pPrinter = std::make_unique<QPrinter>();
    const double margin = TagPrinter::kMarginMm;
    m_pPrinter->setPageMargins(QMarginsF(margin, margin, margin, margin), QPageLayout::Millimeter);
  }
  return *m_pPrinter;
}

void CPelmoranView::OnInitialUpdate() {
  // Rows first: making them resets the header, and with it the widths.
  m_pModel->InsertRows();
  SizeColumnsToContent();
}

void CPelmoranView::SizeColumnsToContent() {
  // Measured on every text a column can show, not only the rows on screen:
  // a value that grows later must not be cut.
  constexpr int kPadding = 16;
  const QFontMetrics metrics(font());
  const QFontMetrics headerMetrics(header()->font());
  for (int column = 0; column < m_pModel->columnCount(); ++column) {
    int width = headerMetrics.horizontalAdvance(
        m_pModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
    for (const QString& text : m_pModel->ColumnSamples(column))
      width = std::max(width, metrics.horizontalAdvance(text));
    setColumnWidth(column, width + kPadding);
  }
}

QSize CPelmoranView::PreferredSize() const {
  constexpr int kRowsShown = 12;
  const int rows = std::clamp(m_pModel->rowCount(), 1, kRowsShown);
  const int rowHeight = std::max(sizeHintForRow(0), fontMetrics().height() + 4);
  int width = 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
  for (int column = 0; column < header()->count(); ++column) width += columnWidth(column);
  return QSize(width, 2 * frameWidth() + header()->sizeHint().height() + rows * rowHeight);
}

void CPelmoranView::RefreshTagValues() { m_pModel->RefreshTagValues(); }

void CPelmoranView::Detach() {
  if (m_pClock) disconnect(m_pClock, nullptr, this, nullptr);
  m_pClock = nullptr;
  m_pModel->Detach();
}

void CPelmoranView::OnScanDefinition() {
  const ScanContext& app = m_doc.m_context;
  const CModbusMsg& scan = m_doc.m_scan;
  CDataDefDlg dlg(this);
  dlg.m_strEndpoints = {m_doc.m_strEndpoint};
  dlg.m_nEndpoint = 0;
  dlg.m_nSlaveNode = scan.m_nSlaveNode;
  dlg.m_nPointType = scan.m_nPointType;
  dlg.m_nPointAddress = scan.m_nPointAddress;
  dlg.m_nScanLength = scan.m_nScanLength;
  dlg.m_nPollFrequency = scan.m_nPollFrequency;
  dlg.m_nDataType = app.m_nDefaultDataType;
  dlg.m_fLowLimit = app.m_fDefaultLowLimit;
  dlg.m_fHighLimit = app.m_fDefaultHighLimit;
  dlg.m_strDelimiter = scan.m_strDelimiter;
  dlg.m_bEditable = false;
  // Whatever the default data type dialog returns here is not kept.
  if (dlg.DoModal() != QDialog::Accepted || !m_pClock) return;
  m_pClock->SetPollFrequency(dlg.m_nPollFrequency);
  emit definitionChanged();
}

void CPelmoranView::OnDebugData() {
  const CModbusMsg& scan = m_doc.m_scan;
  CDebugDlg dlg(this);
  dlg.m_nAddress = scan.m_nPointAddress;
  dlg.m_nLength = scan.m_nScanLength;
  dlg.m_nMsgType = scan.m_nPointType;
  dlg.m_nNumbrPolls = m_doc.m_nNumbrPolls;
  dlg.m_nPollFrequency = scan.m_nPollFrequency;
  dlg.m_nPortNumber = scan.m_nPort;
  dlg.m_nScanInProgress = m_pClock != nullptr && m_pClock->m_bScanInProgress ? 1 : 0;
  dlg.m_nSlaveId = scan.m_nSlaveNode;
  // Only the poll count and the poll in flight change while a scan runs; a
  // scan closed meanwhile leaves the last values shown.
  dlg.m_refresh = [this](CDebugDlg& shown) {
    if (IsDetached()) return;
    shown.m_nNumbrPolls = m_doc.m_nNumbrPolls;
    shown.m_nScanInProgress = m_pClock->m_bScanInProgress ? 1 : 0;
  };
  dlg.DoModal();
}

void CPelmoranView::OnFilePrint() {
  m_printer.ChooseTagDescriptions();
  // A cancelled print dialog ends the command before the job begins; so does
  // a document closed while the dialog was open.
  if (TagPrinter::PrintDialog()(Printer(), this) && !IsDetached()) m_printer.PrintLoop(Printer());
}

void CPelmoranView::OnFilePrintDirect() {
  if (!IsDetached()) m_printer.PrintLoop(Printer());
}

void CPelmoranView::mouseDoubleClickEvent(QMouseEvent* event) {
  OnDblclk(event->position().toPoint());
}

void CPelmoranView::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F2) &&
      !SelectedRows().empty()) {
    EditTags(SelectedRows());
    return;
  }
  QTreeView::keyPressEvent(event);
}

void CPelmoranView::OnDblclk(const QPoint& pos) {
  const QModelIndex index = indexAt(pos);
  if (index.isValid()) EditTag(index.row());
}

void CPelmoranView::EditTag(int row) { EditTags({row}); }

std::vector<int> CPelmoranView::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  if (rows.empty() && currentIndex().isValid()) rows.push_back(currentIndex().row());
  return rows;
}

void CPelmoranView::EditTags(const std::vector<int>& rows) {
  std::vector<std::pair<int, CModbusTag*>> tags;
  int pairs = 0;
  for (int row : rows) {
    CModbusTag* tag = m_doc.GetTag(row);
    // Another width for a tag of more than one register would move every
    // tag after it.
    if (tag && m_doc.TagRegisters(*tag) != 1)
      ++pairs;
    else if (tag)
      tags.emplace_back(row, tag);
  }
  if (tags.empty()) {
    if (pairs > 0) AfxMessageBox(m_doc.GetTagName(rows.front()) + kPairReason);
    return;
  }
  const CModbusTag& first = *tags.front().second;
  CDataTypeDlg dlg(this);
  dlg.m_strTitle = tags.size() == 1 ? m_doc.GetTagName(tags.front().first)
                                    : std::to_string(tags.size()) + " tags, " +
                                          m_doc.GetTagName(tags.front().first) + " to " +
                                          m_doc.GetTagName(tags.back().first);
  dlg.m_nDataType = first.m_nDataType;
  dlg.m_fLowLimit = first.m_fLowLimit;
  dlg.m_fHighLimit = first.m_fHighLimit;
  dlg.m_format = first.m_format;
  dlg.m_strDelimiter = m_doc.m_scan.m_strDelimiter;
  dlg.m_bLongTypes = false;
  dlg.m_bDelimiterEnabled = false;
  // The document may have been closed while the dialog was open.
  if (dlg.DoModal() != QDialog::Accepted || IsDetached()) return;
  for (const auto& selected : tags)
    m_doc.SetTagFormat(selected.first, dlg.m_nDataType, dlg.m_fLowLimit, dlg.m_fHighLimit,
                       dlg.m_format);
  RefreshTagValues();
  emit definitionChanged();
  if (pairs > 0)
    AfxMessageBox(std::to_string(pairs) +
                  " of the selected tags hold values of more than one register and were left as "
                  "they are.");
}
