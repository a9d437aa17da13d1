// The printout of tag descriptions into a PDF printer whose page has room for
// a chosen number of tag lines, read back with pdftotext.
#include <QDate>
#include <QFile>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "UiFixture.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "shell/MainWindow.h"
#include "ui/ChildFrame.h"
#include "ui/PelmoranView.h"
#include "ui/TagPrinter.h"
#include "ui/WidgetViewFactory.h"

namespace {

// Pages of the PDF as text, in order.
QStringList PdfPages(const QString& file, bool boxes = false) {
  QProcess pdftotext;
  QStringList args{"-layout", file, "-"};
  if (boxes) args = QStringList{"-bbox", file, "-"};
  pdftotext.start("pdftotext", args);
  if (!pdftotext.waitForFinished(30000)) return {};
  const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
  if (boxes) return text.split("<page ").mid(1);
  QStringList pages = text.split('\f');
  if (!pages.isEmpty() && pages.back().trimmed().isEmpty()) pages.removeLast();
  return pages;
}

// The numbers of the tags named on a page (the register part of the name).
QList<int> TagsOn(const QString& page) {
  QList<int> tags;
  static const QRegularExpression name("PLC\\.NODE1\\.4(\\d+)");
  for (auto it = name.globalMatch(page); it.hasNext();) tags << it.next().captured(1).toInt();
  return tags;
}

// The printer's line height in its own units, as the printout measures it.
int LineHeight(QPrinter& printer) { return QFontMetrics(QFont(), &printer).height(); }

// A PDF printer at one unit per point whose page holds `lines` tag lines,
// with half a line to spare.
void Prepare(QPrinter& printer, const QString& file, int lines) {
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(file);
  printer.setResolution(72);
  printer.setFullPage(true);
  const int h = LineHeight(printer);
  const QPageSize size(QSize(400, (lines + TagPrinter::kLinesAroundTags) * h + h / 2), "tags",
                       QPageSize::ExactMatch);
  printer.setPageLayout(QPageLayout(size, QPageLayout::Portrait, QMarginsF()));
}

}  // namespace

class PrintTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void tenTagsFiveLinesGiveThreeOverlappingPages();
  void columnsAreMeasuredPerPage();
  void shortScansAndEmptyScansPrintOnePage();
  void narrowPagesEndTheJob();
  void directPrintingAndPreviewPrintNothing();
  void cancelledPrintDialogPrintsNothing();
  void scanClosedDuringThePrintDialogPrintsNothing();

 private:
  // A scan of `tags` unsigned registers with values, shown in a view.
  CPelmoranView& Scan(int tags, int firstAddress = 1);
  QString Pdf(const QString& name) { return m_dir + "/" + name + ".pdf"; }

  std::unique_ptr<WindowProgram> m_program;
  QString m_dir;
  int m_nDialogs = 0;
};

void PrintTest::init() {
  m_program = std::make_unique<WindowProgram>();
  m_dir = ScratchDirectory("print");
  m_nDialogs = 0;
  TagPrinter::PrintDialog() = [this](QPrinter&, QWidget*) {
    ++m_nDialogs;
    return true;
  };
}

void PrintTest::cleanup() { m_program.reset(); }

CPelmoranView& PrintTest::Scan(int tags, int firstAddress) {
  Runtime& app = *m_program->app;
  app.m_strPendingEndpoint = "PLC";
  app.m_pendingScan.m_nScanLength = static_cast<uint16_t>(tags);
  app.m_pendingScan.m_nPointAddress = static_cast<uint16_t>(firstAddress);
  CPelmoranDoc* doc = app.OnFileNew();
  doc->m_scan.m_nStatus = 0;
  for (int i = 0; i < tags; ++i) doc->m_scan.m_data[i] = static_cast<uint16_t>(100 + i);
  auto* factory = static_cast<WidgetViewFactory*>(m_program->window->ViewFactory());
  return *factory->ViewOf(*doc);
}

void PrintTest::tenTagsFiveLinesGiveThreeOverlappingPages() {
  CPelmoranView& view = Scan(10);
  Prepare(view.Printer(), Pdf("ten"), 5);
  m_program->window->Action(MainWindow::ID_FILE_PRINT)->trigger();  // Ctrl+P
  QCOMPARE(m_nDialogs, 1);
  QCOMPARE(view.m_printer.m_nLinesPerPage, 5);
  QCOMPARE(view.m_printer.m_nPrintMode, int(TagPrinter::kPrintNone));
  const QStringList pages = PdfPages(Pdf("ten"));
  QCOMPARE(pages.size(), 3);
  QCOMPARE(TagsOn(pages[0]), QList<int>({1, 2, 3, 4, 5}));
  QCOMPARE(TagsOn(pages[1]), QList<int>({5, 6, 7, 8, 9}));
  QCOMPARE(TagsOn(pages[2]), QList<int>({9, 10}));
  // Every page names the scan, its endpoint and the day, heads its columns
  // and counts itself among the pages.
  const QString title =
      "Modbus Tag Descriptions: " + QString::fromStdString(view.GetDocument().m_strTitle) +
      ", endpoint PLC, printed " + QDate::currentDate().toString("yyyy-MM-dd");
  const QRegularExpression headings(
      "TagName\\s+Current Value\\s+Type\\s+Low Limit\\s+High Limit\\s+Quality");
  for (int i = 0; i < pages.size(); ++i) {
    QVERIFY2(pages[i].contains(title), qPrintable(pages[i]));
    QVERIFY(pages[i].contains(headings));
    QVERIFY(pages[i].contains(QString("Page %1 of 3").arg(i + 1)));
  }
  // Every line carries the tag's four texts as the list shows them.
  QVERIFY(pages[0].contains(QRegularExpression("PLC\\.NODE1\\.40002\\s+101\\s+UNSIGNED")));
  QVERIFY(pages[2].contains(QRegularExpression("PLC\\.NODE1\\.40010\\s+109\\s+UNSIGNED")));
}

void PrintTest::columnsAreMeasuredPerPage() {
  // Page 1 holds five-digit names, page 2 six-digit ones: its values start
  // further right.
  CPelmoranView& view = Scan(10, 9995);
  Prepare(view.Printer(), Pdf("widths"), 5);
  view.OnFilePrint();
  const QStringList pages = PdfPages(Pdf("widths"), true);
  QCOMPARE(pages.size(), 3);
  auto valueX = [](const QString& page, const QString& value) {
    const QRegularExpression word("<word xMin=\"([0-9.]+)\"[^>]*>" + value + "</word>");
    return word.match(page).captured(1).toDouble();
  };
  const double first = valueX(pages[0], "100");
  const double second = valueX(pages[1], "105");
  QVERIFY(first > 0);
  QVERIFY2(second > first, qPrintable(QString("%1 vs %2").arg(first).arg(second)));
  // The last line of page 1 is the first of page 2, in page 2's columns.
  QVERIFY(valueX(pages[1], "104") > first);
}

void PrintTest::shortScansAndEmptyScansPrintOnePage() {
  CPelmoranView& few = Scan(3);
  Prepare(few.Printer(), Pdf("few"), 5);
  few.OnFilePrint();
  QStringList pages = PdfPages(Pdf("few"));
  QCOMPARE(pages.size(), 1);
  QCOMPARE(TagsOn(pages[0]), QList<int>({1, 2, 3}));

  // Exactly a page full ends after that page.
  CPelmoranView& full = Scan(5);
  Prepare(full.Printer(), Pdf("full"), 5);
  full.OnFilePrint();
  QCOMPARE(PdfPages(Pdf("full")).size(), 1);

  CPelmoranView& none = Scan(0);
  Prepare(none.Printer(), Pdf("none"), 5);
  none.OnFilePrint();
  pages = PdfPages(Pdf("none"));
  QCOMPARE(pages.size(), 1);
  QVERIFY(pages[0].trimmed().isEmpty());  // the rule only
}

void PrintTest::narrowPagesEndTheJob() {
  CPelmoranView& view = Scan(4);
  Prepare(view.Printer(), Pdf("one-line"), 1);
  view.OnFilePrint();
  QCOMPARE(view.m_printer.m_nLinesPerPage, 1);
  QStringList pages = PdfPages(Pdf("one-line"));
  QCOMPARE(pages.size(), 1);
  QCOMPARE(TagsOn(pages[0]), QList<int>({1}));

  Prepare(view.Printer(), Pdf("no-line"), -1);
  view.OnFilePrint();
  QVERIFY(view.m_printer.m_nLinesPerPage < 1);
  pages = PdfPages(Pdf("no-line"));
  QCOMPARE(pages.size(), 1);
  QVERIFY(TagsOn(pages[0]).isEmpty());

  // Two lines still advance, one tag a page.
  Prepare(view.Printer(), Pdf("two-lines"), 2);
  view.OnFilePrint();
  pages = PdfPages(Pdf("two-lines"));
  QCOMPARE(pages.size(), 3);
  QVERIFY(pages[2].contains("Page 3 of 3"));
  QCOMPARE(TagsOn(pages[1]), QList<int>({2, 3}));
}

void PrintTest::directPrintingAndPreviewPrintNothing() {
  CPelmoranView& view = Scan(10);
  Prepare(view.Printer(), Pdf("direct"), 5);
  view.OnFilePrintDirect();
  QCOMPARE(m_nDialogs, 0);
  const QStringList pages = PdfPages(Pdf("direct"));
  QCOMPARE(pages.size(), 1);
  QVERIFY(pages[0].trimmed().isEmpty());
}

void PrintTest::cancelledPrintDialogPrintsNothing() {
  TagPrinter::PrintDialog() = [this](QPrinter&, QWidget*) {
    ++m_nDialogs;
    return false;
  };
  CPelmoranView& view = Scan(10);
  Prepare(view.Printer(), Pdf("cancelled"), 5);
  view.OnFilePrint();
  QCOMPARE(m_nDialogs, 1);
  QVERIFY(!QFile::exists(Pdf("cancelled")));
}

void PrintTest::scanClosedDuringThePrintDialogPrintsNothing() {
  TagPrinter::PrintDialog() = [this](QPrinter&, QWidget*) {
    m_program->app->CloseAllDocuments();
    return true;
  };
  CPelmoranView& view = Scan(10);
  Prepare(view.Printer(), Pdf("closed"), 5);
  view.OnFilePrint();
  QCOMPARE(m_program->app->GetDocumentCount(), 0);
  QVERIFY(!QFile::exists(Pdf("closed")));
}

QTEST_MAIN(PrintTest)
#include "PrintTest.moc"
