#include <gtest/gtest.h>

#include "link/ReconnectBackoff.h"
#include "runtime/SettingsFile.h"
#include "support/CoreWorld.h"

namespace {

using std::chrono::seconds;

constexpr int kHeld = -1;  // the poll is refused and nothing goes on the wire

// A world whose link clock moves only when a test moves it.
struct DemotionFixture : ::testing::Test {
  LinkClock::time_point now{};
  CoreWorld w;

  DemotionFixture() {
    w.frame.SetClock([this] { return now; });
  }
  size_t Sent() const { return w.modbus.Started().size(); }
  // One tick of a scan; the device answers with status when the poll goes out.
  void Tick(CPelmoranDoc* doc, CModbusConnection* endpoint, int status) {
    size_t before = Sent();
    if (!doc->Poll()) return;
    ASSERT_EQ(Sent(), before + 1);
    w.modbus.responseStatus = status;
    FakeModbus::Respond(endpoint->m_hConnection);
    w.modbus.responseStatus = 0;
  }
};

struct Step {
  int seconds;     // the clock moves on this far before the poll
  int answer;      // how the device ends the exchange, or kHeld
  int scanStatus;  // the scan's status afterwards
  int waits = 0;   // and this far while the exchange waits for its end
};

struct DemotionCase {
  const char* name;
  DemotionPolicy policy;
  std::vector<Step> steps;
};

const DemotionCase kCases[] = {
    {"ThreeTimeoutsDemoteAndAGoodProbeRestores",
     {3, 10},
     {{0, 263, 263},
      {0, 263, 263},
      {0, 263, 263},
      {0, kHeld, 280},
      {3, kHeld, 280},
      {1, 0, 0},
      {0, 0, 0}}},
    {"AFailedProbeHoldsTheDeviceBackAgainAtOnce",
     {3, 10},
     {{0, 263, 263}, {0, 263, 263}, {0, 263, 263}, {10, 263, 280}, {0, kHeld, 280}, {10, 0, 0}}},
    {"AnAnswerBetweenTimeoutsStartsTheCountAfresh",
     {3, 10},
     {{0, 263, 263}, {0, 263, 263}, {0, 0, 0}, {0, 263, 263}, {0, 263, 263}, {0, 0, 0}}},
    {"AnExceptionOrABadChecksumIsAnAnswer",
     {2, 10},
     {{0, 263, 263}, {0, 2, 2}, {0, 263, 263}, {0, 265, 265}, {0, 263, 263}, {0, 0, 0}}},
    {"OtherFailuresNeitherCountNorReset",
     {2, 10},
     {{0, 263, 263}, {0, 268, 268}, {0, 263, 263}, {0, kHeld, 280}}},
    {"ZeroTimeoutsNeverDemotes",
     {0, 10},
     {{0, 263, 263}, {0, 263, 263}, {0, 263, 263}, {0, 263, 263}, {0, 0, 0}}},
    {"ASingleTimeoutDemotesWhenSoSet", {1, 3}, {{0, 263, 263}, {2, kHeld, 280}, {1, 0, 0}}},
    // Counted from the failed probe's start, not from its time-out's end.
    {"ProbesGoOutFourSecondsApartWhateverTheHold",
     {3, 86400},
     {{0, 263, 263},
      {0, 263, 263},
      {0, 263, 263},
      {3, kHeld, 280},
      {1, 263, 280, 2},
      {1, kHeld, 280},
      {1, 0, 0}}},
};

// Each case has a world of its own: the fake library is one per process.
TEST(DemotionStateMachine, EveryCase) {
  for (const DemotionCase& c : kCases) {
    SCOPED_TRACE(c.name);
    LinkClock::time_point now{};
    CoreWorld world;
    world.frame.SetClock([&now] { return now; });
    world.frame.SetDemotionPolicy(c.policy);
    CModbusConnection* line = world.SerialEndpoint("COM1", 1);
    CPelmoranDoc* doc = world.Scan("COM1", 3, 1, 2, 0, 7);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      const Step& step = c.steps[i];
      now += seconds(step.seconds);
      size_t before = world.modbus.Started().size();
      int accepted = doc->Poll();
      EXPECT_EQ(accepted, step.answer != kHeld);
      if (accepted) {
        now += seconds(step.waits);
        world.modbus.responseStatus = step.answer;
        FakeModbus::Respond(line->m_hConnection);
      }
      EXPECT_EQ(world.modbus.Started().size(), before + (accepted ? 1 : 0));
      EXPECT_EQ(doc->m_scan.m_nStatus, step.scanStatus);
    }
  }
}

TEST_F(DemotionFixture, TheNeighbourKeepsPollingAndTheDemotedScanShowsItsStatusWithBadTags) {
  CModbusConnection* line = w.SerialEndpoint("COM1", 1);
  CPelmoranDoc* good = w.Scan("COM1", 3, 1, 2, 0, 1);
  CPelmoranDoc* silent = w.Scan("COM1", 3, 1, 2, 0, 2);
  for (int i = 0; i < 3; ++i) Tick(silent, line, 263);
  for (int i = 0; i < 5; ++i) {
    Tick(good, line, 0);
    Tick(silent, line, 263);
  }
  EXPECT_EQ(good->m_scan.m_nStatus, 0);
  EXPECT_EQ(silent->m_scan.m_nStatus, 280);
  EXPECT_EQ(silent->m_scan.GetStatusText(), "DEVICE DEMOTED");
  EXPECT_EQ(Sent(), 8u) << "after three time-outs only the good slave is polled";
  EXPECT_EQ(good->m_nNumbrPolls, 5);
  EXPECT_EQ(silent->m_nNumbrPolls, 3) << "a held-back poll is not counted";
  std::string value, type, low, high;
  silent->FormatTag(0, value, type, low, high);
  EXPECT_EQ(value, "DEVICE DEMOTED");
  for (int i = 0; i < silent->GetTagCount(); ++i)
    EXPECT_EQ(w.tagServer.tags.at(silent->GetTag(i)->m_hTag).quality, 0);
  EXPECT_EQ(line->m_demotion.DemotedDevices(), std::vector<uint8_t>{2});
}

TEST_F(DemotionFixture, RequestsQueuedBeforeTheDemotionAreHandedBackUnsent) {
  CModbusConnection* line = w.SerialEndpoint("COM1", 1);
  CPelmoranDoc* first = w.Scan("COM1", 3, 1, 2, 0, 2);
  for (int i = 0; i < 2; ++i) Tick(first, line, 263);
  CPelmoranDoc* second = w.Scan("COM1", 3, 100, 2, 0, 2);
  CPelmoranDoc* other = w.Scan("COM1", 3, 100, 2, 0, 3);
  ASSERT_EQ(first->Poll(), 1);
  ASSERT_EQ(second->Poll(), 1);
  ASSERT_EQ(other->Poll(), 1);
  size_t before = Sent();
  w.modbus.responseStatus = 263;
  FakeModbus::Respond(line->m_hConnection);
  EXPECT_EQ(first->m_scan.m_nStatus, 263);
  EXPECT_EQ(second->m_scan.m_nStatus, 280);
  ASSERT_EQ(Sent(), before + 1) << "only the other slave's poll went out";
  EXPECT_EQ(w.modbus.Started().back().header.slaveNode, 3);
}

TEST_F(DemotionFixture, AWriteToADemotedDeviceFailsAtOnce) {
  CModbusConnection* line = w.SerialEndpoint("COM1", 1);
  CPelmoranDoc* doc = w.Scan("COM1", 3, 1, 2, 0, 2);
  uint16_t word = 5;
  for (int i = 0; i < 3; ++i) Tick(doc, line, 263);
  size_t before = Sent();
  EXPECT_FALSE(doc->SendWrite(0, &word, 1));
  now += seconds(10);
  EXPECT_FALSE(doc->SendWrite(0, &word, 1)) << "a write never serves as the probe";
  EXPECT_EQ(Sent(), before);
  Tick(doc, line, 0);
  EXPECT_TRUE(doc->SendWrite(0, &word, 1));
}

TEST_F(DemotionFixture, ASilentUnitBehindATcpGatewayIsDemotedWithoutDroppingTheConnection) {
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("GW");
  CPelmoranDoc* good = w.Scan("GW", 3, 1, 2, 0, 1);
  CPelmoranDoc* silent = w.Scan("GW", 3, 1, 2, 0, 2);
  Tick(good, tcp, 0);
  for (int i = 0; i < 4; ++i) Tick(silent, tcp, 263);
  EXPECT_TRUE(tcp->IsConnected());
  EXPECT_EQ(w.modbus.Count("CloseConnection"), 0);
  EXPECT_EQ(silent->m_scan.m_nStatus, 280);
  Tick(good, tcp, 0);
  EXPECT_EQ(good->m_scan.m_nStatus, 0);
}

// However long the outage, a server that returns is tried within 4 s of it.
TEST_F(DemotionFixture, ALostTcpConnectionIsRetriedAtOnceThenAfterPausesOfAtMostFourSeconds) {
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("TCP");
  w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, tcp->m_hConnection);
  w.modbus.Clear();
  const int expectedPauses[] = {1, 2, 4, 4, 4, 4, 4, 4};
  w.frame.ReconnectDueEndpoints();
  ASSERT_EQ(w.modbus.Count("ConnectTCP2"), 1) << "the first attempt is due at once";
  for (int pause : expectedPauses) {
    SCOPED_TRACE(pause);
    w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, tcp->m_hTcpConnection);  // refused
    int attempts = w.modbus.Count("ConnectTCP2");
    now += seconds(pause) - std::chrono::milliseconds(1);
    w.frame.ReconnectDueEndpoints();
    EXPECT_EQ(w.modbus.Count("ConnectTCP2"), attempts);
    now += std::chrono::milliseconds(1);
    w.frame.ReconnectDueEndpoints();
    w.frame.ReconnectDueEndpoints();
    EXPECT_EQ(w.modbus.Count("ConnectTCP2"), attempts + 1);
  }
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, tcp->m_hTcpConnection);
  EXPECT_TRUE(tcp->IsConnected());
  EXPECT_EQ(tcp->m_reconnect.NextDelay(), ReconnectBackoff::kFirstDelay);
  now += seconds(120);
  w.frame.ReconnectDueEndpoints();
  EXPECT_EQ(w.modbus.Count("ConnectTCP2"), 9) << "a connection that is up is left alone";
}

TEST_F(DemotionFixture, ATimeoutThatClosesATcpEndpointMakesItsReconnectDueAtOnce) {
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("TCP");
  CPelmoranDoc* doc = w.Scan("TCP", 3, 1, 2);
  Tick(doc, tcp, 263);
  EXPECT_FALSE(tcp->IsConnected());
  int attempts = w.modbus.Count("ConnectTCP2");
  w.frame.ReconnectDueEndpoints();
  EXPECT_EQ(w.modbus.Count("ConnectTCP2"), attempts + 1);
}

TEST_F(DemotionFixture, AVanishedSerialDeviceFailsItsScansAtOnceUntilItReturns) {
  CModbusConnection* line = w.SerialEndpoint("COM1", 1);
  CPelmoranDoc* doc = w.Scan("COM1", 3, 1, 2);
  ASSERT_EQ(doc->Poll(), 1);
  w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, line->m_hConnection);
  EXPECT_EQ(doc->m_scan.m_nStatus, 266) << "the outstanding poll is released";
  EXPECT_TRUE(line->m_queue.empty());
  size_t before = Sent();
  EXPECT_EQ(doc->Poll(), 0);
  EXPECT_EQ(Sent(), before);
  EXPECT_TRUE(line->IsConnected()) << "the library keeps the connection for the device's return";
  EXPECT_EQ(w.modbus.Count("CloseConnection"), 0);
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, line->m_hConnection);
  Tick(doc, line, 0);
  EXPECT_EQ(doc->m_scan.m_nStatus, 0);
}

TEST(SettingsFileTest, DemotionPolicyFromText) {
  struct Case {
    const char* text;
    int timeouts;
    int holdSeconds;
  } cases[] = {
      {"", 3, 10},
      {"[Demotion]\nTimeouts=5\nHoldSeconds=30\n", 5, 30},
      {"[Demotion]\r\n Timeouts = 0 \r\n", 0, 10},
      {"[Other]\nTimeouts=5\n[Demotion]\nHoldSeconds=2\n", 3, 2},
      {"[Demotion]\nTimeouts=-1\nHoldSeconds=0\n", 3, 10},
      {"[Demotion]\nTimeouts=4x\nHoldSeconds=99999999999\n", 3, 10},
      {"; Timeouts=9\n[Demotion]\n# HoldSeconds=9\nTimeouts=7\n", 7, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    DemotionPolicy policy = SettingsFile::Parse(c.text).GetDemotionPolicy();
    EXPECT_EQ(policy.timeouts, c.timeouts);
    EXPECT_EQ(policy.holdSeconds, c.holdSeconds);
  }
}

TEST(SettingsFileTest, WritingKeepsEveryOtherLine) {
  struct Case {
    const char* before;
    const char* after;
  } cases[] = {
      {"", "[Demotion]\nTimeouts=4\nHoldSeconds=20\n"},
      {"; mine\n[Window]\nWidth=800\n",
       "; mine\n[Window]\nWidth=800\n[Demotion]\nTimeouts=4\nHoldSeconds=20\n"},
      {"[Demotion]\nHoldSeconds=1 \n\n[Window]\nWidth=800\n",
       "[Demotion]\nHoldSeconds=20\nTimeouts=4\n\n[Window]\nWidth=800\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    SettingsFile file = SettingsFile::Parse(c.before);
    file.SetDemotionPolicy(DemotionPolicy{4, 20});
    EXPECT_EQ(file.Text(), c.after);
    DemotionPolicy back = SettingsFile::Parse(file.Text()).GetDemotionPolicy();
    EXPECT_EQ(back.timeouts, 4);
    EXPECT_EQ(back.holdSeconds, 20);
  }
}

}  // namespace
