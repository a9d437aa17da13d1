// The faults a new user met in the window, one row each: every row drives the
// window as the operator did and checks what should have happened.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QToolBar>
#include <QTreeWidget>
#include <QHeaderView>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPageLayout>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "UiFixture.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "runtime/SettingsFile.h"
#include "shell/MainFrame.h"
#include "shell/MainWindow.h"
#include "ui/ChildFrame.h"
#include "ui/DataDefDlg.h"
#include "ui/EndPointDlg.h"
#include "ui/PelmoranView.h"
#include "ui/PollClock.h"
#include "ui/DebugDlg.h"
#include "ui/TagListModel.h"
#include "ui/ProjectTree.h"
#include "ui/PropertyPanel.h"
#include "ui/EventLogPane.h"
#include "link/ModbusConnection.h"
#include "ui/RemoveEndpointDlg.h"

namespace {

using W = MainWindow;

struct Session {
  WindowProgram program;
  MessageLog log;
  MainWindow& window = *program.window;
  Runtime& app = *program.app;

  CPelmoranDoc* NewScan(const std::string& endpoint = "MODBUS1") {
    app.m_strPendingEndpoint = endpoint;
    return app.OnFileNew();
  }
  CChildFrame* FrameOf(const CPelmoranDoc* doc) {
    for (QMdiSubWindow* sub : window.MdiArea().subWindowList())
      if (auto* f = qobject_cast<CChildFrame*>(sub); f && !f->IsRetired() && &f->GetDocument() == doc)
        return f;
    return nullptr;
  }
  void Run(int id) {
    window.UpdateCommandUI();
    window.Action(id)->trigger();
  }
};

// Answers the next question box: checks its text holds every part and that
// its default button is the one given, then presses the answer.
void AnswerQuestion(QStringList parts, QMessageBox::StandardButton defaultButton,
                    QMessageBox::StandardButton answer) {
  AnswerNextModal([=](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box);
    for (const QString& part : parts) QVERIFY2(box->text().contains(part), qPrintable(box->text()));
    QCOMPARE(box->standardButton(box->defaultButton()), defaultButton);
    box->button(answer)->click();
  });
}

void ClosingAWindowKeepsTheScanPolling(Session& s) {
  AddEndpoint(s.app.m_endpoints, "MODBUS1");
  CPelmoranDoc* doc = s.NewScan();
  PollClock& clock = s.FrameOf(doc)->View().Clock();
  clock.SetPollFrequency(PollClock::kMinimumPeriodMs);
  s.Run(W::ID_FILE_CLOSE);
  QCOMPARE(s.app.GetDocumentCount(), 1);
  QVERIFY(s.FrameOf(doc) == nullptr);
  QSignalSpy polled(&clock, &PollClock::tagValuesRefreshed);
  QVERIFY(polled.wait(2000));
  // The Window menu names it and shows it again.
  QMenu* menu = nullptr;
  s.window.UpdateFrame();
  QAction* entry = nullptr;
  for (QMenu* m : s.window.findChildren<QMenu*>())
    if (m->title() == "&Window") menu = m;
  emit menu->aboutToShow();
  for (QAction* a : menu->actions())
    if (a->text() == "&1 Pelmor1 (closed)") entry = a;
  QVERIFY(entry);
  entry->trigger();
  QVERIFY(s.FrameOf(doc));
  QCOMPARE(s.FrameOf(doc)->View().model()->rowCount(), 16);
}

void DeleteAsksNamingTheScanAndDefaultsToNo(Session& s) {
  QVERIFY(!(s.window.UpdateCommandUI(), s.window.Action(W::ID_DATA_DELETE)->isEnabled()));
  CPelmoranDoc* doc = s.NewScan();
  s.window.UpdateCommandUI();
  QVERIFY(s.window.Action(W::ID_DATA_DELETE)->isEnabled());
  QCOMPARE(s.window.Action(W::ID_DATA_DELETE)->shortcut(), QKeySequence(QKeySequence::Delete));
  AnswerQuestion({"Delete scan Pelmor1", "16 tags", "MODBUS1"}, QMessageBox::No, QMessageBox::No);
  s.Run(W::ID_DATA_DELETE);
  QVERIFY(AllModalsAnswered());
  QCOMPARE(s.app.GetDocumentCount(), 1);
  // From the tag list's context menu, answered Yes.
  AnswerQuestion({"Pelmor1"}, QMessageBox::No, QMessageBox::Yes);
  for (QAction* a : s.FrameOf(doc)->View().actions())
    if (a->text() == "Delete Scan...") a->trigger();
  QVERIFY(AllModalsAnswered());
  QCOMPARE(s.app.GetDocumentCount(), 0);
}

void RemovingAnEndpointWithScansAsksWithTheCount(Session& s) {
  AddEndpoint(s.app.m_endpoints, "MODBUS1");
  for (int i = 0; i < 4; ++i) s.NewScan();
  for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    AnswerNextModal([answer](QWidget* modal) {
      AnswerQuestion({"Remove endpoint MODBUS1?", "4 scans"}, QMessageBox::No, answer);
      static_cast<QDialog*>(modal)->accept();
    });
    s.Run(W::ID_ENDPOINT_REMOVE);
    QVERIFY(AllModalsAnswered());
    QCOMPARE(s.app.m_endpoints.m_endpoints.size(), size_t(answer == QMessageBox::No ? 1 : 0));
  }
  QCOMPARE(s.app.GetDocumentCount(), 4);
}

// Types each entry into the dialog of the command and presses OK: the dialog
// must stay open with what was typed, and say why naming the field.
template <class Dialog>
void RefusedWhereTyped(Session& s, int command,
                       std::vector<std::pair<int, QString>> entries, std::string message) {
  s.log.texts.clear();
  s.window.UpdateCommandUI();
  AnswerNextModal([&](QWidget* modal) {
    auto* dlg = qobject_cast<Dialog*>(modal);
    QVERIFY(dlg);
    for (const auto& [id, text] : entries) {
      if (auto* edit = dlg->template Control<QLineEdit>(id))
        edit->setText(text);
      else
        dlg->template Control<QComboBox>(id)->setEditText(text);
    }
    dlg->accept();
    QVERIFY(dlg->isVisible());
    for (const auto& [id, text] : entries) {
      auto* edit = dlg->template Control<QLineEdit>(id);
      QCOMPARE(edit ? edit->text() : dlg->template Control<QComboBox>(id)->currentText(), text);
    }
    dlg->reject();
  });
  const int scans = s.app.GetDocumentCount();
  const size_t endpoints = s.app.m_endpoints.m_endpoints.size();
  s.window.Action(command)->trigger();
  QVERIFY(AllModalsAnswered());
  QCOMPARE(s.log.texts, std::vector<std::string>{message});
  QCOMPARE(s.app.GetDocumentCount(), scans);
  QCOMPARE(s.app.m_endpoints.m_endpoints.size(), endpoints);
}

void BadScanDefinitionsAreRefusedWhereTyped(Session& s) {
  AddEndpoint(s.app.m_endpoints, "MODBUS1");
  const int address = 1001, length = 1003, endpoint = 1031;
  const std::string range = "Point Address: Enter an integer between 1 and 65535.";
  RefusedWhereTyped<CDataDefDlg>(s, W::ID_DATA_NEW, {{address, "70000"}}, range);
  RefusedWhereTyped<CDataDefDlg>(s, W::ID_DATA_NEW, {{address, "0"}}, range);
  RefusedWhereTyped<CDataDefDlg>(s, W::ID_DATA_NEW, {{address, "65500"}, {length, "100"}},
                                 "Scan Length: The scan would end past address 65536: enter at "
                                 "most 37.");
  RefusedWhereTyped<CDataDefDlg>(s, W::ID_DATA_NEW, {{endpoint, "MODBUS9"}},
                                 "Endpoint: There is no endpoint named \"MODBUS9\". Choose one "
                                 "from the list, or add it first.");
}

void BadEndpointNamesAreRefusedNotCut(Session& s) {
  const int name = 1000;
  RefusedWhereTyped<CEndPointDlg>(
      s, W::ID_ENDPOINT_NEW, {{name, ""}},
      "Endpoint Name: Enter a name: scans and tags are named after their endpoint.");
  RefusedWhereTyped<CEndPointDlg>(s, W::ID_ENDPOINT_NEW, {{name, QString(110, 'P')}},
                                  "Endpoint Name: Enter no more than 99 characters.");
}

void GridRowsRefreshWholeWithQualityInSight(Session& s) {
  CPelmoranDoc* doc = s.NewScan();
  CPelmoranView& view = s.FrameOf(doc)->View();
  doc->m_scan.SetStatus(ScanStatus::PollTimeout);
  QSignalSpy changed(view.model(), &QAbstractItemModel::dataChanged);
  view.Clock().OnScanComplete();
  QCOMPARE(changed.count(), 1);
  // The name cell's tint is refreshed with the rest of its row.
  QCOMPARE(changed[0][0].toModelIndex().column(), 0);
  const auto name = view.model()->index(0, TagListModel::kName);
  const auto quality = view.model()->index(0, TagListModel::kQuality);
  QCOMPARE(name.data(Qt::BackgroundRole), quality.data(Qt::BackgroundRole));
  // Beside the name, with a sign besides the tint.
  QCOMPARE(view.header()->visualIndex(TagListModel::kQuality), 1);
  QCOMPARE(view.header()->visualIndex(TagListModel::kStatus), 2);
  QVERIFY(!quality.data(Qt::DecorationRole).value<QIcon>().isNull());
  QVERIFY(view.header()->stretchLastSection());
}

void LongTextsAreElidedWithTheirTip(Session& s) {
  CPelmoranDoc* doc = s.NewScan();
  CPelmoranView& view = s.FrameOf(doc)->View();
  // Every type text fits its column; what does not fit elsewhere is in the tip.
  const QFontMetrics metrics(view.font());
  QVERIFY(view.columnWidth(TagListModel::kType) > metrics.horizontalAdvance("Unsigned 64 (DCBA)"));
  QCOMPARE(view.textElideMode(), Qt::ElideRight);
  doc->m_scan.SetStatus(ScanStatus::ChannelNotConnected);
  const auto status = view.model()->index(0, TagListModel::kStatus);
  QCOMPARE(status.data(Qt::ToolTipRole), status.data());
  const auto name = view.model()->index(0, TagListModel::kName);
  QCOMPARE(name.data(Qt::ToolTipRole), name.data());
}

void UnfinishedTextsAreGone(Session& s) {
  CDebugDlg debug(&s.window);
  CEndPointDlg endpoint(&s.window);
  endpoint.m_serial = SerialSettings{};
  endpoint.show();  // its lists are filled as it opens
  QStringList texts;
  for (QLabel* label : debug.findChildren<QLabel*>()) texts << label->text();
  for (QComboBox* list : endpoint.findChildren<QComboBox*>())
    for (int i = 0; i < list->count(); ++i) texts << list->itemText(i);
  for (const char* unfinished : {"NumbrPolls", "Msg Type", "modbusTCP"})
    QVERIFY2(texts.filter(unfinished).isEmpty(), unfinished);
  QVERIFY(texts.contains("Polls Sent:"));
  QVERIFY(texts.contains("Remote Modbus/TCP Server"));
}

void CommandsAreInSightWithTheirKeys(Session& s) {
  auto* hint = s.window.findChild<QLabel*>("firstStartHint");
  QVERIFY(hint && hint->isVisible());
  QVERIFY(hint->text().startsWith("Add an endpoint to begin"));
  QMenu* file = nullptr;
  for (QAction* top : s.window.menuBar()->actions())
    if (top->text() == "&File") file = top->menu();
  QVERIFY(file);
  auto* tools = s.window.findChild<QToolBar*>("mainToolBar");
  QVERIFY(tools && tools->isVisible());
  for (int id : {W::ID_FILE_NEW, W::ID_FILE_OPEN, W::ID_FILE_SAVE, W::ID_FILE_PRINT}) {
    QAction* action = s.window.Action(id);
    QVERIFY(file->actions().contains(action));
    QVERIFY(tools->actions().contains(action));
    QVERIFY(!action->shortcut().isEmpty());
  }
  QVERIFY(file->actions().contains(s.window.Action(W::ID_SAVE_TEST_CONFIG)));
  // Saving needs no open scan.
  s.window.UpdateCommandUI();
  QVERIFY(s.window.Action(W::ID_FILE_SAVE)->isEnabled());
  AddEndpoint(s.app.m_endpoints, "MODBUS1");
  s.window.UpdateCommandUI();
  QVERIFY(hint->text().startsWith("Add a scan"));
  s.NewScan();
  s.window.UpdateCommandUI();
  QVERIFY(!hint->isVisible());
}

void OneSaveAsIsOneDialogAndReplacesByDefault(Session& s) {
  const QString dir = QDir::temp().filePath("pelmoran-ui-faults-save");
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  const QString config = dir + "/plant.tst";
  QFile(config).open(QIODevice::WriteOnly);
  for (int i = 0; i < 5; ++i) s.NewScan();
  int dialogs = 0;
  AnswerNextModal([&](QWidget* modal) {
    ++dialogs;
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    QVERIFY(dialog);
    dialog->findChild<QLineEdit*>("fileNameEdit")->setText(config);
    // The file is there: replacing it is the default answer.
    AnswerQuestion({"plant.tst already exists. Replace it?"}, QMessageBox::Yes, QMessageBox::Yes);
    // Any dialog after that is one too many.
    AnswerNextModal([&](QWidget* extra) {
      ++dialogs;
      static_cast<QDialog*>(extra)->reject();
    });
    static_cast<QDialog*>(dialog)->accept();
  });
  s.Run(W::ID_SAVE_TEST_CONFIG);
  QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
  CancelPendingAnswers();
  QCOMPARE(dialogs, 1);
  QVERIFY(QFileInfo(config).size() > 0);
  for (int i = 1; i <= 5; ++i) QVERIFY(QFile::exists(dir + QString("/Pelmor%1.scn").arg(i)));
}

void TileKeepsTheWindowOnTheScreen(Session& s) {
  const QRect screen = s.window.screen()->availableGeometry();
  s.window.setGeometry(screen.adjusted(0, 0, -screen.width() / 4, -screen.height() / 4));
  for (int i = 0; i < 100; ++i) s.NewScan();
  for (int command : {W::ID_WINDOW_TILE, W::ID_WINDOW_CASCADE, W::ID_WINDOW_TILE}) {
    s.Run(command);
    QApplication::processEvents();
    QVERIFY(screen.contains(s.window.frameGeometry()));
  }
}

void LayoutKeepsMaximizedScansAndNoSizePastTheScreen(Session& s) {
  const QString dir = QDir::temp().filePath("pelmoran-ui-faults-layout");
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  s.program.frame->m_strConfigPath = (dir + "/pelmoran.tst").toStdString();
  const QRect screen = s.window.screen()->availableGeometry();
  s.window.resize(screen.width() * 2, screen.height() * 2);
  CPelmoranDoc* doc = s.NewScan();
  s.FrameOf(doc)->showMaximized();
  QVERIFY(s.window.SaveLayout());
  const SettingsFile file = SettingsFile::Load(s.program.frame->SettingsPath());
  QVERIFY(file.GetInt("Window", "Width", 0, 0, 1 << 20) <= screen.width());
  QVERIFY(file.GetInt("Window", "Height", 0, 0, 1 << 20) <= screen.height());
  s.Run(W::ID_FILE_CLOSE);
  s.window.OpenScan(doc);
  QVERIFY(s.FrameOf(doc) && s.FrameOf(doc)->isMaximized());
}

void PrintoutHasMarginsDefinitionAndQuality(Session& s) {
  CPelmoranDoc* doc = s.NewScan();
  CPelmoranView& view = s.FrameOf(doc)->View();
  const QMarginsF margins = view.Printer().pageLayout().margins(QPageLayout::Millimeter);
  for (double side : {margins.left(), margins.top(), margins.right(), margins.bottom()})
    QVERIFY(qAbs(side - 15.0) < 0.5);
  const QString pdf = QDir::temp().filePath("pelmoran-ui-faults-print.pdf");
  view.Printer().setOutputFormat(QPrinter::PdfFormat);
  view.Printer().setOutputFileName(pdf);
  view.m_printer.ChooseTagDescriptions();
  view.m_printer.PrintLoop(view.Printer());
  QProcess text;
  text.start("pdftotext", {"-layout", pdf, "-"});
  QVERIFY(text.waitForFinished(10000));
  const QString page = QString::fromUtf8(text.readAllStandardOutput());
  QVERIFY2(page.contains("Slave 1, HOLDING REGISTER 1 to 16, 16 points, polled every 1000 ms"),
           qPrintable(page));
  QVERIFY(page.contains(QRegularExpression("High Limit\\s+Quality")));
  QVERIFY(page.contains(QRegularExpression("40016.*Bad")));
}

QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& name) {
  for (int i = 0; parent && i < parent->childCount(); ++i)
    if (parent->child(i)->text(0) == name) return parent->child(i);
  return nullptr;
}

void TreeShowsWhatRunsAndWhy(Session& s) {
  AddEndpoint(s.app.m_endpoints, "LINE4", 4);
  CModbusConnection& line = *s.app.m_endpoints.m_endpoints[0];
  CPelmoranDoc* doc = s.NewScan("LINE4");
  for (int i = 0; i < 3; ++i) line.m_demotion.OnResult(1, ToNumber(ScanStatus::PollTimeout));
  doc->m_scan.SetStatus(ScanStatus::PollTimeout);
  ProjectTree& tree = s.window.Tree();
  QVERIFY(tree.isVisible());
  tree.Refresh();
  QTreeWidgetItem* endpoint = tree.Tree().topLevelItem(0);
  QCOMPARE(endpoint->text(ProjectTree::kName), QString("LINE4"));
  // Never "Connected" alone while its device is held back.
  QVERIFY2(endpoint->text(ProjectTree::kState).contains("demoted: slave 1"),
           qPrintable(endpoint->text(ProjectTree::kState)));
  QTreeWidgetItem* device = Child(endpoint, "Slave 1");
  QVERIFY(device);
  QVERIFY(device->text(ProjectTree::kState).startsWith("Demoted"));
  QTreeWidgetItem* scan = Child(device, "Pelmor1");
  QVERIFY(scan);
  QCOMPARE(scan->text(ProjectTree::kState), QString("Failing: POLL TIMEOUT"));
  QVERIFY(!scan->icon(ProjectTree::kName).isNull());
  // A device's register map hangs under it with its tags and the cost of its plan.
  DeviceMap map;
  map.endpoint = "LINE4";
  map.slave = 2;
  map.deviceName = "METER";
  for (auto [name, offset] : {std::pair{"VOLTS", 0}, {"AMPS", 4}}) {
    MapTag tag;
    tag.name = name;
    tag.offset = static_cast<uint16_t>(offset);
    tag.address = "HR" + std::to_string(offset + 1);
    map.tags.push_back(tag);
  }
  s.app.m_deviceMaps.Put(map);
  tree.Refresh();
  QTreeWidgetItem* mapItem = Child(Child(endpoint, "Slave 2 (METER)"), "Register map");
  QVERIFY(mapItem);
  QCOMPARE(mapItem->text(ProjectTree::kState), QString("2 tags in 1 reads"));
  QVERIFY(mapItem->toolTip(ProjectTree::kName).contains("holding registers 0-4 (5), 2 tags"));
  QVERIFY(Child(mapItem, "AMPS"));
  s.app.m_deviceMaps.Remove("LINE4", 2);
  tree.Refresh();
  endpoint = tree.Tree().topLevelItem(0);
  QVERIFY(!Child(endpoint, "Slave 2 (METER)"));
  scan = Child(Child(endpoint, "Slave 1"), "Pelmor1");
  QVERIFY(scan);
  // A closed scan's window comes back with a double-click.
  s.Run(W::ID_FILE_CLOSE);
  QVERIFY(!s.FrameOf(doc));
  emit tree.Tree().itemDoubleClicked(scan, 0);
  QVERIFY(s.FrameOf(doc));
  // Delete on the endpoint's item names the endpoint and its scan.
  tree.Tree().setCurrentItem(endpoint);
  AnswerQuestion({"Remove endpoint LINE4?", "1 scan poll"}, QMessageBox::No, QMessageBox::No);
  s.Run(W::ID_DATA_DELETE);
  QVERIFY(AllModalsAnswered());
  QCOMPARE(s.app.m_endpoints.m_endpoints.size(), size_t(1));
}

// Types into the panel's field and leaves it, as the operator does.
void Type(PropertyPanel& panel, const QString& field, const QString& text) {
  for (QLineEdit* edit : panel.findChildren<QLineEdit*>())
    if (edit->accessibleName() == field) {
      edit->setText(text);
      emit edit->editingFinished();
      return;
    }
  QFAIL(qPrintable("no field " + field));
}

void EditingGoesOnAfterCreation(Session& s) {
  EndpointChoice choice = s.app.m_endpoints.ProposeEndpoint();
  choice.strName = "PLC";
  s.app.m_endpoints.AddEndpoint(choice);
  CPelmoranDoc* doc = s.NewScan("PLC");
  PropertyPanel& panel = s.window.Properties();
  s.window.Tree().SelectEndpoint("PLC");
  QCOMPARE(panel.Endpoint(), std::string("PLC"));
  Type(panel, "IP Address", "10.0.0.7");
  Type(panel, "Time-out (ms)", "750");
  const CModbusConnection* plc = s.app.m_endpoints.FindEndpoint("PLC");
  QCOMPARE(plc->HostText(), std::string("10.0.0.7"));
  QCOMPARE(plc->m_nTimeout, 750);
  s.log.texts.clear();
  Type(panel, "Service Port", "70000");
  QCOMPARE(s.log.texts,
           std::vector<std::string>{"Service Port: Enter an integer between 1 and 65535."});
  QCOMPARE(s.app.m_endpoints.FindEndpoint("PLC")->m_nPort, 502);
  // Renamed, its scans follow with their tags.
  Type(panel, "Endpoint Name", "PLC2");
  QCOMPARE(s.app.m_endpoints.GetEndpointNames(), std::vector<std::string>{"PLC2"});
  QCOMPARE(s.app.m_docTemplate.GetDocument(0)->m_strEndpoint, std::string("PLC2"));
  QCOMPARE(panel.Endpoint(), std::string("PLC2"));

  doc = s.app.m_docTemplate.GetDocument(0);
  s.window.Tree().Select(*doc);
  QCOMPARE(panel.Scan(), doc);
  Type(panel, "Point Address", "40");
  doc = s.app.m_docTemplate.GetDocument(0);
  QCOMPARE(int(doc->m_scan.m_nPointAddress), 40);
  QCOMPARE(panel.Scan(), doc);
  Type(panel, "Scan Name", "Boiler");
  QCOMPARE(doc->m_strTitle, std::string("Boiler"));
  s.log.texts.clear();
  Type(panel, "Slave Node", "300");
  QCOMPARE(s.log.texts,
           std::vector<std::string>{"Slave Node: Enter an integer between 0 and 255."});
  auto* type = panel.findChild<QComboBox*>(QString(), Qt::FindChildrenRecursively);
  for (QComboBox* list : panel.findChildren<QComboBox*>())
    if (list->accessibleName() == "Data Type") type = list;
  type->setCurrentIndex(type->findText("LONG INTEGER"));
  emit type->activated(type->currentIndex());
  doc = s.app.m_docTemplate.GetDocument(0);
  QCOMPARE(doc->GetTag(0)->m_nDataType, type->currentData().toInt());
  QCOMPARE(doc->m_strTitle, std::string("Boiler"));
}

QStringList Shown(const QTreeWidget& list) {
  QStringList lines;
  for (int i = 0; i < list.topLevelItemCount(); ++i)
    if (!list.topLevelItem(i)->isHidden())
      lines << list.topLevelItem(i)->text(EventLogPane::kEndpoint) + ": " +
                   list.topLevelItem(i)->text(EventLogPane::kText);
  return lines;
}

void EventsAreLoggedFilteredAndWritten(Session& s) {
  const QString dir = QDir::temp().filePath("pelmoran-ui-faults-events");
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  s.program.frame->m_strConfigPath = (dir + "/pelmoran.tst").toStdString();
  AddEndpoint(s.app.m_endpoints, "LINE4", 4);
  AddEndpoint(s.app.m_endpoints, "LINE5", 5);
  CPelmoranDoc* doc = s.NewScan("LINE4");
  EventLogPane& log = s.window.EventLog();
  log.Watch();
  const int first = log.List().topLevelItemCount();
  doc->m_scan.SetStatus(ScanStatus::PollTimeout);
  for (int i = 0; i < 3; ++i)
    s.app.m_endpoints.m_endpoints[0]->m_demotion.OnResult(1, ToNumber(ScanStatus::PollTimeout));
  log.Watch();
  QCOMPARE(Shown(log.List()).mid(first),
           QStringList({"LINE4: device 1 demoted", "LINE4: scan Pelmor1: POLL TIMEOUT"}));
  // Filtered by endpoint and by severity.
  log.EndpointFilter().setCurrentText("LINE5");
  QVERIFY(Shown(log.List()).filter("LINE4").isEmpty());
  QVERIFY(!Shown(log.List()).isEmpty());
  log.EndpointFilter().setCurrentIndex(0);
  log.SeverityFilter().setCurrentIndex(1);
  for (int i = 0; i < log.List().topLevelItemCount(); ++i)
    if (!log.List().topLevelItem(i)->isHidden())
      QCOMPARE(log.List().topLevelItem(i)->text(EventLogPane::kSeverity), QString("warning"));
  QFile file(QString::fromStdString(s.window.EventFilePath()));
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QString written = QString::fromUtf8(file.readAll());
  QVERIFY(written.contains(QRegularExpression("T\\d\\d:\\d\\d:\\d\\d\\.\\d{3} warning LINE4: device 1 demoted\n")));
}

struct Fault {
  const char* name;
  void (*check)(Session&);
};

const Fault kFaults[] = {
    {"closing a scan window deleted the scan", ClosingAWindowKeepsTheScanPolling},
    {"delete was greyed and nothing asked", DeleteAsksNamingTheScanAndDefaultsToNo},
    {"removing an endpoint with scans did not ask", RemovingAnEndpointWithScansAsksWithTheCount},
    {"address 70000 wrapped, 0 taken, unknown endpoint lost what was typed",
     BadScanDefinitionsAreRefusedWhereTyped},
    {"empty endpoint name taken, long one cut", BadEndpointNamesAreRefusedNotCut},
    {"name cell kept its tint, quality and status off-screen",
     GridRowsRefreshWholeWithQualityInSight},
    {"value and type texts clipped", LongTextsAreElidedWithTheirTip},
    {"unfinished texts", UnfinishedTextsAreGone},
    {"print, open, save and new only as shortcuts; no save without a scan",
     CommandsAreInSightWithTheirKeys},
    {"one save opened six dialogs; the replace question defaulted to No",
     OneSaveAsIsOneDialogAndReplacesByDefault},
    {"tile grew the main window past the screen", TileKeepsTheWindowOnTheScreen},
    {"a size past the screen was saved; a maximized scan came back unmaximized",
     LayoutKeepsMaximizedScansAndNoSizePastTheScreen},
    {"printout with 3 mm margins, no definition, no quality", PrintoutHasMarginsDefinitionAndQuality},
    {"no tree of what runs; a serial endpoint Connected while its device was demoted",
     TreeShowsWhatRunsAndWhy},
    {"an endpoint's address or a scan's address could not be changed after creation",
     EditingGoesOnAfterCreation},
    {"no log of what changed", EventsAreLoggedFilteredAndWritten},
};

}  // namespace

class WindowFaultsTest : public QObject {
  Q_OBJECT
 private slots:
  void faults_data();
  void faults();
  void cleanup() { CancelPendingAnswers(); }
};

void WindowFaultsTest::faults_data() {
  QTest::addColumn<int>("fault");
  for (int i = 0; i < int(std::size(kFaults)); ++i) QTest::newRow(kFaults[i].name) << i;
}

void WindowFaultsTest::faults() {
  QFETCH(int, fault);
  Session session;
  session.log.texts.clear();
  kFaults[fault].check(session);
}

QTEST_MAIN(WindowFaultsTest)
#include "WindowFaultsTest.moc"
