// The application object and its main frame against the recording fakes of
// both libraries, headless: start-up, the posting of library callbacks onto
// the main thread, the frame's two timers, and the orderly end.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "FakeModbus.h"
#include "FakeTagServer.h"
#include "platform/MessageBox.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "shell/HeadlessViews.h"
#include "shell/MainFrame.h"
#include "shell/PelmoranApp.h"
#include "shell/SignalWatcher.h"
#include "shell/Startup.h"
#include "ui/PollClock.h"

namespace {

namespace fs = std::filesystem;

class AppTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "app-test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }
  void SetUp() override {
    char pattern[] = "/tmp/pelmoran-app-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
  }
  void TearDown() override {
    app_.reset();
    QCoreApplication::processEvents();
    unsetenv("PELMORAN_RESTORE_DELAY_MS");
    unsetenv("PELMORAN_RECONNECT_PERIOD_MS");
    fs::remove_all(dir_);
  }

  CPelmoranApp& Start(const std::string& commandLine = "-Headless") {
    app_ = std::make_unique<CPelmoranApp>(dir_);
    started_ = app_->InitInstance(commandLine);
    return *app_;
  }
  CModbusConnection* Tcp(const std::string& name) {
    EndpointChoice choice = app_->MainFrame()->Endpoints().ProposeEndpoint();
    choice.strName = name;
    return app_->MainFrame()->Endpoints().AddEndpoint(choice);
  }
  CModbusConnection* Serial(const std::string& name, int comPort) {
    EndpointChoice choice = app_->MainFrame()->Endpoints().ProposeEndpoint();
    choice.strName = name;
    choice.nCommPort = comPort;
    return app_->MainFrame()->Endpoints().AddEndpoint(choice);
  }
  CPelmoranDoc* Scan(const std::string& endpoint, int pointType, int length, int pollMs = 60000) {
    CModbusMsg definition;
    definition.m_nPointType = static_cast<uint8_t>(pointType);
    definition.m_nPointAddress = 1;
    definition.m_nScanLength = static_cast<uint16_t>(length);
    definition.m_nPollFrequency = pollMs;
    app_->GetRuntime().CreateScan(definition, endpoint);
    return app_->GetRuntime().FindDocumentByKey(app_->GetRuntime().m_nDocKeyCounter);
  }
  PollClock& ClockOf(CPelmoranDoc* doc) { return *app_->HeadlessViews()->FindClock(*doc); }

  FakeModbus modbus;
  FakeTagServer tagServer;
  std::string dir_;
  std::unique_ptr<CPelmoranApp> app_;
  bool started_ = false;
};

TEST_F(AppTest, HeadlessStartInTheFixedOrderWithTheFixedValues) {
  CPelmoranApp& app = Start("-Headless");
  ASSERT_TRUE(started_);
  EXPECT_TRUE(app.m_bHeadless);
  EXPECT_FALSE(app.m_bMinimize);
  EXPECT_EQ(tagServer.Names(),
            (std::vector<std::string>{"RegisterOPCServer", "InitOPCServer", "EnableWriteCallback",
                                      "EnableAsyncWriteCallback"}));
  const auto& reg = tagServer.calls[0];
  EXPECT_EQ(reg.name, "Korvane.Modbus_OPC_Server");
  EXPECT_EQ(reg.description, "Korvane Software OPC Server for Modbus");
  EXPECT_EQ(reg.command, dir_ + "pelmoran.EXE -Minimize");
  EXPECT_TRUE(reg.clsid == Startup::kClassId);
  EXPECT_TRUE(tagServer.calls[1].clsid == Startup::kClassId);
  EXPECT_EQ(tagServer.calls[1].flag, 250);
  EXPECT_EQ(tagServer.calls[2].flag, 1);
  EXPECT_EQ(tagServer.writeCallback, &CPelmoranApp::OnClientWrite);
  EXPECT_EQ(tagServer.calls[3].flag, 1);
  EXPECT_EQ(tagServer.asyncWriteCallback, &CPelmoranApp::OnClientWriteAsync);
  EXPECT_EQ(modbus.Names(), std::vector<std::string>{"EnableConnectionCallback"});
  EXPECT_EQ(modbus.connectionCallback, &CPelmoranApp::OnConnectionCallback);
  // The libraries' lines come through the logger, so their hooks stay free.
  EXPECT_EQ(modbus.logCallback, nullptr);
  EXPECT_EQ(tagServer.logCallback, nullptr);

  EXPECT_EQ(QCoreApplication::organizationName().toStdString(), "pelmoran");
  EXPECT_EQ(app.Window(), nullptr);
  ASSERT_NE(app.MainFrame(), nullptr);
  EXPECT_EQ(&app.MainFrame()->Endpoints(), &app.GetRuntime().m_endpoints);
  EXPECT_EQ(app.GetRuntime().m_pLink, &app.GetRuntime().m_endpoints);
  EXPECT_EQ(app.MainFrame()->m_strConfigPath, dir_ + "pelmoran.tst");
  EXPECT_EQ(app.GetRuntime().GetDocumentCount(), 0);
  EXPECT_EQ(app.GetRuntime().m_nDocKeyCounter, 1);
  EXPECT_EQ(app.GetRuntime().m_nDefaultDataType, 0);
  EXPECT_EQ(app.GetRuntime().m_fDefaultLowLimit, 0.0f);
  EXPECT_EQ(app.GetRuntime().m_fDefaultHighLimit, 100.0f);
  EXPECT_EQ(app.GetRuntime().m_strDefaultDelimiter, ".");
}

TEST_F(AppTest, EndingSwitchesCreateNothing) {
  Start("-Minimize -RegServer");
  EXPECT_FALSE(started_);
  EXPECT_EQ(tagServer.Names(), std::vector<std::string>{"RegisterOPCServer"});
  app_.reset();
  tagServer.Clear();
  CPelmoranApp& app = Start("/service");
  EXPECT_FALSE(started_);
  EXPECT_EQ(tagServer.Names(),
            (std::vector<std::string>{"RegisterOPCServer", "RegisterOPCService"}));
  EXPECT_EQ(app.MainFrame(), nullptr);
  EXPECT_EQ(app.GetRuntime().m_docTemplate.m_pViewFactory, nullptr);
  EXPECT_EQ(modbus.Count("EnableConnectionCallback"), 0);
  app_.reset();
  // Nothing was started, so the end stops nothing.
  EXPECT_EQ(tagServer.Count("ShutdownOPCServer"), 0);
}

TEST_F(AppTest, DocumentsTakeKeysFromTwoOnAndGetAPollClock) {
  Start();
  Serial("COM1", 1);
  CPelmoranDoc* first = Scan("COM1", 3, 4);
  CPelmoranDoc* second = Scan("COM1", 1, 2);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->m_nKey, 2);
  EXPECT_EQ(second->m_nKey, 3);
  EXPECT_EQ(first->m_pView, static_cast<IScanView*>(&ClockOf(first)));
  EXPECT_NE(ClockOf(first).m_nTimer, 0);
}

TEST_F(AppTest, LinkEventsArePostedNotRunOnTheLibraryThread) {
  Start();
  CModbusConnection* endpoint = Tcp("MODBUS1");
  ASSERT_GE(endpoint->m_hTcpConnection, 0);
  std::thread library(
      [&] { modbus.connectionCallback(MBS_EVENT_CONNECTED, endpoint->m_hTcpConnection); });
  library.join();
  EXPECT_FALSE(endpoint->IsConnected());
  QCoreApplication::processEvents();
  EXPECT_TRUE(endpoint->IsConnected());
}

TEST_F(AppTest, ResponsesArePostedThenRouted) {
  Start();
  CModbusConnection* endpoint = Serial("COM1", 1);
  modbus.memory[1] = 42;
  CPelmoranDoc* doc = Scan("COM1", 3, 2);
  PollClock& clock = ClockOf(doc);
  clock.OnTimer(clock.m_nTimer);
  ASSERT_EQ(clock.m_bScanInProgress, 1);
  std::thread library([&] { FakeModbus::Respond(endpoint->m_hConnection); });
  library.join();
  EXPECT_EQ(modbus.Count("MODBUSResponse"), 1) << "the answer is read on the library's thread";
  EXPECT_EQ(clock.m_bScanInProgress, 1);
  modbus.memory[1] = 7;  // what the main thread would read if it asked again
  QCoreApplication::processEvents();
  EXPECT_EQ(modbus.Count("MODBUSResponse"), 1);
  EXPECT_EQ(clock.m_bScanInProgress, 0);
  const FakeTagServer::Tag& tag = tagServer.tags.at(doc->GetTag(0)->m_hTag);
  EXPECT_EQ(tag.quality, OPC_QUALITY_GOOD);
  EXPECT_EQ(tag.value.number, 42.0);
}

TEST_F(AppTest, AClientWriteIsAnsweredAtOnceAndCarriesACopyOfTheValue) {
  Start();
  Serial("COM1", 1);
  CPelmoranDoc* doc = Scan("COM1", 3, 4);
  int32_t handle = doc->GetTag(2)->m_hTag;
  int32_t result = -1;
  std::thread library([&] {
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(" 1234 ");
    tagServer.writeCallback(handle, &text, &result);
    // The library frees its value as soon as the callback returns.
    std::memset(text.bstrVal, 'x', 6);
    VariantClear(&text);
  });
  library.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(modbus.Count("WriteMODBUS"), 0);
  QCoreApplication::processEvents();
  ASSERT_EQ(modbus.Count("WriteMODBUS"), 1);
  const FakeModbus::Call* write = modbus.Last("WriteMODBUS");
  EXPECT_EQ(write->header.function, 6);
  EXPECT_EQ(write->header.address, 3);
  EXPECT_EQ(write->data, std::vector<uint16_t>{1234});
}

TEST_F(AppTest, AWriteToAHandleNobodyOwnsIsStillAnsweredWithSuccess) {
  Start();
  int32_t result = -1;
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = 7;
  CPelmoranApp::OnClientWrite(9999, &value, &result);
  EXPECT_EQ(result, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(modbus.Count("WriteMODBUS"), 0);
  CPelmoranApp::OnClientWrite(9999, nullptr, nullptr);  // nothing to read, nowhere to answer
  QCoreApplication::processEvents();
}

TEST_F(AppTest, TimerOneRestoresTheConfigurationOnceAfterStartUp) {
  // A configuration with one endpoint, written as the operator's save does.
  {
    Start();
    Tcp("SAVED");
    ASSERT_TRUE(app_->MainFrame()->OnSaveTestConfig(dir_ + "pelmoran.tst"));
    app_.reset();
  }
  setenv("PELMORAN_RESTORE_DELAY_MS", "30", 1);
  setenv("PELMORAN_RECONNECT_PERIOD_MS", "60", 1);
  Start();
  QSignalSpy restored(app_->MainFrame(), &CMainFrame::configRestored);
  EXPECT_EQ(app_->MainFrame()->Endpoints().FindEndpoint("SAVED"), nullptr);
  ASSERT_TRUE(restored.wait(5000));
  EXPECT_NE(app_->MainFrame()->Endpoints().FindEndpoint("SAVED"), nullptr);
  // Two rounds of the reconnect timer retry the restored endpoint, each later
  // than a second restore would have come.
  const int connects = modbus.Count("ConnectTCP2");
  EXPECT_TRUE(QTest::qWaitFor([&] { return modbus.Count("ConnectTCP2") >= connects + 2; }, 5000));
  EXPECT_EQ(restored.count(), 1);
  EXPECT_EQ(app_->MainFrame()->Endpoints().m_endpoints.size(), 1u);
}

TEST_F(AppTest, AMissingDefaultConfigurationIsRestoredSilently) {
  setenv("PELMORAN_RESTORE_DELAY_MS", "10", 1);
  std::vector<std::string> boxes;
  SetMessageBoxHandler([&](const std::string& text, unsigned) {
    boxes.push_back(text);
    return 1;
  });
  Start();
  QSignalSpy restored(app_->MainFrame(), &CMainFrame::configRestored);
  EXPECT_TRUE(restored.wait(5000));
  SetMessageBoxHandler(nullptr);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(AppTest, TimerThreeRetriesOnlyModbusTcpEndpointsWithoutConnection) {
  setenv("PELMORAN_RECONNECT_PERIOD_MS", "20", 1);
  Start();
  modbus.connectResult = -1;
  Tcp("DOWN");
  Serial("COMDOWN", 2);
  modbus.connectResult.reset();
  CModbusConnection* up = Tcp("UP");
  app_->MainFrame()->Endpoints().OnConnectionEvent(MBS_EVENT_CONNECTED, up->m_hTcpConnection);
  ASSERT_TRUE(up->IsConnected());
  int tcpBefore = modbus.Count("ConnectTCP2");
  EXPECT_TRUE(QTest::qWaitFor([&] { return modbus.Count("ConnectTCP2") >= tcpBefore + 2; }, 5000));
  for (const auto& call : modbus.calls) {
    if (call.fn == "ConnectTCP2") {
      EXPECT_EQ(call.tcpPort, 502u);
    }
  }
  EXPECT_EQ(modbus.Count("ConnectRTU"), 1);
  // The connected endpoint was never connected anew.
  EXPECT_TRUE(up->IsConnected());
}

TEST_F(AppTest, TimerPeriodsAcceptOnlyWholePositiveMilliseconds) {
  for (const char* bad : {"", "abc", "-5", "0", "12x", "99999999999"}) {
    setenv("PELMORAN_RECONNECT_PERIOD_MS", bad, 1);
    EXPECT_EQ(CMainFrame::ReconnectPeriodMs(), 60000) << bad;
  }
  setenv("PELMORAN_RECONNECT_PERIOD_MS", "250", 1);
  EXPECT_EQ(CMainFrame::ReconnectPeriodMs(), 250);
  unsetenv("PELMORAN_RESTORE_DELAY_MS");
  EXPECT_EQ(CMainFrame::RestoreDelayMs(), 2000);
}

TEST_F(AppTest, TheEndRemovesTagsThenClosesEndpointsThenStopsTheServer) {
  Start();
  CModbusConnection* endpoint = Serial("COM1", 1);
  int handle = endpoint->m_hConnection;
  Scan("COM1", 3, 2);
  Scan("COM1", 4, 1);
  tagServer.Clear();
  modbus.Clear();
  app_->ExitInstance();
  EXPECT_EQ(tagServer.Names(), (std::vector<std::string>{"RemoveOPCTag", "RemoveOPCTag",
                                                         "RemoveOPCTag", "ShutdownOPCServer"}));
  EXPECT_EQ(modbus.Names(), std::vector<std::string>{"CloseConnection"});
  EXPECT_EQ(modbus.calls[0].handle, handle);
  EXPECT_EQ(app_->MainFrame(), nullptr);
  EXPECT_TRUE(app_->GetRuntime().m_endpoints.m_endpoints.empty());
  // Both log hooks are taken away before the libraries could tell of the closing.
  EXPECT_EQ(modbus.logCallback, nullptr);
  EXPECT_EQ(tagServer.logCallback, nullptr);
  // A callback that arrives late finds no runtime and does nothing.
  CPelmoranApp::OnConnectionCallback(MBS_EVENT_TERMINATED, handle);
  FakeModbus::Respond(handle);
  QCoreApplication::processEvents();
  app_.reset();
  EXPECT_EQ(tagServer.Count("ShutdownOPCServer"), 1);
}

TEST_F(AppTest, SigtermEndsTheEventLoop) {
  SignalWatcher watcher;
  QTimer::singleShot(0, [] { std::raise(SIGTERM); });
  QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_EQ(watcher.LastSignal(), SIGTERM);
}

}  // namespace
