// The printout of a scan's tag descriptions and the print loop that runs it:
// begin (measure the printer), then page after page while the page just
// printed says another follows, then end. Each page names the scan, its
// endpoint and the date, heads its columns and says "Page x of y".
#pragma once

#include <QString>
#include <functional>

class CPelmoranDoc;
class QPainter;
class QPrinter;
class QWidget;

class TagPrinter {
 public:
  enum PrintMode { kPrintNone = 0, kPrintTagDescriptions = 1 };
  // Title, scan definition and headings above the tags, two free lines below.
  static constexpr int kLinesAroundTags = 5;
  // A new printer's margins on every side: the page's text off its edge.
  static constexpr double kMarginMm = 15.0;

  explicit TagPrinter(const CPelmoranDoc& doc) : m_doc(doc) {}

  // The Print command's choice: the tag descriptions from the first tag.
  void ChooseTagDescriptions();
  // Runs the print loop as it is set up; without the Print command's choice
  // it prints nothing.
  void PrintLoop(QPrinter& printer);

  // Asks the operator for the printer; the window program shows the print
  // dialog. Tests answer it themselves.
  static std::function<bool(QPrinter&, QWidget*)>& PrintDialog();

  int m_nPrintMode = kPrintNone;
  int m_nCharWidth = 0;
  int m_nLineHeight = 0;
  int m_nPageWidth = 0;
  int m_nPageHeight = 0;
  int m_nLinesPerPage = 0;
  int m_nFirstPrintTag = 0;
  bool m_bContinuePrinting = true;
  // The page being printed, from 1.
  int m_nPage = 1;

 private:
  void OnBeginPrinting(QPainter& painter, QPrinter& printer);
  void OnPrint(QPainter& painter);
  void PrintTagPage(QPainter& painter);
  void OnEndPrinting() { m_nPrintMode = kPrintNone; }
  QString Title() const;
  // The slave, point type, addresses, poll period and status of the scan.
  QString Definition() const;
  // Known from the tag count and the lines a page holds.
  int PageCount() const;

  const CPelmoranDoc& m_doc;
};
