// The main window driven as an operator drives it: menus and their enabling,
// the endpoint and scan commands end to end, the tag list with its
// double-click, help, the about box, and the configuration saved and restored
// through the File menu.
#include <QApplication>
#include <QBrush>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include "UiFixture.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/ConfigFile.h"
#include "runtime/Runtime.h"
#include "shell/MainFrame.h"
#include "shell/MainWindow.h"
#include "ui/AboutDlg.h"
#include "ui/ChildFrame.h"
#include "ui/DataDefDlg.h"
#include "ui/DataTypeDlg.h"
#include "ui/DebugDlg.h"
#include "ui/EndPointDlg.h"
#include "ui/PelmoranView.h"
#include "ui/PollClock.h"
#include "ui/RemoveEndpointDlg.h"
#include "ui/TagListModel.h"

namespace {

using W = MainWindow;

// A menu as text: entries by their labels, separators as "-", submenus as
// "label>" followed by their entries and "<".
QStringList Describe(QMenu* menu) {
  QStringList out;
  for (QAction* action : menu->actions()) {
    if (action->isSeparator()) {
      out << "-";
    } else if (action->menu()) {
      out << action->text() + ">" << Describe(action->menu()) << "<";
    } else {
      out << action->text();
    }
  }
  return out;
}

QStringList MenuTitles(QMainWindow& window) {
  QStringList titles;
  for (QAction* action : window.menuBar()->actions()) titles << action->text();
  return titles;
}

QMenu* TopMenu(QMainWindow& window, const QString& title) {
  for (QAction* action : window.menuBar()->actions())
    if (action->text() == title) return action->menu();
  return nullptr;
}

bool Enabled(MainWindow& window, int id) {
  window.UpdateCommandUI();
  return window.Action(id)->isEnabled();
}

// Runs a command whose dialog the answer handles.
void RunWithAnswer(MainWindow& window, int id, std::function<void(QWidget*)> answer) {
  // As when the operator opens the menu: the enabling is asked first.
  window.UpdateCommandUI();
  AnswerNextModal(std::move(answer));
  window.Action(id)->trigger();
  QVERIFY(AllModalsAnswered());
}

void Accept(QWidget* modal) { static_cast<QDialog*>(modal)->accept(); }

void ChooseFile(QWidget* modal, const QString& path) {
  auto* dialog = qobject_cast<QFileDialog*>(modal);
  QVERIFY(dialog);
  // Typed as the operator types it: selectFile leaves a focused name edit alone.
  auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
  QVERIFY(name);
  name->setText(path);
  static_cast<QDialog*>(dialog)->accept();
}

CPelmoranView* ViewOf(CPelmoranDoc* doc, MainWindow& window) {
  for (QMdiSubWindow* sub : window.MdiArea().subWindowList()) {
    auto* frame = qobject_cast<CChildFrame*>(sub);
    if (frame && !frame->IsRetired() && &frame->GetDocument() == doc) return &frame->View();
  }
  return nullptr;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void menusAndEnablingFollowEndpointsAndDocuments();
  void endpointNewMakesSerialEndpointsAndRefusesPortsInUse();
  void dataNewBuildsTheScanFromTheDialog();
  void dataNewCancelKeepsNoDefaults();
  void acceleratorsMakeScansAndEditingKeysDoNothing();
  void tagListShowsColumnsRowsAndRefreshes();
  void failingScanKeepsLastValuesGreyed_data();
  void failingScanKeepsLastValuesGreyed();
  void doubleClickEditsOneRegisterTagsOnly();
  void bulkEditSetsTheSelectedRegisterRowsOnce_data();
  void bulkEditSetsTheSelectedRegisterRowsOnce();
  void scanDefinitionChangesOnlyThePollFrequency();
  void debugDataShowsTheScan();
  void closingAChildWindowClosesItsScan();
  void helpTopicsOpensTheManual();
  void aboutBoxShowsTheVersionAndLogo();
  void saveAndRestoreThroughTheFileMenu();
  void csvExportAndImportThroughTheFileMenu();
  void oneScanSavedAndOpenedWithTheKeys();
  void screenshotWithTwoScans();
  void closingAsksToSaveOnlyAfterChanges_data();
  void closingAsksToSaveOnlyAfterChanges();
  void scanWindowsCarryTheProgramsIcon();

 private:
  std::unique_ptr<WindowProgram> m_program;
  std::unique_ptr<MessageLog> m_log;
  MainWindow& Window() { return *m_program->window; }
  EndpointRegistry& Frame() { return m_program->app->m_endpoints; }
  Runtime& App() { return *m_program->app; }
};

void MainWindowTest::init() {
  m_program = std::make_unique<WindowProgram>();
  // The window routes message boxes to widgets; the test reads them instead.
  m_log = std::make_unique<MessageLog>();
}

void MainWindowTest::cleanup() {
  CancelPendingAnswers();
  m_log.reset();
  m_program.reset();
}

void MainWindowTest::menusAndEnablingFollowEndpointsAndDocuments() {
  MainWindow& window = Window();
  QCOMPARE(window.windowTitle(), QString("pelmoran"));
  QCOMPARE(MenuTitles(window), QStringList({"&File", "&Modbus", "&Help"}));
  QCOMPARE(
      Describe(TopMenu(window, "&File")),
      QStringList({"&Restore Test Config", "-", "&Import CSV...", "&Export CSV...",
                   "Import Register &Map...", "Export Register Ma&p...", "-", "E&xit"}));
  const QStringList modbus{"&Endpoint>",
                           "&New",
                           "&Remove",
                           "<",
                           "&Data>",
                           "&New",
                           "&Delete",
                           "<",
                           "-",
                           "&Health...",
                           "Frame &Trace",
                           "&Options...",
                           "OPC UA &Security...",
                           "&MQTT...",
                           "Endpoints &Pane"};
  QCOMPARE(Describe(TopMenu(window, "&Modbus")), modbus);
  QCOMPARE(Describe(TopMenu(window, "&Help")),
           QStringList({"&Help Topics", "-", "&About Pelmoran..."}));
  QVERIFY(!Enabled(window, W::ID_ENDPOINT_REMOVE));
  QVERIFY(!Enabled(window, W::ID_DATA_NEW));
  QVERIFY(!Enabled(window, W::ID_DATA_DELETE));
  QVERIFY(Enabled(window, W::ID_ENDPOINT_NEW));
  QVERIFY(Enabled(window, W::ID_RESTORE_TEST_CONFIG));

  RunWithAnswer(window, W::ID_ENDPOINT_NEW, [](QWidget* modal) {
    auto* dlg = qobject_cast<CEndPointDlg*>(modal);
    QVERIFY(dlg);
    QCOMPARE(dlg->Control<QLineEdit>(1000)->text(), QString("MODBUS1"));
    QCOMPARE(dlg->Control<QLineEdit>(1007)->text(), QString("127.0.0.1"));
    QCOMPARE(dlg->Control<QLineEdit>(1020)->text(), QString("502"));
    QCOMPARE(dlg->Control<QComboBox>(1025)->currentText(), QString("ENABLED"));
    QCOMPARE(dlg->Control<QComboBox>(1026)->currentText(), QString("TOGGLE"));
    dlg->accept();
  });
  QCOMPARE(Frame().m_endpoints.size(), size_t(1));
  QCOMPARE(Frame().m_endpoints[0]->m_strName, std::string("MODBUS1"));
  QVERIFY(Frame().m_endpoints[0]->m_bTcp);
  QVERIFY(Enabled(window, W::ID_ENDPOINT_REMOVE));
  QVERIFY(Enabled(window, W::ID_DATA_NEW));
  QVERIFY(!Enabled(window, W::ID_DATA_DELETE));

  RunWithAnswer(window, W::ID_DATA_NEW, Accept);
  QCOMPARE(App().GetDocumentCount(), 1);
  QCOMPARE(MenuTitles(window), QStringList({"&File", "&Modbus", "&View", "&Window", "&Help"}));
  QCOMPARE(Describe(TopMenu(window, "&File")),
           QStringList({"Save &Test Config", "&Restore Test Config", "-", "&Import CSV...",
                        "&Export CSV...", "Import Register &Map...", "Export Register Ma&p...",
                        "-", "E&xit"}));
  QCOMPARE(Describe(TopMenu(window, "&View")), QStringList({"Scan Definition", "DebugData"}));
  QCOMPARE(Describe(TopMenu(window, "&Modbus")), modbus);
  QCOMPARE(window.windowTitle(), QString("pelmoran - Pelmor1"));

  RunWithAnswer(window, W::ID_ENDPOINT_REMOVE, [](QWidget* modal) {
    auto* dlg = qobject_cast<CRemoveEndpointDlg*>(modal);
    QVERIFY(dlg);
    QCOMPARE(dlg->m_nSelection, 0);
    dlg->accept();
  });
  QVERIFY(Frame().m_endpoints.empty());
  QVERIFY(!Enabled(window, W::ID_ENDPOINT_REMOVE));
  QVERIFY(!Enabled(window, W::ID_DATA_NEW));
  // The scan of the removed endpoint stays open.
  QCOMPARE(App().GetDocumentCount(), 1);
  // A greyed command does nothing, even when asked directly.
  window.Action(W::ID_DATA_NEW)->trigger();
  QCOMPARE(App().GetDocumentCount(), 1);
}

void MainWindowTest::endpointNewMakesSerialEndpointsAndRefusesPortsInUse() {
  MainWindow& window = Window();
  AddEndpoint(Frame(), "MODBUS1");
  AddEndpoint(Frame(), "MODBUS2");
  RunWithAnswer(window, W::ID_ENDPOINT_NEW, [](QWidget* modal) {
    auto* dlg = qobject_cast<CEndPointDlg*>(modal);
    QCOMPARE(dlg->Control<QLineEdit>(1000)->text(), QString("MODBUS3"));
    dlg->Control<QComboBox>(1027)->setCurrentIndex(3);
    dlg->Control<QComboBox>(1006)->setCurrentText("EVEN");
    dlg->accept();
  });
  QCOMPARE(Frame().m_endpoints.size(), size_t(3));
  const CModbusConnection& serial = *Frame().m_endpoints[2];
  QCOMPARE(serial.m_bTcp, 0);
  QCOMPARE(serial.m_nPort, 3);
  QCOMPARE(int(serial.m_serial.parity), 2);

  RunWithAnswer(window, W::ID_ENDPOINT_NEW, [this](QWidget* modal) {
    auto* dlg = qobject_cast<CEndPointDlg*>(modal);
    dlg->Control<QComboBox>(1027)->setCurrentIndex(3);
    dlg->accept();
    QCOMPARE(m_log->texts.back(), std::string("Selected COMM Port Already In Use!"));
    QVERIFY(dlg->isVisible());
    dlg->reject();
  });
  QCOMPARE(Frame().m_endpoints.size(), size_t(3));
}

void MainWindowTest::dataNewBuildsTheScanFromTheDialog() {
  AddEndpoint(Frame(), "MODBUS1");
  AddEndpoint(Frame(), "LINE4", 4);
  RunWithAnswer(Window(), W::ID_DATA_NEW, [](QWidget* modal) {
    auto* dlg = qobject_cast<CDataDefDlg*>(modal);
    QVERIFY(dlg);
    QCOMPARE(dlg->Control<QLineEdit>(1000)->text(), QString("1"));
    QCOMPARE(dlg->Control<QLineEdit>(1001)->text(), QString("1"));
    QCOMPARE(dlg->Control<QLineEdit>(1003)->text(), QString("100"));
    QCOMPARE(dlg->Control<QLineEdit>(1004)->text(), QString("1000"));
    QCOMPARE(dlg->Control<QComboBox>(1002)->currentText(), QString("HOLDING REGISTER"));
    QCOMPARE(dlg->Control<QComboBox>(1031)->currentText(), QString("MODBUS1"));
    dlg->Control<QComboBox>(1031)->setCurrentIndex(1);
    dlg->Control<QLineEdit>(1000)->setText("17");
    dlg->Control<QLineEdit>(1001)->setText("70000");
    dlg->Control<QLineEdit>(1003)->setText("10");
    AnswerNextModal([](QWidget* nested) {
      auto* types = qobject_cast<CDataTypeDlg*>(nested);
      QVERIFY(types);
      types->Control<QComboBox>(1002)->setCurrentText("LONG INTEGER");
      types->Control<QLineEdit>(1015)->setText("_");
      types->accept();
    });
    dlg->Control<QPushButton>(1013)->click();
    dlg->accept();
  });
  QCOMPARE(App().GetDocumentCount(), 1);
  CPelmoranDoc* doc = App().m_docTemplate.GetDocument(0);
  QCOMPARE(doc->m_strEndpoint, std::string("LINE4"));
  QCOMPARE(int(doc->m_scan.m_nPointAddress), 4464);
  QCOMPARE(doc->m_scan.m_nPort, 4);
  QCOMPARE(int(doc->m_scan.m_nSlaveNode), 17);
  QCOMPARE(int(doc->m_scan.m_nScanLength), 10);
  QCOMPARE(doc->GetTagCount(), 5);
  QCOMPARE(doc->GetTagName(1), std::string("LINE4_NODE17_44466"));
  QCOMPARE(App().m_nDefaultDataType, 6);
  QCOMPARE(App().m_strDefaultDelimiter, std::string("_"));

  // The next Data New starts from the defaults chosen; -1 wraps to 65535.
  RunWithAnswer(Window(), W::ID_DATA_NEW, [](QWidget* modal) {
    auto* dlg = qobject_cast<CDataDefDlg*>(modal);
    QCOMPARE(dlg->m_nDataType, 6);
    dlg->Control<QLineEdit>(1001)->setText("-1");
    dlg->accept();
  });
  QCOMPARE(int(App().m_docTemplate.GetDocument(1)->m_scan.m_nPointAddress), 65535);
}

void MainWindowTest::dataNewCancelKeepsNoDefaults() {
  AddEndpoint(Frame(), "MODBUS1");
  RunWithAnswer(Window(), W::ID_DATA_NEW, [](QWidget* modal) {
    auto* dlg = qobject_cast<CDataDefDlg*>(modal);
    AnswerNextModal([](QWidget* nested) {
      auto* types = qobject_cast<CDataTypeDlg*>(nested);
      types->Control<QComboBox>(1002)->setCurrentIndex(3);
      types->Control<QLineEdit>(1012)->setText("50");
      types->accept();
    });
    dlg->Control<QPushButton>(1013)->click();
    QCOMPARE(dlg->m_nDataType, 3);
    dlg->reject();
  });
  QCOMPARE(App().GetDocumentCount(), 0);
  QCOMPARE(App().m_nDefaultDataType, 0);
  QCOMPARE(App().m_fDefaultHighLimit, 100.0f);

  // OK with no endpoint chosen names none: nothing is made or kept.
  RunWithAnswer(Window(), W::ID_DATA_NEW, [](QWidget* modal) {
    auto* dlg = qobject_cast<CDataDefDlg*>(modal);
    dlg->m_nDataType = 2;
    dlg->Control<QComboBox>(1031)->setCurrentIndex(-1);
    dlg->accept();
  });
  QCOMPARE(m_log->texts, std::vector<std::string>{"Encountered an improper argument."});
  QCOMPARE(App().GetDocumentCount(), 0);
  QCOMPARE(App().m_nDefaultDataType, 0);
}

void MainWindowTest::acceleratorsMakeScansAndEditingKeysDoNothing() {
  MainWindow& window = Window();
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  // Before any endpoint, Ctrl+N says what is missing and makes nothing.
  QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
  QCOMPARE(App().GetDocumentCount(), 0);
  QCOMPARE(m_log->texts,
           std::vector<std::string>{"Define an endpoint first: Modbus, Endpoint, New."});
  // With an endpoint but no scan defined yet, it opens the scan definition.
  AddEndpoint(Frame(), "MODBUS1");
  AnswerNextModal([](QWidget* modal) {
    QVERIFY(qobject_cast<CDataDefDlg*>(modal));
    static_cast<QDialog*>(modal)->reject();
  });
  QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
  QVERIFY(AllModalsAnswered());
  QCOMPARE(App().GetDocumentCount(), 0);
  // Once a scan has an endpoint, Ctrl+N repeats the pending definition at once.
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  App().m_strPendingEndpoint = "MODBUS1";
  QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
  QCOMPARE(App().GetDocumentCount(), 1);
  CPelmoranDoc* doc = App().m_docTemplate.GetDocument(0);
  // The fresh pending definition: 16 holding registers from address 1.
  QCOMPARE(doc->GetTagCount(), 16);
  QCOMPARE(doc->m_scan.m_nPollFrequency, 1000);
  for (auto key : {Qt::Key_Z, Qt::Key_X, Qt::Key_C, Qt::Key_V})
    QTest::keyClick(&window, key, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_F6);
  QCOMPARE(App().GetDocumentCount(), 1);
  QVERIFY(QApplication::activeModalWidget() == nullptr);
  QCOMPARE(window.Action(W::ID_FILE_SAVE)->shortcut(), QKeySequence("Ctrl+S"));
  QCOMPARE(window.Action(W::ID_FILE_OPEN)->shortcut(), QKeySequence("Ctrl+O"));
  QCOMPARE(window.Action(W::ID_FILE_PRINT)->shortcut(), QKeySequence("Ctrl+P"));
  QCOMPARE(window.Action(W::ID_HELP)->shortcut(), QKeySequence("F1"));
  QCOMPARE(window.Action(W::ID_CONTEXT_HELP)->shortcut(), QKeySequence("Shift+F1"));
  QVERIFY(window.Action(W::ID_EDIT_UNDO)->shortcuts().contains(QKeySequence("Alt+Backspace")));
  QVERIFY(window.Action(W::ID_EDIT_PASTE)->shortcuts().contains(QKeySequence("Shift+Ins")));
}

void MainWindowTest::tagListShowsColumnsRowsAndRefreshes() {
  CPelmoranDoc* doc = App().OnFileNew();
  CPelmoranView* view = ViewOf(doc, Window());
  QVERIFY(view);
  const QStringList headers{"TagName",    "Current Value", "Type",   "Low Limit",
                            "High Limit", "Quality",       "Status", "Last Good"};
  for (int c = 0; c < 8; ++c)
    QCOMPARE(view->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
  QCOMPARE(view->model()->rowCount(), 16);
  QCOMPARE(view->model()->index(15, 0).data().toString(),
           QString::fromStdString(doc->GetTagName(15)));
  // A scan that answered shows the texts its tags format to.
  doc->m_scan.SetStatus(ScanStatus::Ok);
  std::string value, type, low, high;
  doc->FormatTag(2, value, type, low, high);
  QCOMPARE(view->model()->index(2, 1).data().toString(), QString::fromStdString(value));
  QCOMPARE(view->model()->index(2, 4).data().toString(), QString::fromStdString(high));
  // Every column is as wide as its widest text and the window shows them all.
  const QFontMetrics metrics(view->font());
  for (int row = 0; row < 16; ++row)
    QVERIFY(view->columnWidth(0) >
            metrics.horizontalAdvance(view->model()->index(row, 0).data().toString()));
  QVERIFY(view->columnWidth(2) > metrics.horizontalAdvance("IEEE Floating-Pt"));
  QVERIFY(!view->horizontalScrollBar()->isVisible());
  const int first = view->columnWidth(0);
  // The widths are those of the first size, kept when the window changes.
  view->parentWidget()->resize(first, 300);
  QApplication::sendPostedEvents();
  QCOMPARE(view->columnWidth(0), first);

  // A refresh announces a change of every row's four value columns.
  QSignalSpy changed(view->model(), &QAbstractItemModel::dataChanged);
  view->Clock().OnScanComplete();
  QCOMPARE(changed.count(), 1);
  QCOMPARE(changed[0][0].toModelIndex(), view->model()->index(0, 1));
  QCOMPARE(changed[0][1].toModelIndex(), view->model()->index(15, 7));
  QCOMPARE(view->Clock().m_bScanInProgress, 0);

  // A scan without tags shows the headers and no rows.
  App().m_pendingScan.m_nScanLength = 0;
  CPelmoranDoc* empty = App().OnFileNew();
  CPelmoranView* emptyView = ViewOf(empty, Window());
  QCOMPARE(emptyView->model()->rowCount(), 0);
  QCOMPARE(emptyView->model()->columnCount(), 8);
  QSignalSpy none(emptyView->model(), &QAbstractItemModel::dataChanged);
  emptyView->Clock().OnScanComplete();
  QCOMPARE(none.count(), 0);
}

void MainWindowTest::failingScanKeepsLastValuesGreyed_data() {
  QTest::addColumn<int>("dataType");
  QTest::addColumn<bool>("published");
  QTest::addColumn<QStringList>("texts");  // value, type, low, high
  QTest::newRow("unsigned") << 0 << true << QStringList{"42", "UNSIGNED", "", ""};
  QTest::newRow("scaled") << 2 << true << QStringList{"41.50", "Scaled 0-4095", "0.00", "100.00"};
  // Published as Int32, exactly: a float would show 16777216.
  QTest::newRow("long") << 6 << true << QStringList{"16777217", "32-Bit Integer", "", ""};
  QTest::newRow("float") << 4 << true << QStringList{"41.50", "IEEE Floating-Pt", "", ""};
  QTest::newRow("never good") << 3 << false << QStringList{"", "Scaled 0-9999", "0.00", "100.00"};
}

void MainWindowTest::failingScanKeepsLastValuesGreyed() {
  QFETCH(int, dataType);
  QFETCH(bool, published);
  QFETCH(QStringList, texts);
  CPelmoranDoc* doc = App().OnFileNew();
  CPelmoranView* view = ViewOf(doc, Window());
  CModbusTag* tag = doc->GetTag(0);
  tag->m_nDataType = dataType;
  if (published && dataType == 6) {
    tag->m_value.vt = VT_I4;
    tag->m_value.lVal = 16777217;
  } else if (published) {
    tag->m_value.vt = VT_R4;
    tag->m_value.fltVal = dataType == 0 ? 42.0f : 41.5f;
  }
  // 2026-01-02 03:04:05 UTC, as OPC UA stamps it.
  doc->m_lastGoodTime = (1767323045000LL + 11644473600000LL) * 10000;
  doc->m_scan.SetStatus(ScanStatus::PollTimeout);
  view->RefreshTagValues();
  QAbstractItemModel& model = *view->model();
  for (int column = 1; column <= 4; ++column) {
    QCOMPARE(model.index(0, column).data().toString(), texts[column - 1]);
    QCOMPARE(model.index(0, column).data(Qt::ForegroundRole).value<QBrush>().color(),
             QColor(0x5f, 0x5f, 0x5f));
  }
  QCOMPARE(model.index(0, 5).data().toString(), QString("Bad"));
  const QString order = dataType == 4 || dataType == 6 ? "Low word first" : "";
  QCOMPARE(model.index(0, 2).data(Qt::ToolTipRole).toString(), order);
  QCOMPARE(model.index(0, 6).data().toString(), QString("POLL TIMEOUT"));
  QCOMPARE(model.index(0, 7).data().toString(),
           QDateTime::fromMSecsSinceEpoch(1767323045000LL).toString("yyyy-MM-dd hh:mm:ss"));
  const QColor failing = model.index(0, 0).data(Qt::BackgroundRole).value<QBrush>().color();
  QCOMPARE(int(model.index(0, 1).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight),
           int(Qt::AlignRight));
  QCOMPARE(int(model.index(0, 2).data(Qt::TextAlignmentRole).toInt() & Qt::AlignLeft),
           int(Qt::AlignLeft));

  // Good again: the row's own texts, not greyed, tinted otherwise.
  doc->m_scan.SetStatus(ScanStatus::Ok);
  std::string value, type, low, high;
  doc->FormatTag(0, value, type, low, high);
  QCOMPARE(model.index(0, 1).data().toString(), QString::fromStdString(value));
  QVERIFY(!model.index(0, 1).data(Qt::ForegroundRole).isValid());
  QCOMPARE(model.index(0, 5).data().toString(), QString("Good"));
  QVERIFY(model.index(0, 0).data(Qt::BackgroundRole).value<QBrush>().color() != failing);
}

void MainWindowTest::doubleClickEditsOneRegisterTagsOnly() {
  CPelmoranDoc* doc = App().OnFileNew();
  CPelmoranView* view = ViewOf(doc, Window());
  view->parentWidget()->showMaximized();
  QApplication::sendPostedEvents();
  QWidget* viewport = view->viewport();
  view->scrollTo(view->model()->index(15, 0));
  const QPoint lastRow = view->visualRect(view->model()->index(15, 1)).center();
  QVERIFY(viewport->rect().contains(lastRow));
  std::string title;
  AnswerNextModal([&title](QWidget* modal) {
    auto* dlg = qobject_cast<CDataTypeDlg*>(modal);
    QVERIFY(dlg);
    title = dlg->windowTitle().toStdString();
    // The four of one register, then the added types of one register.
    QCOMPARE(dlg->Control<QComboBox>(1002)->count(), 8);
    QCOMPARE(dlg->Control<QComboBox>(1002)->itemText(3), QString("SCALED 0-9999"));
    QVERIFY(!dlg->Control<QLineEdit>(1015)->isEnabled());
    dlg->Control<QComboBox>(1002)->setCurrentText("SCALED 0-9999");
    dlg->Control<QLineEdit>(1011)->setText("10");
    dlg->Control<QLineEdit>(1012)->setText("20");
    dlg->accept();
  });
  view->OnDblclk(lastRow);
  QVERIFY(AllModalsAnswered());
  QCOMPARE(title, doc->GetTagName(15));
  CModbusTag* tag = doc->GetTag(15);
  QCOMPARE(tag->m_nDataType, 3);
  QCOMPARE(tag->m_fLowLimit, 10.0f);
  QCOMPARE(tag->m_fHighLimit, 20.0f);
  QCOMPARE(view->model()->index(15, 2).data().toString(), QString("Scaled 0-9999"));

  // Cancel changes nothing.
  AnswerNextModal([](QWidget* modal) {
    auto* dlg = qobject_cast<CDataTypeDlg*>(modal);
    dlg->Control<QComboBox>(1002)->setCurrentIndex(0);
    dlg->reject();
  });
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, lastRow);
  QVERIFY(AllModalsAnswered());
  QCOMPARE(tag->m_nDataType, 3);

  // A two-register tag says why it is not edited here; a place below the
  // rows opens nothing.
  m_log->texts.clear();
  bool opened = false;
  AnswerNextModal([&opened](QWidget* modal) {
    opened = true;
    static_cast<QDialog*>(modal)->reject();
  });
  doc->GetTag(0)->m_nDataType = 5;
  view->OnDblclk(view->visualRect(view->model()->index(0, 0)).center());
  view->OnDblclk(QPoint(5, viewport->height() - 2));
  // A dialog runs modally inside the double-click: none opened if none ran.
  QVERIFY(!opened);
  QCOMPARE(doc->GetTag(0)->m_nDataType, 5);
  QCOMPARE(m_log->texts.size(), size_t(1));
  QVERIFY(m_log->texts[0].starts_with(doc->GetTagName(0) +
                                      " holds a value read from more than one register"));
}

void MainWindowTest::bulkEditSetsTheSelectedRegisterRowsOnce_data() {
  QTest::addColumn<QList<int>>("selected");
  QTest::addColumn<QList<int>>("pairs");  // rows made 32-bit first
  QTest::addColumn<bool>("accepted");
  QTest::addColumn<QList<int>>("changed");
  QTest::addColumn<QString>("told");
  QTest::newRow("three rows") << QList<int>{1, 2, 3} << QList<int>{} << true << QList<int>{1, 2, 3}
                              << "";
  QTest::newRow("a 32-bit row among them")
      << QList<int>{4, 5, 6} << QList<int>{5} << true << QList<int>{4, 6}
      << "1 of the selected tags hold values of more than one register and were left as they are.";
  QTest::newRow("cancelled") << QList<int>{1, 2} << QList<int>{} << false << QList<int>{} << "";
}

void MainWindowTest::bulkEditSetsTheSelectedRegisterRowsOnce() {
  QFETCH(QList<int>, selected);
  QFETCH(QList<int>, pairs);
  QFETCH(bool, accepted);
  QFETCH(QList<int>, changed);
  QFETCH(QString, told);
  CPelmoranDoc* doc = App().OnFileNew();
  CPelmoranView* view = ViewOf(doc, Window());
  for (int row : pairs) doc->GetTag(row)->m_nDataType = 6;
  doc->GetTag(selected.front())->m_fHighLimit = 55.0f;
  for (int row : selected)
    view->selectionModel()->select(view->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
  int dialogs = 0;
  AnswerNextModal([&](QWidget* modal) {
    auto* dlg = qobject_cast<CDataTypeDlg*>(modal);
    QVERIFY(dlg);
    ++dialogs;
    // Starts from the first tag's configuration; names the range it changes.
    QCOMPARE(dlg->Control<QLineEdit>(1012)->text(), QString("55"));
    const int first = changed.isEmpty() ? selected.front() : changed.front();
    const int last = changed.isEmpty() ? selected.back() : changed.back();
    const int count = changed.isEmpty() ? int(selected.size()) : int(changed.size());
    QCOMPARE(dlg->windowTitle().toStdString(), std::to_string(count) + " tags, " +
                                                   doc->GetTagName(first) + " to " +
                                                   doc->GetTagName(last));
    dlg->Control<QComboBox>(1002)->setCurrentText("SCALED 0-9999");
    dlg->Control<QLineEdit>(1011)->setText("10");
    dlg->Control<QLineEdit>(1012)->setText("20");
    accepted ? dlg->accept() : dlg->reject();
  });
  m_log->texts.clear();
  QAction* edit = view->actions().value(0);
  QVERIFY(edit);
  edit->trigger();
  QVERIFY(AllModalsAnswered());
  QCOMPARE(dialogs, 1);
  for (int row = 0; row < doc->GetTagCount(); ++row) {
    const CModbusTag& tag = *doc->GetTag(row);
    if (changed.contains(row)) {
      QCOMPARE(tag.m_nDataType, 3);
      QCOMPARE(tag.m_fHighLimit, 20.0f);
    } else {
      QVERIFY2(tag.m_nDataType != 3, qPrintable(QString::number(row)));
    }
  }
  QCOMPARE(m_log->texts.empty() ? QString() : QString::fromStdString(m_log->texts.back()), told);
}

void MainWindowTest::scanDefinitionChangesOnlyThePollFrequency() {
  App().m_strPendingEndpoint = "MODBUS1";
  CPelmoranDoc* doc = App().OnFileNew();
  CPelmoranView* view = ViewOf(doc, Window());
  view->Clock().m_bScanInProgress = 1;
  RunWithAnswer(Window(), W::ID_VIEW_SCAN_DEFINITION, [](QWidget* modal) {
    auto* dlg = qobject_cast<CDataDefDlg*>(modal);
    QVERIFY(dlg);
    QCOMPARE(dlg->Control<QComboBox>(1031)->count(), 1);
    QCOMPARE(dlg->Control<QComboBox>(1031)->currentText(), QString("MODBUS1"));
    QVERIFY(!dlg->Control<QLineEdit>(1003)->isEnabled());
    QVERIFY(!dlg->Control<QComboBox>(1002)->isEnabled());
    QCOMPARE(dlg->Control<QLineEdit>(1003)->text(), QString("16"));
    dlg->Control<QLineEdit>(1004)->setText("500");
    dlg->Control<QLineEdit>(1000)->setText("9");  // disabled: a test may still type
    dlg->accept();
  });
  QCOMPARE(doc->m_scan.m_nPollFrequency, 500);
  QCOMPARE(int(doc->m_scan.m_nSlaveNode), 1);
  QVERIFY(view->Clock().m_nTimer != 0);
  // The outstanding poll stays outstanding.
  QCOMPARE(view->Clock().m_bScanInProgress, 1);

  RunWithAnswer(Window(), W::ID_VIEW_SCAN_DEFINITION, [](QWidget* modal) {
    auto* dlg = qobject_cast<CDataDefDlg*>(modal);
    dlg->Control<QLineEdit>(1004)->setText("700");
    dlg->reject();
  });
  QCOMPARE(doc->m_scan.m_nPollFrequency, 500);
}

void MainWindowTest::debugDataShowsTheScan() {
  App().m_pendingScan.m_nPointAddress = 40;
  App().m_pendingScan.m_nPort = 502;
  App().m_pendingScan.m_nSlaveNode = 9;
  CPelmoranDoc* doc = App().OnFileNew();
  doc->m_nNumbrPolls = 12;
  ViewOf(doc, Window())->Clock().m_bScanInProgress = 1;
  RunWithAnswer(Window(), W::ID_VIEW_DEBUG_DATA, [](QWidget* modal) {
    auto* dlg = qobject_cast<CDebugDlg*>(modal);
    QVERIFY(dlg);
    const std::pair<int, const char*> shown[] = {{1017, "12"},  {1018, "1"}, {1004, "1000"},
                                                 {1006, "502"}, {1021, "9"}, {1022, "3"},
                                                 {1001, "40"},  {1003, "16"}};
    for (const auto& [id, text] : shown)
      QCOMPARE(dlg->Control<QLineEdit>(id)->text(), QString(text));
    dlg->reject();
  });
}

void MainWindowTest::closingAChildWindowClosesItsScan() {
  CPelmoranDoc* first = App().OnFileNew();
  App().OnFileNew();
  QCOMPARE(Window().windowTitle(), QString("pelmoran - Pelmor2"));
  qobject_cast<QMdiSubWindow*>(ViewOf(first, Window())->parentWidget())->close();
  QCOMPARE(App().GetDocumentCount(), 1);
  QCOMPARE(App().m_docTemplate.GetDocument(0)->m_strTitle, std::string("Pelmor2"));
  ViewOf(App().m_docTemplate.GetDocument(0), Window())->parentWidget()->close();
  QCOMPARE(App().GetDocumentCount(), 0);
  QCOMPARE(MenuTitles(Window()), QStringList({"&File", "&Modbus", "&Help"}));
  QCOMPARE(Window().windowTitle(), QString("pelmoran"));
  // The retired windows go with the deletions they posted.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QVERIFY(Window().MdiArea().subWindowList().isEmpty());
}

void MainWindowTest::helpTopicsOpensTheManual() {
  QUrl opened;
  MainWindow::UrlOpener() = [&opened](const QUrl& url) {
    opened = url;
    return true;
  };
  QFile::remove(MainWindow::HelpFile());
  Window().Action(W::ID_HELP_FINDER)->trigger();
  QCOMPARE(m_log->texts, std::vector<std::string>{"Failed to launch help."});
  QVERIFY(opened.isEmpty());

  QDir().mkpath(QFileInfo(MainWindow::HelpFile()).path());
  QFile manual(MainWindow::HelpFile());
  QVERIFY(manual.open(QIODevice::WriteOnly));
  manual.write("<html><body>manual</body></html>");
  manual.close();
  Window().Action(W::ID_HELP_FINDER)->trigger();
  QCOMPARE(opened, QUrl::fromLocalFile(MainWindow::HelpFile()));
  opened.clear();
  Window().Action(W::ID_HELP)->trigger();
  QCOMPARE(opened, QUrl::fromLocalFile(MainWindow::HelpFile()));
  QFile::remove(MainWindow::HelpFile());
}

void MainWindowTest::aboutBoxShowsTheVersionAndLogo() {
  QString text;
  RunWithAnswer(Window(), W::ID_APP_ABOUT, [&text](QWidget* modal) {
    auto* about = qobject_cast<AboutDlg*>(modal);
    QVERIFY(about);
    text = about->findChild<QLabel*>("title")->text();
    const QImage shot = about->grab().toImage();
    QVERIFY(!shot.isNull());
    about->findChild<QPushButton*>()->click();
  });
  QVERIFY(text.contains("3.04"));
  QVERIFY(text.contains("pelmoran"));
  QCOMPARE(AboutDlg::Logo().size(), QSize(120, 50));
}

void MainWindowTest::saveAndRestoreThroughTheFileMenu() {
  const QString dir = ScratchDirectory("save");
  const QString config = dir + "/plant.tst";
  const QString scan = dir + "/boiler.scn";
  AddEndpoint(Frame(), "MODBUS1");
  App().m_strPendingEndpoint = "MODBUS1";
  App().m_pendingScan.m_nPollFrequency = 750;
  App().OnFileNew();
  const QString startup = dir + "/pelmoran.tst";
  m_program->frame->m_strConfigPath = startup.toStdString();

  // The dialog offers the file start-up restores.
  AnswerNextModal([config, scan, startup](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    QVERIFY(dialog);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(QDir(dialog->directory()).canonicalPath(),
             QDir(QFileInfo(startup).path()).canonicalPath());
    QCOMPARE(dialog->findChild<QLineEdit*>("fileNameEdit")->text(), QString("pelmoran.tst"));
    // The scan without a file is asked for a name once, after the config.
    AnswerNextModal([scan](QWidget* saveAs) {
      QCOMPARE(qobject_cast<QFileDialog*>(saveAs)->acceptMode(), QFileDialog::AcceptSave);
      ChooseFile(saveAs, scan);
    });
    ChooseFile(modal, config);
  });
  Window().Action(W::ID_SAVE_TEST_CONFIG)->trigger();
  QVERIFY(AllModalsAnswered());
  QVERIFY(QFile::exists(config));
  QVERIFY(QFile::exists(scan));
  QCOMPARE(App().m_docTemplate.GetDocument(0)->m_strTitle, std::string("boiler.scn"));
  QCOMPARE(Window().windowTitle(), QString("pelmoran - boiler.scn"));
  // Saved elsewhere than start-up reads, the operator is told both places.
  QCOMPARE(Window().statusBar()->currentMessage(),
           "Configuration saved to " + config + "; start-up restores " + startup);

  // The second save asks only for the configuration file.
  const QString config2 = dir + "/plant2.tst";
  RunWithAnswer(Window(), W::ID_SAVE_TEST_CONFIG,
                [config2](QWidget* modal) { ChooseFile(modal, config2); });
  QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
  QVERIFY(QFile::exists(config2));

  // Restore replaces what runs by what the file holds.
  App().OnFileNew();
  AddEndpoint(Frame(), "EXTRA");
  RunWithAnswer(Window(), W::ID_RESTORE_TEST_CONFIG, [config](QWidget* modal) {
    QCOMPARE(qobject_cast<QFileDialog*>(modal)->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(modal->findChild<QLineEdit*>("fileNameEdit")->text(), QString("pelmoran.tst"));
    ChooseFile(modal, config);
  });
  QCOMPARE(Frame().m_endpoints.size(), size_t(1));
  QCOMPARE(Frame().m_endpoints[0]->m_strName, std::string("MODBUS1"));
  QCOMPARE(App().GetDocumentCount(), 1);
  CPelmoranDoc* restored = App().m_docTemplate.GetDocument(0);
  QCOMPARE(restored->m_scan.m_nPollFrequency, 750);
  QCOMPARE(restored->m_strTitle, std::string("boiler.scn"));
  QCOMPARE(ViewOf(restored, Window())->model()->rowCount(), 16);
  QCOMPARE(MenuTitles(Window()), QStringList({"&File", "&Modbus", "&View", "&Window", "&Help"}));

  // A restore that is cancelled changes nothing.
  RunWithAnswer(Window(), W::ID_RESTORE_TEST_CONFIG,
                [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
  QCOMPARE(App().GetDocumentCount(), 1);
  QVERIFY(m_log->texts.empty());
}

void MainWindowTest::csvExportAndImportThroughTheFileMenu() {
  const QString dir = ScratchDirectory("csv");
  const QString csv = dir + "/csv";
  const QString bad = dir + "/bad";
  QVERIFY(QDir().mkpath(csv) && QDir().mkpath(bad));
  AddEndpoint(Frame(), "MODBUS1");
  App().m_strPendingEndpoint = "MODBUS1";
  App().OnFileNew()->m_strPathName = (dir + "/boiler.scn").toStdString();
  m_program->frame->m_strConfigPath = (dir + "/pelmoran.tst").toStdString();
  QVERIFY(ConfigFile(App()).SaveTestConfig(m_program->frame->m_strConfigPath));

  RunWithAnswer(Window(), W::ID_EXPORT_CSV, [csv](QWidget* modal) { ChooseFile(modal, csv); });
  for (const char* name : {"endpoints.csv", "scans.csv", "tags.csv"})
    QVERIFY(QFile::exists(csv + "/" + name));

  // A refused import is told, and what runs stays.
  QFile broken(bad + "/endpoints.csv");
  QVERIFY(broken.open(QIODevice::WriteOnly));
  broken.write("endpoint\r\n");
  broken.close();
  AddEndpoint(Frame(), "EXTRA");
  RunWithAnswer(Window(), W::ID_IMPORT_CSV, [bad](QWidget* modal) { ChooseFile(modal, bad); });
  QCOMPARE(m_log->texts, std::vector<std::string>{"The CSV files were not imported: endpoints.csv "
                                                  "row 1: column 1 is not \"name\"."});
  m_log->texts.clear();
  QCOMPARE(Frame().m_endpoints.size(), size_t(2));

  RunWithAnswer(Window(), W::ID_IMPORT_CSV, [csv](QWidget* modal) { ChooseFile(modal, csv); });
  QCOMPARE(Frame().m_endpoints.size(), size_t(1));
  QCOMPARE(Frame().m_endpoints[0]->m_strName, std::string("MODBUS1"));
  QCOMPARE(App().GetDocumentCount(), 1);
  QVERIFY(m_log->texts.empty());

  // A device's register map: endpoint, slave, then the file; saved at once.
  const QString map = dir + "/meter.csv";
  QFile sheet(map);
  QVERIFY(sheet.open(QIODevice::WriteOnly));
  sheet.write("name,address,type\r\nVoltage,40001,Float 32 (BADC)\r\nRun,00001,\r\n");
  sheet.close();
  RunWithAnswer(Window(), W::ID_IMPORT_MAP, [map](QWidget* endpoint) {
    AnswerNextModal([map](QWidget* slave) {
      AnswerNextModal([map](QWidget* file) { ChooseFile(file, map); });
      static_cast<QInputDialog*>(slave)->setIntValue(7);
      Accept(slave);
    });
    Accept(endpoint);
  });
  QVERIFY(m_log->texts.empty());
  const DeviceMap* imported = App().m_deviceMaps.Find("MODBUS1", 7);
  QVERIFY(imported && imported->tags.size() == 2);
  QVERIFY(QFile::exists(dir + "/pelmoran.maps.csv"));
  const QString out = dir + "/out.csv";
  RunWithAnswer(Window(), W::ID_EXPORT_MAP, [out](QWidget* device) {
    AnswerNextModal([out](QWidget* file) { ChooseFile(file, out); });
    Accept(device);
  });
  QVERIFY(QFile::exists(out));
}

void MainWindowTest::oneScanSavedAndOpenedWithTheKeys() {
  const QString dir = ScratchDirectory("keys");
  const QString file = dir + "/pump.scn";
  App().m_strPendingEndpoint = "MODBUS1";
  App().m_pendingScan.m_nScanLength = 4;
  CPelmoranDoc* doc = App().OnFileNew();
  // Ctrl+S without a file asks for one, proposing the title.
  RunWithAnswer(Window(), W::ID_FILE_SAVE, [file](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    QVERIFY(dialog);
    QCOMPARE(dialog->selectedFiles().value(0).section('/', -1), QString("Pelmor1"));
    ChooseFile(modal, file);
  });
  QVERIFY(QFile::exists(file));
  QCOMPARE(doc->m_strPathName, file.toStdString());
  QCOMPARE(Window().windowTitle(), QString("pelmoran - pump.scn"));
  // From then on Ctrl+S saves silently.
  QFile::remove(file);
  Window().Action(W::ID_FILE_SAVE)->trigger();
  QVERIFY(QFile::exists(file));

  RunWithAnswer(Window(), W::ID_FILE_OPEN, [file](QWidget* modal) { ChooseFile(modal, file); });
  QCOMPARE(App().GetDocumentCount(), 2);
  CPelmoranDoc* opened = App().m_docTemplate.GetDocument(1);
  QCOMPARE(opened->GetTagCount(), 4);
  QCOMPARE(opened->m_strTitle, std::string("pump.scn"));
  QCOMPARE(ViewOf(opened, Window())->model()->rowCount(), 4);
}

void MainWindowTest::screenshotWithTwoScans() {
  AddEndpoint(Frame(), "MODBUS1");
  App().m_strPendingEndpoint = "MODBUS1";
  App().OnFileNew();
  App().m_pendingScan.m_nPointType = 4;
  App().OnFileNew();
  Window().MdiArea().tileSubWindows();
  QApplication::sendPostedEvents();
  const QString dir = qEnvironmentVariable("UI_ARTIFACTS", QDir::tempPath());
  QDir().mkpath(dir);
  const QString file = dir + "/main-window-two-scans.png";
  QVERIFY(Window().grab().save(file));
  const QImage image(file);
  QCOMPARE(image.size(), Window().size());
  QCOMPARE(Window().MdiArea().subWindowList().size(), 2);
}

void MainWindowTest::closingAsksToSaveOnlyAfterChanges_data() {
  QTest::addColumn<QString>("change");
  QTest::addColumn<bool>("byExit");  // File Exit, or the program closing its window itself
  QTest::addColumn<int>("answer");   // the button pressed if asked
  QTest::addColumn<bool>("asked");
  QTest::addColumn<bool>("closed");
  const int save = QMessageBox::Save, discard = QMessageBox::Discard;
  const int cancel = QMessageBox::Cancel;
  QTest::newRow("unchanged") << "none" << true << discard << false << true;
  QTest::newRow("endpoint added, cancelled") << "endpoint" << true << cancel << true << false;
  QTest::newRow("endpoint added, saved") << "endpoint" << true << save << true << true;
  QTest::newRow("scan closed, discarded") << "close scan" << true << discard << true << true;
  QTest::newRow("tag edited, discarded") << "edit tag" << true << discard << true << true;
  QTest::newRow("restored after a change") << "restore" << true << discard << false << true;
  // As on SIGTERM: an ending nobody is there to answer for.
  QTest::newRow("endpoint added, program ends") << "endpoint" << false << cancel << false << true;
}

void MainWindowTest::closingAsksToSaveOnlyAfterChanges() {
  QFETCH(QString, change);
  QFETCH(bool, byExit);
  QFETCH(int, answer);
  QFETCH(bool, asked);
  QFETCH(bool, closed);
  const QString dir = ScratchDirectory("closing");
  MainWindow& window = Window();
  if (change == "endpoint") RunWithAnswer(window, W::ID_ENDPOINT_NEW, Accept);
  if (change == "close scan") {
    App().OnFileNew();
    window.MdiArea().currentSubWindow()->close();
  }
  if (change == "edit tag") {
    CPelmoranView* view = ViewOf(App().OnFileNew(), window);
    AnswerNextModal(Accept);
    view->EditTag(0);
    QVERIFY(AllModalsAnswered());
  }
  if (change == "restore") {
    RunWithAnswer(window, W::ID_ENDPOINT_NEW, Accept);
    // Restoring asks nothing, and what runs is then what the file holds.
    RunWithAnswer(window, W::ID_RESTORE_TEST_CONFIG,
                  [dir](QWidget* modal) { ChooseFile(modal, dir + "/none.tst"); });
  }

  bool wasAsked = false;
  AnswerNextModal([&wasAsked, answer, dir](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box);
    wasAsked = true;
    if (answer == QMessageBox::Save)
      AnswerNextModal([dir](QWidget* dialog) { ChooseFile(dialog, dir + "/closing.tst"); });
    box->button(QMessageBox::StandardButton(answer))->click();
  });
  if (byExit)
    window.Action(W::ID_APP_EXIT)->trigger();
  else
    window.close();
  CancelPendingAnswers();
  QCOMPARE(wasAsked, asked);
  QCOMPARE(window.isVisible(), !closed);
  QCOMPARE(QFile::exists(dir + "/closing.tst"), answer == QMessageBox::Save);
}

void MainWindowTest::scanWindowsCarryTheProgramsIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::darkCyan);
  Window().setWindowIcon(QIcon(pixmap));
  App().OnFileNew();
  QMdiSubWindow* child = Window().MdiArea().currentSubWindow();
  QVERIFY(child);
  QCOMPARE(child->windowIcon().cacheKey(), Window().windowIcon().cacheKey());
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
