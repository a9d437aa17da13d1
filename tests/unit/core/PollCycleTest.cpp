#include <gtest/gtest.h>

#include "support/CoreWorld.h"

namespace {

struct PollFixture : ::testing::Test {
  CoreWorld w;
  CModbusConnection* tcp = nullptr;

  void SetUp() override { tcp = w.ConnectedTcpEndpoint("MODBUS1"); }
  // One complete poll: the tick, then the library's answer.
  void Cycle(CPelmoranDoc* doc) {
    doc->Poll();
    FakeModbus::Respond(tcp->m_hConnection);
  }
  const FakeTagServer::Tag& Published(const CPelmoranDoc* doc, int i) {
    return w.tagServer.tags.at(doc->GetTag(i)->m_hTag);
  }
};

TEST_F(PollFixture, AGoodPollPublishesEveryTagAsARealWithGoodQuality) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 10, 3, 1);
  w.modbus.memory[10] = 5;
  w.modbus.memory[11] = 0xFFFF;
  w.modbus.memory[12] = 300;
  Cycle(doc);
  EXPECT_EQ(doc->m_scan.m_nStatus, 0);
  EXPECT_EQ(doc->m_nNumbrPolls, 1);
  const double want[] = {5, -1, 300};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Published(doc, i).quality, 192);
    EXPECT_EQ(Published(doc, i).value.vt, VT_R4);
    EXPECT_EQ(Published(doc, i).value.number, want[i]);
    EXPECT_EQ(doc->GetTag(i)->m_value.vt, VT_R4);
  }
  EXPECT_EQ(w.ViewOf(doc)->scanCompletes, 1);
}

TEST_F(PollFixture, EveryPointTypeReadsWithItsOwnFunction) {
  for (int type = 1; type <= 4; ++type) {
    CPelmoranDoc* doc = w.Scan("MODBUS1", type, 1, 2);
    Cycle(doc);
    EXPECT_EQ(w.modbus.Started().back().header.function, type);
  }
}

TEST_F(PollFixture, AFailedPollRepublishesTheLastValuesWithBadQuality) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  w.modbus.memory[1] = 42;
  Cycle(doc);
  w.modbus.memory[1] = 43;
  w.modbus.responseStatus = 2;
  Cycle(doc);
  EXPECT_EQ(doc->m_scan.m_nStatus, 2);
  EXPECT_EQ(Published(doc, 0).quality, 0);
  EXPECT_EQ(Published(doc, 0).value.number, 42) << "the last good value";
  // Waiting for its first value, then the good and the failed poll.
  EXPECT_EQ(Published(doc, 0).updates, 3);
  std::string value, type, low, high;
  doc->FormatTag(0, value, type, low, high);
  EXPECT_EQ(value, "Slave Exception #2");
}

TEST_F(PollFixture, AMissingEndpointGives266AndStaleValuesTurnBad) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  Cycle(doc);
  ASSERT_EQ(Published(doc, 0).quality, 192);
  doc->m_strEndpoint = "GONE";
  EXPECT_EQ(doc->Poll(), 0);
  EXPECT_EQ(doc->m_scan.m_nStatus, 266);
  EXPECT_EQ(doc->m_nNumbrPolls, 1) << "a poll that cannot start is not counted";
  EXPECT_EQ(Published(doc, 0).quality, 0) << "a value no longer read is not shown as good";
  EXPECT_EQ(Published(doc, 1).quality, 0);
  EXPECT_EQ(w.ViewOf(doc)->lastStatus, 266);
  std::string value, type, low, high;
  doc->FormatTag(1, value, type, low, high);
  EXPECT_EQ(value, "CHANNEL NOT CONNECTED");
}

TEST_F(PollFixture, ANotConnectedEndpointGives266) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, tcp->m_hConnection);
  EXPECT_EQ(doc->Poll(), 0);
  EXPECT_EQ(doc->m_scan.m_nStatus, 266);
  EXPECT_TRUE(w.modbus.Started().empty());
}

TEST_F(PollFixture, ATimeoutClosesATcpEndpointAndTheTimerReconnectsIt) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  w.modbus.responseStatus = 263;
  Cycle(doc);
  EXPECT_EQ(doc->m_scan.m_nStatus, 263);
  EXPECT_FALSE(tcp->IsConnected());
  EXPECT_EQ(w.modbus.Count("CloseConnection"), 1);
  std::string value, type, low, high;
  doc->FormatTag(0, value, type, low, high);
  EXPECT_EQ(value, "POLL TIMEOUT");
  w.frame.ReconnectTcpEndpoints();
  EXPECT_EQ(w.modbus.Count("ConnectTCP2"), 2);
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, tcp->m_hTcpConnection);
  w.modbus.responseStatus = 0;
  Cycle(doc);
  EXPECT_EQ(doc->m_scan.m_nStatus, 0);
}

TEST_F(PollFixture, ATimeoutLeavesASerialEndpointOpen) {
  CModbusConnection* serial = w.SerialEndpoint("COM1", 1);
  CPelmoranDoc* doc = w.Scan("COM1", 3, 1, 2);
  w.modbus.responseStatus = 263;
  doc->Poll();
  FakeModbus::Respond(serial->m_hConnection);
  EXPECT_EQ(doc->m_scan.m_nStatus, 263);
  EXPECT_TRUE(serial->IsConnected());
  EXPECT_EQ(w.modbus.Count("CloseConnection"), 0);
}

TEST_F(PollFixture, AResponseKeepsThePollFrequencyChangedMeanwhile) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  doc->Poll();
  w.ViewOf(doc)->SetPollFrequency(250);
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(doc->m_scan.m_nPollFrequency, 250);
  EXPECT_EQ(doc->m_scan.m_nStatus, 0);
}

TEST_F(PollFixture, AnEqualQueuedPollShowsMsgOverrunWithoutRepublishing) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  Cycle(doc);
  doc->Poll();
  int updates = Published(doc, 0).updates;
  EXPECT_EQ(doc->Poll(), 0);
  EXPECT_EQ(doc->m_scan.m_nStatus, 257);
  EXPECT_EQ(Published(doc, 0).updates, updates);
  EXPECT_EQ(Published(doc, 0).quality, 192);
  std::string value, type, low, high;
  doc->FormatTag(0, value, type, low, high);
  EXPECT_EQ(value, "MSG OVERRUN");
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(doc->m_scan.m_nStatus, 0);
}

TEST_F(PollFixture, AnOversizedScanIsRefusedAndItsValuesAreBad) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2100);
  EXPECT_EQ(doc->Poll(), 0);
  EXPECT_EQ(doc->m_scan.m_nStatus, 260);
  EXPECT_EQ(Published(doc, 2099).quality, 0);
  EXPECT_EQ(Published(doc, 2099).updates, 2);
}

TEST_F(PollFixture, AWriteResponseRepublishesButKeepsTheRecord) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  w.modbus.memory[1] = 10;
  Cycle(doc);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 77;
  w.app.OfferClientWrite(doc->GetTag(0)->m_hTag, &v);
  doc->Poll();  // the waiting write goes first
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(w.modbus.memory[1], 77);
  EXPECT_EQ(doc->m_scan.m_data[0], 10) << "the write's response is not taken into the record";
  EXPECT_EQ(Published(doc, 0).value.number, 10);
  EXPECT_EQ(Published(doc, 0).updates, 3);
  EXPECT_EQ(w.ViewOf(doc)->scanCompletes, 2);
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(Published(doc, 0).value.number, 77) << "the next poll reads the written value";
}

TEST_F(PollFixture, ClientWritesGoToTheFirstScanOwningTheHandle) {
  CPelmoranDoc* a = w.Scan("MODBUS1", 4, 1, 2);
  CPelmoranDoc* b = w.Scan("MODBUS1", 3, 1, 2);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 3;
  w.tagServer.writeCallback = nullptr;
  w.app.OfferClientWrite(b->GetTag(1)->m_hTag, &v);
  EXPECT_EQ(tcp->m_queue.size(), 1u);
  EXPECT_EQ(tcp->m_queue[0]->m_nKey, b->m_nKey);
  w.app.OfferClientWrite(a->GetTag(0)->m_hTag, &v);
  EXPECT_EQ(tcp->m_queue.size(), 1u) << "an input register is never written";
  w.app.OfferClientWrite(999, &v);
  EXPECT_EQ(tcp->m_queue.size(), 1u);
}

TEST_F(PollFixture, WritesAreNotCountedAsPolls) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 1, 1, 2);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  EXPECT_TRUE(doc->HandleClientWrite(doc->GetTag(1)->m_hTag, &v));
  EXPECT_EQ(doc->m_nNumbrPolls, 0);
  ASSERT_EQ(tcp->m_queue.size(), 1u);
  EXPECT_EQ(tcp->m_queue[0]->m_nPointType, 5);
  EXPECT_EQ(tcp->m_queue[0]->m_nPointAddress, 2);
}

}  // namespace
