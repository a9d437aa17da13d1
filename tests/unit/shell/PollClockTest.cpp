// The poll clock of a scan against the core with fake libraries: ticks,
// the scan-in-progress flag, re-arming, and the refresh notification.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimerEvent>
#include <map>
#include <memory>

#include "FakeModbus.h"
#include "FakeTagServer.h"
#include "link/EndpointRegistry.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "ui/PollClock.h"

namespace {

// Counts the ticks of a clock's poll timer as they arrive, polling or not.
class TickCounter : public QObject {
 public:
  explicit TickCounter(PollClock& clock) : clock_(clock) { clock.installEventFilter(this); }
  ~TickCounter() override { clock_.removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Timer &&
        static_cast<QTimerEvent*>(event)->timerId() == clock_.m_nTimer)
      ++count;
    return false;
  }
  int count = 0;

 private:
  PollClock& clock_;
};

// The period the clock's poll timer runs at, as the event loop has it.
int ArmedPeriod(PollClock& clock) {
  for (const auto& timer : QAbstractEventDispatcher::instance()->registeredTimers(&clock))
    if (timer.timerId == clock.m_nTimer) return timer.interval;
  return -1;
}

class ClockFactory : public IViewFactory {
 public:
  IScanView* CreateView(CPelmoranDoc& doc) override {
    auto& clock = clocks[&doc];
    clock = std::make_unique<PollClock>(doc);
    return clock.get();
  }
  void InitialUpdate(CPelmoranDoc&) override {}
  void DestroyView(CPelmoranDoc& doc) override { clocks.erase(&doc); }
  std::map<const CPelmoranDoc*, std::unique_ptr<PollClock>> clocks;
};

class PollClockTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "poll-clock-test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }
  void SetUp() override {
    frame.ListenForAnswers();
  }
  void TearDown() override {
    frame.StopListening();
    app.CloseAllDocuments();
  }

  // A serial endpoint is connected at once and sends each request at once.
  CPelmoranDoc* Scan(const std::string& endpoint, int pollMs) {
    CModbusMsg definition;
    definition.m_nPointType = 3;
    definition.m_nPointAddress = 1;
    definition.m_nScanLength = 2;
    definition.m_nPollFrequency = pollMs;
    app.CreateScan(definition, endpoint);
    return app.m_docTemplate.GetDocument(app.GetDocumentCount() - 1);
  }
  CModbusConnection* Serial(const std::string& name) {
    EndpointChoice choice = frame.ProposeEndpoint();
    choice.strName = name;
    choice.nCommPort = 1;
    return frame.AddEndpoint(choice);
  }
  PollClock& ClockOf(CPelmoranDoc* doc) { return *views.clocks.at(doc); }

  FakeModbus modbus;
  FakeTagServer tagServer;
  ClockFactory views;
  Runtime app{&views};
  EndpointRegistry& frame = app.m_endpoints;
};

TEST_F(PollClockTest, ArmedWithTheScanFrequencyAndIgnoringOtherTimers) {
  CModbusConnection* endpoint = Serial("COM");
  CPelmoranDoc* doc = Scan("COM", 60000);
  PollClock& clock = ClockOf(doc);
  EXPECT_NE(clock.m_nTimer, 0);
  EXPECT_EQ(clock.m_bScanInProgress, 0);
  clock.OnTimer(clock.m_nTimer + 1);
  EXPECT_EQ(modbus.Count("PollMODBUS"), 0);
  clock.OnTimer(clock.m_nTimer);
  EXPECT_EQ(modbus.Count("PollMODBUS"), 1);
  EXPECT_EQ(clock.m_bScanInProgress, 1);
  EXPECT_EQ(endpoint->m_bBusy, 1);
}

TEST_F(PollClockTest, ATickWhileAPollIsOutstandingDoesNotReachTheDocument) {
  CModbusConnection* endpoint = Serial("COM");
  CPelmoranDoc* doc = Scan("COM", 60000);
  PollClock& clock = ClockOf(doc);
  clock.OnTimer(clock.m_nTimer);
  clock.OnTimer(clock.m_nTimer);
  clock.OnTimer(clock.m_nTimer);
  EXPECT_EQ(modbus.Count("PollMODBUS"), 1);
  EXPECT_EQ(doc->m_nNumbrPolls, 1);
  // The response ends the poll; the next tick polls again.
  QSignalSpy refreshed(&clock, &PollClock::tagValuesRefreshed);
  FakeModbus::Respond(endpoint->m_hConnection);
  EXPECT_EQ(clock.m_bScanInProgress, 0);
  EXPECT_EQ(refreshed.count(), 1);
  clock.OnTimer(clock.m_nTimer);
  EXPECT_EQ(modbus.Count("PollMODBUS"), 2);
}

TEST_F(PollClockTest, APollRefusedAtOnceEndsTheTickIdle) {
  CPelmoranDoc* doc = Scan("NOWHERE", 60000);
  PollClock& clock = ClockOf(doc);
  QSignalSpy refreshed(&clock, &PollClock::tagValuesRefreshed);
  clock.OnTimer(clock.m_nTimer);
  EXPECT_EQ(clock.m_bScanInProgress, 0);
  EXPECT_EQ(refreshed.count(), 1);  // completed inside the poll call
  EXPECT_EQ(doc->m_scan.m_nStatus, MBS_CHANNEL_NOT_CONNECTED);
  clock.OnTimer(clock.m_nTimer);
  EXPECT_EQ(refreshed.count(), 2);
}

TEST_F(PollClockTest, ANewFrequencyRearmsWithoutCancellingTheOutstandingPoll) {
  CModbusConnection* endpoint = Serial("COM");
  CPelmoranDoc* doc = Scan("COM", 60000);
  PollClock& clock = ClockOf(doc);
  clock.OnTimer(clock.m_nTimer);
  clock.SetPollFrequency(20);
  EXPECT_EQ(doc->m_scan.m_nPollFrequency, 20);
  EXPECT_EQ(clock.m_bScanInProgress, 1);
  // Ticks of the new period pass while the poll is still out...
  TickCounter ticks(clock);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks.count >= 3; }, 5000));
  EXPECT_EQ(modbus.Count("PollMODBUS"), 1);
  // ...and once it is answered the re-armed timer (not the minute-long one)
  // starts the next poll.
  FakeModbus::Respond(endpoint->m_hConnection);
  EXPECT_TRUE(QTest::qWaitFor([&] { return modbus.Count("PollMODBUS") == 2; }, 5000));
}

TEST_F(PollClockTest, TheRunningTimerPollsAgainAfterEveryResponse) {
  CModbusConnection* endpoint = Serial("COM");
  CPelmoranDoc* doc = Scan("COM", 10);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        if (endpoint->m_bBusy) FakeModbus::Respond(endpoint->m_hConnection);
        return doc->m_nNumbrPolls >= 3;
      },
      5000));
  EXPECT_EQ(modbus.Count("PollMODBUS"), doc->m_nNumbrPolls);
}

TEST_F(PollClockTest, APeriodOfZeroOrLessTicksAtTheMinimumRate) {
  Serial("COM");
  CPelmoranDoc* doc = Scan("NOWHERE", 0);
  PollClock& clock = ClockOf(doc);
  QSignalSpy refreshed(&clock, &PollClock::tagValuesRefreshed);
  // A timer of 0 ms would tick at every turn of the event loop.
  EXPECT_EQ(ArmedPeriod(clock), PollClock::kMinimumPeriodMs);
  EXPECT_TRUE(QTest::qWaitFor([&] { return refreshed.count() > 0; }, 5000));
  clock.SetPollFrequency(-5);
  EXPECT_EQ(doc->m_scan.m_nPollFrequency, -5);
  EXPECT_NE(clock.m_nTimer, 0);
  EXPECT_EQ(ArmedPeriod(clock), PollClock::kMinimumPeriodMs);
}

}  // namespace
