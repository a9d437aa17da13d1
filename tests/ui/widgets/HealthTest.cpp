// The window's side of a gateway that heals itself: the Options dialog and
// what it saves and applies, the frame trace into its file, the health
// dialog over the Modbus binding's counters with Reconnect now, and the
// Debug dialog read again while open.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <map>

#include "UiFixture.h"
#include "link/EndpointRegistry.h"
#include "link/ModbusBinding.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "runtime/SettingsFile.h"
#include "shell/FrameTrace.h"
#include "shell/MainFrame.h"
#include "shell/MainWindow.h"
#include "ui/DebugDlg.h"
#include "ui/HealthDlg.h"
#include "ui/OptionsDlg.h"

namespace {

using W = MainWindow;

std::map<int, ModbusCounters>& FakeCounters() {
  static std::map<int, ModbusCounters> counters;
  return counters;
}

int FakeGetCounters(int handle, ModbusCounters* counters) {
  const auto it = FakeCounters().find(handle);
  if (it == FakeCounters().end()) return MBS_INVALID_HANDLE;
  *counters = it->second;
  return MBS_OK;
}

int g_connects = 0;
int FakeConnectTcp(uint32_t, uint32_t, const TcpOptions*) { return 100 + ++g_connects; }
void FakeClose(int) {}

// A Modbus/TCP peer that takes connections and never answers: the kernel
// completes the handshake without an accept.
class SilentListener {
 public:
  SilentListener() : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if (bind(m_fd, raw, length) == 0 && listen(m_fd, 1) == 0 &&
        getsockname(m_fd, raw, &length) == 0)
      m_port = ntohs(address.sin_port);
  }
  ~SilentListener() { close(m_fd); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  uint16_t Port() const { return m_port; }

 private:
  int m_fd;
  uint16_t m_port = 0;
};

QString ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList RowTexts(const QTableWidget& table, int row) {
  QStringList texts;
  for (int column = 0; column < table.columnCount(); ++column)
    texts << (table.item(row, column) ? table.item(row, column)->text() : QString());
  return texts;
}

}  // namespace

class HealthTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void optionsDialogChecksItsEntries_data();
  void optionsDialogChecksItsEntries();
  void optionsAreSavedBesideTheConfigurationAndApplied();
  void frameTraceCommandWritesTheTraceFile();
  void healthShowsStateAndCountersAndReconnects();
  void healthShowsEachSlaveNodeOfEachEndpoint();
  void debugDialogIsReadAgainWhileOpen();

 private:
  MainWindow& Window() { return *m_program->window; }
  CMainFrame& Frame() { return *m_program->frame; }
  EndpointRegistry& Endpoints() { return m_program->app->m_endpoints; }
  // The configuration file's directory, emptied, as the frame's.
  QString UseConfigDirectory(const QString& name);

  std::unique_ptr<MessageLog> m_log;
  std::unique_ptr<WindowProgram> m_program;
};

void HealthTest::init() {
  m_program = std::make_unique<WindowProgram>();
  // The window routes message boxes to widgets; the test reads them instead.
  m_log = std::make_unique<MessageLog>();
}

void HealthTest::cleanup() {
  CancelPendingAnswers();
  m_log.reset();
  m_program.reset();
  Modbus() = ModbusBinding{};
  FakeCounters().clear();
}

QString HealthTest::UseConfigDirectory(const QString& name) {
  const QString dir = ScratchDirectory(name);
  Frame().m_strConfigPath = (dir + "/pelmoran.tst").toStdString();
  return dir;
}

void HealthTest::optionsDialogChecksItsEntries_data() {
  QTest::addColumn<QString>("timeouts");
  QTest::addColumn<QString>("hold");
  QTest::addColumn<QString>("message");
  QTest::addColumn<int>("timeoutsHandedBack");
  QTest::addColumn<int>("holdHandedBack");
  const QString between1000 = "Enter an integer between 0 and 1000.";
  const QString betweenDay = "Enter an integer between 1 and 86400.";
  QTest::newRow("lowest") << "0"
                          << "1"
                          << "" << 0 << 1;
  QTest::newRow("highest") << " 1000 "
                           << "86400"
                           << "" << 1000 << 86400;
  QTest::newRow("not a number") << "3x"
                                << "10"
                                << "Enter an integer." << -1 << -1;
  QTest::newRow("negative") << "-1"
                            << "10" << between1000 << -1 << -1;
  QTest::newRow("too many") << "1001"
                            << "10" << between1000 << -1 << -1;
  QTest::newRow("no hold") << "3"
                           << "0" << betweenDay << -1 << -1;
  QTest::newRow("over a day") << "3"
                              << "86401" << betweenDay << -1 << -1;
  QTest::newRow("first refusal only") << "x"
                                      << "0"
                                      << "Enter an integer." << -1 << -1;
}

void HealthTest::optionsDialogChecksItsEntries() {
  QFETCH(QString, timeouts);
  QFETCH(QString, hold);
  QFETCH(QString, message);
  QFETCH(int, timeoutsHandedBack);
  QFETCH(int, holdHandedBack);
  OptionsDlg dlg;
  dlg.m_nTimeouts = 3;
  dlg.m_nHoldSeconds = 10;
  dlg.show();
  QCOMPARE(dlg.Control<QLineEdit>(OptionsDlg::kTimeoutsId)->text(), QString("3"));
  QCOMPARE(dlg.Control<QLineEdit>(OptionsDlg::kHoldSecondsId)->text(), QString("10"));
  dlg.Control<QLineEdit>(OptionsDlg::kTimeoutsId)->setText(timeouts);
  dlg.Control<QLineEdit>(OptionsDlg::kHoldSecondsId)->setText(hold);
  dlg.accept();
  if (message.isEmpty()) {
    QVERIFY(m_log->texts.empty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.m_nTimeouts, timeoutsHandedBack);
    QCOMPARE(dlg.m_nHoldSeconds, holdHandedBack);
  } else {
    QCOMPARE(m_log->texts, std::vector<std::string>{message.toStdString()});
    QVERIFY(dlg.isVisible());
  }
}

void HealthTest::optionsAreSavedBesideTheConfigurationAndApplied() {
  const QString dir = UseConfigDirectory("options");
  const QString ini = dir + "/pelmoran.ini";
  {
    QFile file(ini);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("; kept\n[Other]\nKeep=1\n");
  }
  AddEndpoint(Endpoints(), "PLC");
  auto answer = [](const QString& timeouts, const QString& hold, bool ok) {
    return [=](QWidget* modal) {
      auto* dlg = qobject_cast<OptionsDlg*>(modal);
      QVERIFY(dlg);
      dlg->Control<QLineEdit>(OptionsDlg::kTimeoutsId)->setText(timeouts);
      dlg->Control<QLineEdit>(OptionsDlg::kHoldSecondsId)->setText(hold);
      ok ? dlg->accept() : dlg->reject();
    };
  };

  AnswerNextModal(answer("9", "99", false));
  Window().Action(W::ID_MODBUS_OPTIONS)->trigger();
  QVERIFY(AllModalsAnswered());
  QCOMPARE(ReadAll(ini), QString("; kept\n[Other]\nKeep=1\n"));
  QCOMPARE(Endpoints().m_endpoints[0]->m_demotion.GetPolicy().timeouts, 3);

  AnswerNextModal(answer("5", "30", true));
  Window().Action(W::ID_MODBUS_OPTIONS)->trigger();
  QVERIFY(AllModalsAnswered());
  QCOMPARE(ReadAll(ini),
           QString("; kept\n[Other]\nKeep=1\n[Demotion]\nTimeouts=5\nHoldSeconds=30\n"));
  const DemotionPolicy& running = Endpoints().m_endpoints[0]->m_demotion.GetPolicy();
  QCOMPARE(running.timeouts, 5);
  QCOMPARE(running.holdSeconds, 30);
  // The dialog opens on what runs, and an endpoint made later gets it too.
  AnswerNextModal([](QWidget* modal) {
    auto* dlg = qobject_cast<OptionsDlg*>(modal);
    QCOMPARE(dlg->Control<QLineEdit>(OptionsDlg::kTimeoutsId)->text(), QString("5"));
    dlg->reject();
  });
  Window().Action(W::ID_MODBUS_OPTIONS)->trigger();
  QVERIFY(AllModalsAnswered());
  QCOMPARE(
      Endpoints().AddEndpoint({"LATER", 0, {}, "0.0.0.0", 502})->m_demotion.GetPolicy().holdSeconds,
      30);

  Frame().m_strConfigPath = (dir + "/missing/pelmoran.tst").toStdString();
  AnswerNextModal(answer("4", "40", true));
  Window().Action(W::ID_MODBUS_OPTIONS)->trigger();
  QVERIFY(AllModalsAnswered());
  QCOMPARE(m_log->texts.size(), size_t(1));
  QVERIFY(m_log->texts[0].find("could not be written") != std::string::npos);
  QCOMPARE(Endpoints().m_endpoints[0]->m_demotion.GetPolicy().timeouts, 4);
}

void HealthTest::frameTraceCommandWritesTheTraceFile() {
  const QString trace = UseConfigDirectory("trace") + "/pelmoran-trace.log";
  SilentListener peer;
  QVERIFY(peer.Port() != 0);
  QAction* command = Window().Action(W::ID_MODBUS_TRACE);
  QVERIFY(command->isCheckable());
  QVERIFY(!command->isChecked());
  command->trigger();
  QVERIFY(FrameTrace::IsRunning());

  // A real connection of the library, so that a real frame is traced.
  TcpOptions options{};
  options.timeoutMs = 1000;
  const int handle = ::ConnectTCP2(inet_addr("127.0.0.1"), peer.Port(), &options);
  QVERIFY(handle > 0);
  const RequestHeader header{1, 3, 1, 2};  // addresses count from 1
  // Refused until the connection is up; the macro asks once more at the end.
  bool started = false;
  QTRY_VERIFY(started || (started = ::PollMODBUS(handle, &header) == MBS_OK));
  // MBAP header, then unit 1, function 3, register 0 on the wire, 2 registers.
  QTRY_VERIFY(ReadAll(trace).contains(" 00 00 00 06 01 03 00 00 00 02\n"));
  QVERIFY(ReadAll(trace).contains(" pelmoran: trace handle " + QString::number(handle)));

  command->trigger();
  QVERIFY(!command->isChecked());
  QVERIFY(!FrameTrace::IsRunning());
  ::CloseConnection(handle);
}

void HealthTest::healthShowsStateAndCountersAndReconnects() {
  Modbus().GetModbusCounters = FakeGetCounters;
  Modbus().ConnectTCP2 = FakeConnectTcp;
  Modbus().CloseConnection = FakeClose;
  g_connects = 0;
  AddEndpoint(Endpoints(), "PLC");
  AddEndpoint(Endpoints(), "DOWN");
  AddEndpoint(Endpoints(), "LINE", 2);
  CModbusConnection& plc = *Endpoints().m_endpoints[0];
  plc.m_hConnection = plc.m_hTcpConnection = 7;
  for (int i = 0; i < DemotionPolicy::kDefaultTimeouts; ++i) {
    plc.m_demotion.OnResult(2, MBS_POLL_TIMEOUT);
    plc.m_demotion.OnResult(9, MBS_POLL_TIMEOUT);
  }
  CModbusConnection& line = *Endpoints().m_endpoints[2];
  line.m_hConnection = 8;
  line.m_bDeviceLost = true;
  FakeCounters()[7] = ModbusCounters{120, 100, 15, 2, 3, 4, 5};

  Window().Action(W::ID_MODBUS_HEALTH)->trigger();
  HealthDlg* dlg = Window().HealthDialog();
  QVERIFY(dlg && dlg->isVisible());
  const QTableWidget& table = dlg->Table();
  QCOMPARE(table.rowCount(), 3);
  QCOMPARE(RowTexts(table, 0),
           QStringList({"PLC", "Connected", "2, 9", "120", "100", "15", "2", "3", "4", "5"}));
  QCOMPARE(RowTexts(table, 1),
           QStringList({"DOWN", "Not connected", "", "", "", "", "", "", "", ""}));
  // The library knows no handle 8: no counts rather than zeros.
  QCOMPARE(RowTexts(table, 2),
           QStringList({"LINE", "Device lost", "", "", "", "", "", "", "", ""}));

  // Read again while open, endpoints gone included.
  FakeCounters()[7].timeouts = 16;
  QTRY_COMPARE(table.item(0, HealthDlg::kTimeouts)->text(), QString("16"));
  line.m_hConnection = -1;
  Endpoints().m_endpoints.pop_back();
  QTRY_COMPARE(table.rowCount(), 2);

  // The menu command raises the one dialog rather than opening another.
  Window().Action(W::ID_MODBUS_HEALTH)->trigger();
  QCOMPARE(Window().HealthDialog(), dlg);
  QCOMPARE(Window().findChildren<HealthDlg*>().size(), qsizetype(1));

  dlg->findChild<QPushButton*>("reconnect")->click();
  QCOMPARE(g_connects, 1);
  QCOMPARE(Endpoints().m_endpoints[1]->m_hTcpConnection, 101);
  plc.m_hConnection = plc.m_hTcpConnection = -1;
}

void HealthTest::healthShowsEachSlaveNodeOfEachEndpoint() {
  AddEndpoint(Endpoints(), "PLC");
  AddEndpoint(Endpoints(), "LINE", 2);
  CModbusConnection& plc = *Endpoints().m_endpoints[0];
  for (int i = 0; i < DemotionPolicy::kDefaultTimeouts; ++i)
    plc.m_demotion.OnResult(2, MBS_POLL_TIMEOUT);
  // Scans as their answers left them: endpoint, slave node, the statuses
  // handled in order with their round trips, and the polls sent.
  struct Scan {
    std::string endpoint;
    uint8_t slave;
    std::vector<std::pair<int32_t, int64_t>> answers;
  };
  const Scan scans[] = {
      {"PLC", 2, {{MBS_POLL_TIMEOUT, -1}, {MBS_POLL_TIMEOUT, -1}, {MBS_POLL_TIMEOUT, -1}}},
      {"PLC", 1, {{MBS_OK, 30}, {2, 12}}},
      {"LINE",
       1,
       {{MBS_INVALID_CHECKSUM, 40},
        {MBS_INVALID_RESPONSE, 41},
        {MBS_OK, 9},
        {MBS_SVR_NOT_CONNECTED, -1}}},
      {"PLC", 1, {{MBS_INVALID_CHECKSUM, 7}}},
  };
  for (const Scan& scan : scans) {
    CPelmoranDoc* doc = m_program->app->m_docTemplate.OpenDocumentFile("");
    QVERIFY(doc);
    doc->m_strEndpoint = scan.endpoint;
    doc->m_scan.m_nSlaveNode = scan.slave;
    doc->m_nNumbrPolls = static_cast<int32_t>(scan.answers.size());
    for (const auto& [status, roundTrip] : scan.answers) doc->m_counters.Count(status, roundTrip);
  }

  Window().Action(W::ID_MODBUS_HEALTH)->trigger();
  const QTableWidget& table = Window().HealthDialog()->SlaveTable();
  QCOMPARE(table.rowCount(), 3);
  // By endpoint, then slave node; a slave sums its scans, the last round
  // trip and error being those of its first scan that has one.
  QCOMPARE(RowTexts(table, 0), QStringList({"LINE", "1", "4", "1", "0", "1", "1", "1", "0", "9",
                                            "No", "SVR NOT CONNECTED"}));
  QCOMPARE(RowTexts(table, 1), QStringList({"PLC", "1", "3", "2", "0", "1", "0", "0", "1", "12",
                                            "No", "Slave Exception #2"}));
  QCOMPARE(RowTexts(table, 2),
           QStringList({"PLC", "2", "3", "0", "3", "0", "0", "0", "0", "", "Yes", "POLL TIMEOUT"}));

  // Read again while open: a new answer, a closed scan.
  m_program->app->m_docTemplate.GetDocument(0)->m_counters.Count(MBS_POLL_TIMEOUT, -1);
  QTRY_COMPARE(table.item(2, HealthDlg::kSlaveTimeouts)->text(), QString("4"));
  m_program->app->m_docTemplate.CloseDocument(m_program->app->m_docTemplate.GetDocument(2));
  QTRY_COMPARE(table.rowCount(), 2);
}

void HealthTest::debugDialogIsReadAgainWhileOpen() {
  CDebugDlg dlg;
  dlg.m_nNumbrPolls = 4;
  int reads = 0;
  dlg.m_refresh = [&reads](CDebugDlg& shown) {
    ++reads;
    shown.m_nNumbrPolls = 4 + reads;
    shown.m_nScanInProgress = reads % 2;
  };
  dlg.show();
  auto* polls = dlg.Control<QLineEdit>(1017);
  QCOMPARE(polls->text(), QString("4"));
  QTRY_VERIFY(polls->text().toInt() > 4);
  QCOMPARE(polls->text(), QString::number(4 + reads));
  QCOMPARE(dlg.Control<QLineEdit>(1018)->text(), QString::number(reads % 2));
}

QTEST_MAIN(HealthTest)
#include "HealthTest.moc"
