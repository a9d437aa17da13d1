// A whole operator session on the real widgets and the real core, with a
// Modbus master library stand-in that answers every poll with rising values:
// define an endpoint and a scan, watch the values change, save, start again
// and see the same scan restored and polling.
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "UiFixture.h"
#include "link/ModbusBinding.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "shell/MainFrame.h"
#include "shell/MainWindow.h"
#include "ui/DataDefDlg.h"
#include "ui/DebugDlg.h"
#include "ui/EndPointDlg.h"
#include "ui/PelmoranView.h"
#include "ui/WidgetViewFactory.h"

namespace {

constexpr int kHandle = 7;
RequestHeader g_lastPoll{};
int g_nPolls = 0;

int FakeConnectRtu(int, int, const SerialSettings*) { return kHandle; }
void FakeEnableCallback(int, ModbusCallback) {}
void FakeClose(int) {}

// Answers later, from the event loop, as the library's thread would.
int FakePoll(int handle, const RequestHeader* header) {
  g_lastPoll = *header;
  QTimer::singleShot(0, [handle] { OnModbusCallback(handle, 0, 0); });
  return 0;
}

int FakeResponse(int, RequestHeader* header, uint16_t* data, int capacity) {
  *header = g_lastPoll;
  ++g_nPolls;
  for (int i = 0; i < std::min<int>(header->length, capacity); ++i)
    data[i] = static_cast<uint16_t>(g_nPolls * 10 + i);
  return 0;
}

void InstallFakeModbus() {
  Modbus().ConnectRTU = FakeConnectRtu;
  Modbus().EnableModbusCallback = FakeEnableCallback;
  Modbus().PollMODBUS = FakePoll;
  Modbus().MODBUSResponse = FakeResponse;
  Modbus().CloseConnection = FakeClose;
}

void ChooseFile(QWidget* modal, const QString& path) {
  auto* dialog = qobject_cast<QFileDialog*>(modal);
  QVERIFY(dialog);
  dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
  static_cast<QDialog*>(dialog)->accept();
}

void Run(MainWindow& window, int id, std::function<void(QWidget*)> answer) {
  window.UpdateCommandUI();
  AnswerNextModal(std::move(answer));
  window.Action(id)->trigger();
  QVERIFY(AllModalsAnswered());
}

QString ValueOfRow(MainWindow& window, int row) {
  CPelmoranView* view = window.ActiveView();
  return view ? view->model()->index(row, 1).data().toString() : QString();
}

}  // namespace

class OperatorSessionTest : public QObject {
  Q_OBJECT

 private slots:
  void defineWatchSaveAndRestore();
};

void OperatorSessionTest::defineWatchSaveAndRestore() {
  InstallFakeModbus();
  const QString dir = ScratchDirectory("session");
  const QString config = dir + "/session.tst";
  auto program = std::make_unique<WindowProgram>();
  MessageLog log;
  MainWindow& window = *program->window;

  Run(window, MainWindow::ID_ENDPOINT_NEW, [](QWidget* modal) {
    auto* dlg = qobject_cast<CEndPointDlg*>(modal);
    dlg->Control<QComboBox>(1027)->setCurrentIndex(3);
    dlg->accept();
  });
  QVERIFY(program->frame->Endpoints().IsEndpointConnected("MODBUS1"));
  Run(window, MainWindow::ID_DATA_NEW, [](QWidget* modal) {
    auto* dlg = qobject_cast<CDataDefDlg*>(modal);
    dlg->Control<QLineEdit>(1004)->setText("100");
    dlg->Control<QLineEdit>(1003)->setText("4");
    dlg->accept();
  });
  QCOMPARE(window.ActiveView()->model()->rowCount(), 4);
  QTRY_VERIFY_WITH_TIMEOUT(ValueOfRow(window, 3).toInt() > 0, 5000);
  const int seen = ValueOfRow(window, 3).toInt();
  QCOMPARE(seen % 10, 3);
  QTRY_VERIFY_WITH_TIMEOUT(ValueOfRow(window, 3).toInt() > seen, 5000);
  QCOMPARE(int(g_lastPoll.function), 3);
  QCOMPARE(int(g_lastPoll.length), 4);

  Run(window, MainWindow::ID_VIEW_DEBUG_DATA, [](QWidget* modal) {
    auto* dlg = qobject_cast<CDebugDlg*>(modal);
    QVERIFY(dlg->Control<QLineEdit>(1017)->text().toInt() >= 2);
    QCOMPARE(dlg->Control<QLineEdit>(1006)->text(), QString("3"));
    dlg->reject();
  });

  // One dialog, for the configuration; the scan is named beside it.
  AnswerNextModal([config](QWidget* modal) { ChooseFile(modal, config); });
  window.Action(MainWindow::ID_SAVE_TEST_CONFIG)->trigger();
  QVERIFY(AllModalsAnswered());
  QVERIFY(log.texts.empty());

  // Quit and start again: the configuration comes back as it was saved.
  program.reset();
  program = std::make_unique<WindowProgram>();
  const int pollsBefore = g_nPolls;
  program->frame->RestoreConfig(config.toStdString());
  MainWindow& again = *program->window;
  QCOMPARE(program->frame->Endpoints().m_endpoints.size(), size_t(1));
  QCOMPARE(program->frame->Endpoints().m_endpoints[0]->m_nPort, 3);
  QCOMPARE(program->app->GetDocumentCount(), 1);
  CPelmoranDoc* doc = program->app->m_docTemplate.GetDocument(0);
  QCOMPARE(doc->m_scan.m_nPollFrequency, 100);
  QCOMPARE(again.windowTitle(), QString("pelmoran - Pelmor1.scn"));
  QTRY_VERIFY_WITH_TIMEOUT(g_nPolls > pollsBefore + 1, 5000);
  QTRY_VERIFY_WITH_TIMEOUT(ValueOfRow(again, 0).toInt() > pollsBefore * 10, 5000);
  program.reset();
  Modbus() = ModbusBinding{};
}

QTEST_MAIN(OperatorSessionTest)
#include "OperatorSessionTest.moc"
