#include "ui/TagPrinter.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "pointdb/PelmoranDoc.h"
#include "ui/DataDefDlg.h"

namespace {

using TagTexts = std::array<QString, 6>;  // name, value, type, low, high, quality

TagTexts TextsOf(const CPelmoranDoc& doc, int t) {
  std::string value, type, low, high;
  doc.FormatTag(t, value, type, low, high);
  const bool good = doc.m_scan.Status() == ScanStatus::Ok;
  return {QString::fromStdString(doc.GetTagName(t)), QString::fromStdString(value),
          QString::fromStdString(type),              QString::fromStdString(low),
          QString::fromStdString(high),              good ? "Good" : "Bad"};
}

const TagTexts kHeadings{"TagName", "Current Value", "Type", "Low Limit", "High Limit", "Quality"};

}  // namespace

QString TagPrinter::Title() const {
  return QString("Modbus Tag Descriptions: %1, endpoint %2, printed %3")
      .arg(QString::fromStdString(m_doc.m_strTitle), QString::fromStdString(m_doc.m_strEndpoint),
           QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm"));
}

QString TagPrinter::Definition() const {
  const CModbusMsg& scan = m_doc.m_scan;
  const QStringList types = CDataDefDlg::PointTypeNames();
  const int type = scan.m_nPointType;
  const QString typeName = type >= 1 && type <= types.size() ? types[type - 1] : QString::number(type);
  return QString("Slave %1, %2 %3 to %4, %5 points, polled every %6 ms, status %7")
      .arg(scan.m_nSlaveNode)
      .arg(typeName)
      .arg(scan.m_nPointAddress)
      .arg(scan.m_nPointAddress + scan.m_nScanLength - 1)
      .arg(scan.m_nScanLength)
      .arg(scan.m_nPollFrequency)
      .arg(scan.Status() == ScanStatus::Ok ? QString("OK")
                                           : QString::fromStdString(scan.GetStatusText()));
}

int TagPrinter::PageCount() const {
  const int count = m_doc.GetTagCount(), lines = m_nLinesPerPage;
  if (count <= lines || lines < 2) return 1;
  // Each page after the first repeats the last tag of the one before.
  return 1 + (count - lines + lines - 2) / (lines - 1);
}

std::function<bool(QPrinter&, QWidget*)>& TagPrinter::PrintDialog() {
  static std::function<bool(QPrinter&, QWidget*)> dialog = [](QPrinter& printer, QWidget* parent) {
    QPrintDialog dlg(&printer, parent);
    return dlg.exec() == QDialog::Accepted;
  };
  return dialog;
}

void TagPrinter::ChooseTagDescriptions() {
  m_nPrintMode = kPrintTagDescriptions;
  m_nFirstPrintTag = 0;
}

void TagPrinter::PrintLoop(QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) return;
  OnBeginPrinting(painter, printer);
  m_bContinuePrinting = true;
  for (bool first = true; m_bContinuePrinting; first = false) {
    if (!first) printer.newPage();
    OnPrint(painter);
  }
  painter.end();
  OnEndPrinting();
}

void TagPrinter::OnBeginPrinting(QPainter& painter, QPrinter& printer) {
  const QFontMetrics metrics(painter.font(), &printer);
  m_nCharWidth = metrics.averageCharWidth();
  m_nLineHeight = std::max(1, metrics.height());
  m_nPageWidth = printer.width();
  m_nPageHeight = printer.height();
  m_nLinesPerPage = m_nPageHeight / m_nLineHeight - kLinesAroundTags;
  m_nPage = 1;
}

void TagPrinter::OnPrint(QPainter& painter) {
  if (m_nPrintMode == kPrintTagDescriptions)
    PrintTagPage(painter);
  else
    m_bContinuePrinting = false;
}

void TagPrinter::PrintTagPage(QPainter& painter) {
  const int h = m_nLineHeight, lines = m_nLinesPerPage, first = m_nFirstPrintTag;
  const int count = m_doc.GetTagCount();
  painter.drawLine(0, 3 * h, m_nPageWidth, 3 * h);
  if (count == 0) {
    m_bContinuePrinting = false;
    return;
  }
  const QFontMetrics metrics = painter.fontMetrics();
  auto textAt = [&](int x, int y, const QString& text) {
    painter.drawText(x, y + metrics.ascent(), text);
  };
  // Which scan, from where and when, on the top line, what it reads on the
  // next; the column headings in the line above the rule.
  textAt(0, 0, Title());
  textAt(0, h, Definition());
  std::vector<TagTexts> page{kHeadings};
  for (int i = 0; i < lines && first + i < count; ++i) page.push_back(TextsOf(m_doc, first + i));
  // Columns are as wide as this page's widest texts, and no wider.
  std::array<int, 5> width{};
  for (const TagTexts& texts : page)
    for (size_t c = 0; c < width.size(); ++c)
      width[c] = std::max(width[c], metrics.horizontalAdvance(texts[c]));
  const int pad[] = {4, 4, 4, 2, 2};
  for (size_t c = 0; c < width.size(); ++c) width[c] += pad[c] * m_nCharWidth;
  for (size_t i = 0; i < page.size(); ++i) {
    int x = 0;
    for (size_t c = 0; c < page[i].size(); ++c) {
      textAt(x, (static_cast<int>(i) + 2) * h, page[i][c]);
      if (c < width.size()) x += width[c];
    }
  }
  // Below the last tag line, in the two lines the page keeps free.
  if (lines >= 1) {
    const QString number = QString("Page %1 of %2").arg(m_nPage).arg(PageCount());
    textAt(m_nPageWidth - metrics.horizontalAdvance(number), (lines + 3) * h, number);
  }
  ++m_nPage;
  // The last tag of a page opens the next one. A page with room for fewer
  // than two tag lines could never advance, so such a job ends after it.
  m_bContinuePrinting = lines >= 2 && first + lines < count;
  if (m_bContinuePrinting) m_nFirstPrintTag = first + lines - 1;
}
