// The headless program in-process with the real Modbus library against a
// pymodbus slave: polls publish the slave's values, a stopped slave turns
// them bad, client writes reach the slave, and a timed-out endpoint comes
// back through the reconnection timer. The tag server is the recording fake.
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeTagServer.h"
#include "link/ModbusBinding.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "shell/Bindings.h"
#include "shell/MainFrame.h"
#include "shell/PelmoranApp.h"

namespace {

std::vector<std::string> g_closes;
int g_tcpConnects = 0;
FakeTagServer* g_tagServer = nullptr;

int CountingConnectTcp(uint32_t ip, uint32_t port, const TcpOptions* options) {
  ++g_tcpConnects;
  return ::ConnectTCP2(ip, port, options);
}
void RecordingClose(int handle) {
  int removed = g_tagServer ? g_tagServer->Count("RemoveOPCTag") : -1;
  g_closes.push_back("close after " + std::to_string(removed) + " removed");
  ::CloseConnection(handle);
}

// A Modbus/TCP slave of pymodbus, on a free port.
class Slave {
 public:
  Slave() {
    process_.setProgram("/usr/bin/python3");
    process_.setArguments({PELMORAN_SLAVE_SCRIPT});
    process_.start();
    if (!process_.waitForReadyRead(15000)) return;
    QByteArray line = process_.readLine().trimmed();
    if (line.startsWith("PORT ")) port_ = line.mid(5).toInt();
  }
  ~Slave() { Stop(); }
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
    process_.waitForFinished(5000);
  }
  int Port() const { return port_; }

 private:
  QProcess process_;
  int port_ = 0;
};

// A listener that completes connections and never answers a request.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(fd_, 16) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      port_ = ntohs(addr.sin_port);
  }
  ~SilentServer() { close(fd_); }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

int ReadHolding(int port, int wireAddress) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  uint16_t value = 0;
  int rc = -1;
  if (ctx != nullptr && modbus_connect(ctx) == 0)
    rc = modbus_read_registers(ctx, wireAddress, 1, &value);
  if (ctx != nullptr) {
    modbus_close(ctx);
    modbus_free(ctx);
  }
  return rc == 1 ? value : -1;
}

int ReadCoil(int port, int wireAddress) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  uint8_t value = 0;
  int rc = -1;
  if (ctx != nullptr && modbus_connect(ctx) == 0)
    rc = modbus_read_bits(ctx, wireAddress, 1, &value);
  if (ctx != nullptr) {
    modbus_close(ctx);
    modbus_free(ctx);
  }
  return rc == 1 ? value : -1;
}

class HeadlessEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "pelmoran-e2e";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }

  void SetUp() override {
    setenv("PELMORAN_RECONNECT_PERIOD_MS", "300", 1);
    InstallModbusLibrary();
    Modbus().ConnectTCP2 = &CountingConnectTcp;
    Modbus().CloseConnection = &RecordingClose;
    g_closes.clear();
    g_tcpConnects = 0;
    tagServer_ = std::make_unique<FakeTagServer>();
    g_tagServer = tagServer_.get();

    char pattern[] = "/tmp/pelmoran-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    app_ = std::make_unique<CPelmoranApp>(dir_);
    ASSERT_TRUE(app_->InitInstance("-Headless"));
    ASSERT_NE(app_->MainFrame(), nullptr);
  }

  void TearDown() override {
    app_.reset();
    g_tagServer = nullptr;
    tagServer_.reset();
    QCoreApplication::processEvents();
    std::system(("rm -rf '" + dir_ + "'").c_str());
    unsetenv("PELMORAN_RECONNECT_PERIOD_MS");
  }

  CModbusConnection* AddEndpoint(const std::string& name, int port) {
    EndpointChoice choice;
    choice.strName = name;
    choice.nCommPort = 0;
    choice.strIpAddress = "127.0.0.1";
    choice.nTcpPort = port;
    return app_->MainFrame()->Endpoints().AddEndpoint(choice);
  }

  bool WaitConnected(const std::string& name) {
    return QTest::qWaitFor([&] { return app_->MainFrame()->Endpoints().IsEndpointConnected(name); },
                           10000);
  }

  CPelmoranDoc* Scan(const std::string& endpoint, int pointType, int address, int length) {
    CModbusMsg definition;
    definition.m_nSlaveNode = 1;
    definition.m_nPointType = static_cast<uint8_t>(pointType);
    definition.m_nPointAddress = static_cast<uint16_t>(address);
    definition.m_nScanLength = static_cast<uint16_t>(length);
    definition.m_nPollFrequency = 100;
    app_->GetRuntime().CreateScan(definition, endpoint);
    return app_->GetRuntime().FindDocumentByKey(app_->GetRuntime().m_nDocKeyCounter);
  }

  const FakeTagServer::Tag& TagOf(const CPelmoranDoc& doc, int i) const {
    return tagServer_->tags.at(doc.GetTag(i)->m_hTag);
  }
  float ValueOf(const CPelmoranDoc& doc, int i) const {
    const FakeTagServer::Tag& tag = TagOf(doc, i);
    return tag.value.vt == VT_R4 ? static_cast<float>(tag.value.number) : NAN;
  }

  bool AllGood(const CPelmoranDoc& doc) const {
    for (int i = 0; i < doc.GetTagCount(); ++i)
      if (TagOf(doc, i).quality != OPC_QUALITY_GOOD) return false;
    return doc.GetTagCount() > 0;
  }

  std::string dir_;
  std::unique_ptr<FakeTagServer> tagServer_;
  std::unique_ptr<CPelmoranApp> app_;
};

TEST_F(HeadlessEndToEnd, EveryPointTypePublishesTheSlaveValues) {
  Slave slave;
  ASSERT_GT(slave.Port(), 0);
  AddEndpoint("MODBUS1", slave.Port());
  ASSERT_TRUE(WaitConnected("MODBUS1"));
  CPelmoranDoc* coils = Scan("MODBUS1", 1, 1, 6);
  CPelmoranDoc* inputs = Scan("MODBUS1", 2, 11, 6);
  CPelmoranDoc* holding = Scan("MODBUS1", 3, 1, 8);
  CPelmoranDoc* inputRegs = Scan("MODBUS1", 4, 21, 5);
  ASSERT_TRUE(coils && inputs && holding && inputRegs);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return AllGood(*coils) && AllGood(*inputs) && AllGood(*holding) && AllGood(*inputRegs);
      },
      15000));
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(ValueOf(*coils, i), i % 3 == 0 ? 1.0f : 0.0f) << "coil " << i;
    EXPECT_EQ(ValueOf(*inputs, i), (10 + i) % 2 == 1 ? 1.0f : 0.0f) << "input " << i;
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ValueOf(*holding, i), 100.0f + 7 * i) << i;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ValueOf(*inputRegs, i), 1000.0f + 3 * (20 + i)) << i;
  EXPECT_EQ(TagOf(*holding, 2).name, "MODBUS1.NODE1.40003");
  EXPECT_EQ(TagOf(*coils, 0).name, "MODBUS1.NODE1.00001");
}

TEST_F(HeadlessEndToEnd, AStoppedSlaveTurnsTheLastValuesBad) {
  auto slave = std::make_unique<Slave>();
  ASSERT_GT(slave->Port(), 0);
  AddEndpoint("MODBUS1", slave->Port());
  ASSERT_TRUE(WaitConnected("MODBUS1"));
  CPelmoranDoc* holding = Scan("MODBUS1", 3, 1, 4);
  ASSERT_TRUE(QTest::qWaitFor([&] { return AllGood(*holding); }, 15000));
  slave->Stop();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (int i = 0; i < 4; ++i)
          if (TagOf(*holding, i).quality != OPC_QUALITY_BAD) return false;
        return true;
      },
      20000));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ValueOf(*holding, i), 100.0f + 7 * i) << i;
}

TEST_F(HeadlessEndToEnd, ClientWritesFromAnotherThreadReachTheSlave) {
  Slave slave;
  ASSERT_GT(slave.Port(), 0);
  AddEndpoint("MODBUS1", slave.Port());
  ASSERT_TRUE(WaitConnected("MODBUS1"));
  CPelmoranDoc* holding = Scan("MODBUS1", 3, 1, 4);
  CPelmoranDoc* coils = Scan("MODBUS1", 1, 1, 4);
  ASSERT_TRUE(QTest::qWaitFor([&] { return AllGood(*holding) && AllGood(*coils); }, 15000));
  OPCWriteCallback writeCallback = tagServer_->writeCallback;
  ASSERT_NE(writeCallback, nullptr);

  int32_t register3 = holding->GetTag(2)->m_hTag;
  int32_t coil2 = coils->GetTag(1)->m_hTag;
  int32_t results[2] = {-1, -1};
  std::thread library([&] {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = 555.0f;
    writeCallback(register3, &value, &results[0]);
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    writeCallback(coil2, &value, &results[1]);
  });
  library.join();
  // Answered at once, on the caller's thread, before the main thread ran.
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ReadHolding(slave.Port(), 2) == 555; }, 10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return ReadCoil(slave.Port(), 1) == 1; }, 10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return ValueOf(*holding, 2) == 555.0f; }, 10000));
}

TEST_F(HeadlessEndToEnd, ATimedOutEndpointIsClosedAndReconnectedByTheTimer) {
  SilentServer silent;
  ASSERT_GT(silent.Port(), 0);
  CModbusConnection* endpoint = AddEndpoint("SILENT", silent.Port());
  ASSERT_TRUE(WaitConnected("SILENT"));
  int connectsBefore = g_tcpConnects;
  CPelmoranDoc* scan = Scan("SILENT", 3, 1, 2);
  // The time-out stands only until the closed connection is noticed, a
  // moment later: the published statuses keep it where the scan does not.
  auto timedOut = [&] {
    for (const FakeTagServer::Call& call : tagServer_->CallsOf("UpdateOPCTagStatus"))
      if (call.handle == scan->GetTag(0)->m_hTag && call.status == OPC_STATUS_BAD_TIMEOUT)
        return true;
    return false;
  };
  ASSERT_TRUE(QTest::qWaitFor(timedOut, 20000));
  EXPECT_EQ(TagOf(*scan, 0).quality, OPC_QUALITY_BAD);
  // Closed on the time-out, connected again by timer 3.
  ASSERT_TRUE(QTest::qWaitFor([&] { return g_tcpConnects > connectsBefore; }, 10000));
  EXPECT_TRUE(WaitConnected("SILENT"));
  EXPECT_EQ(app_->MainFrame()->Endpoints().FindEndpoint("SILENT"), endpoint);
}

TEST_F(HeadlessEndToEnd, TheEndClosesDocumentsThenEndpointsThenTheServer) {
  Slave slave;
  ASSERT_GT(slave.Port(), 0);
  AddEndpoint("MODBUS1", slave.Port());
  ASSERT_TRUE(WaitConnected("MODBUS1"));
  CPelmoranDoc* holding = Scan("MODBUS1", 3, 1, 3);
  ASSERT_TRUE(QTest::qWaitFor([&] { return AllGood(*holding); }, 15000));
  tagServer_->Clear();
  g_closes.clear();
  app_->ExitInstance();
  // Every tag was removed before the endpoint closed, and the server stopped last.
  EXPECT_EQ(tagServer_->Names(), (std::vector<std::string>{"RemoveOPCTag", "RemoveOPCTag",
                                                           "RemoveOPCTag", "ShutdownOPCServer"}));
  EXPECT_EQ(g_closes, std::vector<std::string>{"close after 3 removed"});
  for (const auto& entry : tagServer_->tags) EXPECT_TRUE(entry.second.removed);
  EXPECT_EQ(app_->MainFrame(), nullptr);
  EXPECT_TRUE(app_->GetRuntime().m_endpoints.m_endpoints.empty());
}

}  // namespace
