// The gateway heals itself, in-process with the real Modbus library against
// pymodbus slaves: a Modbus/TCP slave that stops and starts again is
// reconnected long before the minute timer; a unit that never answers on a
// serial line is demoted while its neighbour keeps polling; a serial device
// that vanishes (its socat pair killed) is used again once it is back under
// the same name; a unit behind a serial device server that stops answering
// is polled again soon after it returns. The tag server is the recording fake.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <string>

#include "FakeTagServer.h"
#include "HostileSlave.h"
#include "link/EndpointHealth.h"
#include "link/EndpointKind.h"
#include "link/ModbusBinding.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "shell/Bindings.h"
#include "shell/MainFrame.h"
#include "shell/PelmoranApp.h"

namespace {

constexpr int kComPort = 9;

// A child process ended on request, and in any case when the test ends.
class Child {
 public:
  Child(const QString& program, const QStringList& arguments) {
    process_.setProgram(program);
    process_.setArguments(arguments);
    process_.start();
  }
  ~Child() { Stop(); }
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
    process_.waitForFinished(5000);
  }
  // The first line it prints, within limitMs.
  QByteArray FirstLine(int limitMs) {
    if (!process_.waitForReadyRead(limitMs)) return {};
    return process_.readLine().trimmed();
  }

 private:
  QProcess process_;
};

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// A pair of pseudo-terminals under fixed names, as a USB adapter keeps its name.
std::unique_ptr<Child> StartLine(const std::string& a, const std::string& b) {
  auto socat = std::make_unique<Child>(
      "socat", QStringList{QString::fromStdString("pty,raw,echo=0,link=" + a),
                           QString::fromStdString("pty,raw,echo=0,link=" + b)});
  // A line that never comes up shows as the endpoint's failed connect.
  if (!QTest::qWaitFor([&] { return Exists(a) && Exists(b); }, 10000)) socat->Stop();
  return socat;
}

std::unique_ptr<Child> StartRtuSlave(const std::string& device, const QStringList& units) {
  auto slave = std::make_unique<Child>(
      "/usr/bin/python3", QStringList{PELMORAN_RTU_SLAVE_SCRIPT, "--mode", "rtu", "--device",
                                      QString::fromStdString(device), "--size", "100", "--units"} +
                              units);
  slave->FirstLine(15000);  // "ready"
  return slave;
}

class SelfHealing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "pelmoran-heal";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }

  void SetUp() override {
    InstallModbusLibrary();
    tagServer_ = std::make_unique<FakeTagServer>();
    char pattern[] = "/tmp/pelmoran-heal-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    setenv(("PELMORAN_COM" + std::to_string(kComPort)).c_str(), (dir_ + "gateway").c_str(), 1);
    app_ = std::make_unique<CPelmoranApp>(dir_);
    ASSERT_TRUE(app_->InitInstance("-Headless"));
  }

  void TearDown() override {
    app_.reset();
    tagServer_.reset();
    QCoreApplication::processEvents();
    std::system(("rm -rf '" + dir_ + "'").c_str());
    unsetenv(("PELMORAN_COM" + std::to_string(kComPort)).c_str());
  }

  EndpointRegistry& Endpoints() { return app_->MainFrame()->Endpoints(); }

  void AddTcpEndpoint(const std::string& name, int port) {
    EndpointChoice choice;
    choice.strName = name;
    choice.strIpAddress = "127.0.0.1";
    choice.nTcpPort = port;
    Endpoints().AddEndpoint(choice);
  }
  CModbusConnection* AddSerialEndpoint(const std::string& name) {
    EndpointChoice choice = Endpoints().ProposeEndpoint();
    choice.strName = name;
    choice.nCommPort = kComPort;
    return Endpoints().AddEndpoint(choice);
  }

  CPelmoranDoc* Scan(const std::string& endpoint, int slave) {
    CModbusMsg definition;
    definition.m_nSlaveNode = static_cast<uint8_t>(slave);
    definition.m_nPointType = 3;
    definition.m_nPointAddress = 1;
    definition.m_nScanLength = 4;
    definition.m_nPollFrequency = 100;
    app_->GetRuntime().CreateScan(definition, endpoint);
    return app_->GetRuntime().FindDocumentByKey(app_->GetRuntime().m_nDocKeyCounter);
  }
  bool WaitStatus(const CPelmoranDoc* doc, int status, int limitMs) {
    return QTest::qWaitFor([&] { return doc->m_scan.m_nStatus == status; }, limitMs);
  }

  std::string dir_;
  std::unique_ptr<FakeTagServer> tagServer_;
  std::unique_ptr<CPelmoranApp> app_;
};

TEST_F(SelfHealing, ATcpSlaveThatComesBackIsReconnectedWellBeforeTheMinuteTimer) {
  // This slave binds with SO_REUSEADDR, so it can come back on the same port at once.
  auto startSlave = [](const QString& port) {
    return std::make_unique<Child>(
        "/usr/bin/python3",
        QStringList{PELMORAN_RTU_SLAVE_SCRIPT, "--mode", "tcp", "--tcp-port", port});
  };
  auto slave = startSlave("0");
  QByteArray ready = slave->FirstLine(15000);
  ASSERT_TRUE(ready.startsWith("ready ")) << ready.toStdString();
  const QString port = QString::fromLatin1(ready.mid(6));
  AddTcpEndpoint("TCP", port.toInt());
  CPelmoranDoc* scan = Scan("TCP", 1);
  ASSERT_TRUE(WaitStatus(scan, 0, 15000));
  slave->Stop();
  ASSERT_TRUE(WaitStatus(scan, MBS_CHANNEL_NOT_CONNECTED, 15000)) << scan->m_scan.GetStatusText();
  slave = startSlave(port);
  ASSERT_TRUE(slave->FirstLine(15000).startsWith("ready ")) << "port " << port.toStdString();
  // The minute timer has not come round: only the back-off can have done it.
  EXPECT_TRUE(WaitStatus(scan, 0, 30000)) << scan->m_scan.GetStatusText();
}

TEST_F(SelfHealing, ASilentUnitIsDemotedWhileItsNeighbourOnTheLineKeepsPolling) {
  auto line = StartLine(dir_ + "gateway", dir_ + "device");
  auto slave = StartRtuSlave(dir_ + "device", {"1"});
  CModbusConnection* endpoint = AddSerialEndpoint("LINE");
  ASSERT_TRUE(endpoint->IsConnected());
  CPelmoranDoc* good = Scan("LINE", 1);
  CPelmoranDoc* silent = Scan("LINE", 2);
  ASSERT_TRUE(WaitStatus(silent, ToNumber(ScanStatus::DeviceDemoted), 30000))
      << silent->m_scan.GetStatusText();
  EXPECT_EQ(silent->m_scan.GetStatusText(), "DEVICE DEMOTED");
  for (int i = 0; i < silent->GetTagCount(); ++i)
    EXPECT_EQ(tagServer_->tags.at(silent->GetTag(i)->m_hTag).quality, OPC_QUALITY_BAD);
  // Twenty good polls go by while the silent unit is held back: at a poll a
  // tenth of a second apart, far fewer would fit if each waited out its time-out.
  int start = good->m_nNumbrPolls;
  int silentPolls = silent->m_nNumbrPolls;
  ASSERT_TRUE(QTest::qWaitFor([&] { return good->m_nNumbrPolls >= start + 20; }, 9000));
  EXPECT_EQ(good->m_scan.m_nStatus, 0);
  EXPECT_LE(silent->m_nNumbrPolls, silentPolls + 1) << "at most one probe went out";
}

TEST_F(SelfHealing, ASerialDeviceThatVanishesIsUsedAgainWhenItReturns) {
  auto line = StartLine(dir_ + "gateway", dir_ + "device");
  auto slave = StartRtuSlave(dir_ + "device", {"1"});
  CModbusConnection* endpoint = AddSerialEndpoint("LINE");
  ASSERT_TRUE(endpoint->IsConnected());
  CPelmoranDoc* scan = Scan("LINE", 1);
  ASSERT_TRUE(WaitStatus(scan, 0, 15000));
  slave.reset();
  line.reset();
  ASSERT_TRUE(WaitStatus(scan, MBS_CHANNEL_NOT_CONNECTED, 15000)) << scan->m_scan.GetStatusText();
  line = StartLine(dir_ + "gateway", dir_ + "device");
  slave = StartRtuSlave(dir_ + "device", {"1"});
  EXPECT_TRUE(WaitStatus(scan, 0, 30000)) << scan->m_scan.GetStatusText();
  EXPECT_TRUE(endpoint->IsLinkUp());
}

// However long a device was away and whatever the hold, probes go out at
// most 4 s apart, so it is polled Good within 5 s of its return; the worst
// case is a return just after a probe went out that then waits its time-out.
// The link clock is the test's: the outage and the time-outs pass in it.
TEST_F(SelfHealing, ADemotedDeviceIsPolledGoodWithinFiveSecondsOfItsReturn) {
  struct Case {
    const char* name;
    int holdSeconds;
    int outageSeconds;  // from the demotion to the last probe that finds it away
    int probeSeconds;   // that probe's wait for its time-out
    int returnSeconds;  // when the device is back, after that probe went out
  };
  const Case cases[] = {
      {"DefaultHoldADayAway", 10, 86400, 2, 0},
      {"DayLongHoldAnHourAway", 86400, 3600, 2, 1},
      {"ShortHoldAMinuteAway", 2, 60, 1, 0},
  };
  LinkClock::time_point now{};
  Endpoints().SetClock([&now] { return now; });
  HostileSlave slave("rtu-tcp", "standard");
  ASSERT_TRUE(slave.ready());
  EndpointChoice choice;
  choice.strName = "NET";
  choice.strIpAddress = "127.0.0.1";
  choice.nTcpPort = slave.tcpPort();
  choice.nProtocol = EndpointKind::kOverTcp + EndpointKind::kRtu;
  Endpoints().AddEndpoint(choice);
  CPelmoranDoc* scan = Scan("NET", 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Endpoints().SetDemotionPolicy(DemotionPolicy{1, c.holdSeconds});
    ASSERT_TRUE(WaitStatus(scan, 0, 15000)) << scan->m_scan.GetStatusText();
    slave.habit("silent");
    ASSERT_TRUE(WaitStatus(scan, ToNumber(ScanStatus::DeviceDemoted), 15000));
    now += std::chrono::seconds(c.outageSeconds);
    const int polls = scan->m_nNumbrPolls;
    CModbusConnection& line = *Endpoints().FindEndpoint("NET");
    const uint32_t timeouts = EndpointHealth::Of(line).counters.timeouts;
    ASSERT_TRUE(QTest::qWaitFor([&] { return scan->m_nNumbrPolls > polls; }, 15000));
    const LinkClock::time_point probed = now;
    now += std::chrono::seconds(c.probeSeconds);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return EndpointHealth::Of(line).counters.timeouts > timeouts; }, 15000));
    slave.habit("none");
    now = probed + std::chrono::seconds(c.returnSeconds + 5) - std::chrono::milliseconds(1);
    EXPECT_TRUE(WaitStatus(scan, 0, 15000)) << scan->m_scan.GetStatusText();
  }
}

}  // namespace
