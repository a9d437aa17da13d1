// What the main window tells about the links without a dialog: the endpoints
// pane (state, where each endpoint connects, its counters, Reconnect now) and
// the status bar's OPC UA address and client count.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <map>

#include "UiFixture.h"
#include "link/EndpointRegistry.h"
#include "link/ModbusBinding.h"
#include "link/ModbusConnection.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/Runtime.h"
#include "shell/MainWindow.h"
#include "ui/EndpointsPane.h"

namespace {

int g_connects = 0;
int g_clients = 0;

int FakeGetCounters(int handle, ModbusCounters* counters) {
  if (handle != 7) return MBS_INVALID_HANDLE;
  *counters = ModbusCounters{120, 100, 15, 2, 3, 4, 0};
  return 0;
}

int FakeConnectTcp(uint32_t, uint32_t, const TcpOptions*) { return 100 + ++g_connects; }
void FakeClose(int) {}

QStringList RowTexts(const QTreeWidget& list, int row) {
  QStringList texts;
  for (int column = 0; column < list.columnCount(); ++column)
    texts << list.topLevelItem(row)->text(column);
  return texts;
}

}  // namespace

class StatusPaneTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void paneShowsEachEndpointAndReconnects();
  void statusBarShowsTheServerAddressAndClients();

 private:
  std::unique_ptr<WindowProgram> m_program;
  EndpointRegistry& Endpoints() { return m_program->app->m_endpoints; }
};

void StatusPaneTest::init() {
  m_program = std::make_unique<WindowProgram>();
  Modbus().GetModbusCounters = FakeGetCounters;
  Modbus().ConnectTCP2 = FakeConnectTcp;
  Modbus().CloseConnection = FakeClose;
}

void StatusPaneTest::cleanup() {
  for (auto& endpoint : Endpoints().m_endpoints)
    endpoint->m_hConnection = endpoint->m_hTcpConnection = -1;
  m_program.reset();
  Modbus() = ModbusBinding{};
  TagServer().GetOPCServerURL = nullptr;
  TagServer().GetOPCClientCount = nullptr;
  unsetenv("PELMORAN_COM3");
}

void StatusPaneTest::paneShowsEachEndpointAndReconnects() {
  setenv("PELMORAN_COM3", "/dev/ttyUSB7", 1);
  g_connects = 0;
  AddEndpoint(Endpoints(), "PLC");
  AddEndpoint(Endpoints(), "DOWN");
  AddEndpoint(Endpoints(), "LINE", 3);
  CModbusConnection& plc = *Endpoints().m_endpoints[0];
  plc.m_hConnection = plc.m_hTcpConnection = 7;
  plc.m_ipAddress = {192, 168, 0, 10};
  plc.m_nPort = 1502;
  EndpointsPane& pane = m_program->window->Endpoints();
  QVERIFY(pane.isVisible());
  // Read again by its own clock, endpoints added meanwhile included.
  QTRY_COMPARE(pane.List().topLevelItemCount(), 3);
  QCOMPARE(RowTexts(pane.List(), 0), QStringList({"PLC", "Connected", "192.168.0.10:1502", "",
                                                  "120", "100", "15", "2", "3", "4"}));
  const QStringList uncounted(6, QString());
  QCOMPARE(RowTexts(pane.List(), 1),
           QStringList({"DOWN", "Not connected", "127.0.0.1:502", ""}) + uncounted);
  QCOMPARE(RowTexts(pane.List(), 2),
           QStringList({"LINE", "Not connected", "COM3 = /dev/ttyUSB7", ""}) + uncounted);

  // Only the Modbus/TCP endpoint without a connection is tried.
  pane.findChild<QPushButton*>("reconnect")->click();
  QCOMPARE(g_connects, 1);
  QCOMPARE(Endpoints().m_endpoints[1]->m_hTcpConnection, 101);
  Endpoints().m_endpoints.pop_back();
  pane.Refresh();
  QCOMPARE(pane.List().topLevelItemCount(), 2);
}

void StatusPaneTest::statusBarShowsTheServerAddressAndClients() {
  MainWindow& window = *m_program->window;
  auto* url = window.findChild<QLineEdit*>("opcUaUrl");
  auto* clients = window.findChild<QLabel*>("opcUaClients");
  QVERIFY(url && clients);
  QCOMPARE(url->text(), QString("OPC UA server not running"));
  QCOMPARE(clients->text(), QString("0 clients"));
  TagServer().GetOPCServerURL = [] { return "opc.tcp://127.0.0.1:4840"; };
  TagServer().GetOPCClientCount = [] { return g_clients; };
  const std::pair<int, QString> counts[] = {{1, "1 client"}, {3, "3 clients"}};
  for (const auto& [count, text] : counts) {
    g_clients = count;
    QTRY_COMPARE(clients->text(), text);
  }
  QCOMPARE(url->text(), QString("opc.tcp://127.0.0.1:4840"));
  // Selectable and never editable: the operator copies it into a client.
  QVERIFY(url->isReadOnly());
  url->selectAll();
  QCOMPARE(url->selectedText(), QString("opc.tcp://127.0.0.1:4840"));
}

QTEST_MAIN(StatusPaneTest)
#include "StatusPaneTest.moc"
