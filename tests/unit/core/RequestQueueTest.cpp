#include <gtest/gtest.h>

#include "platform/Bell.h"
#include "support/CoreWorld.h"

namespace {

// Endpoints and scans with a log of every hand-back a scan receives, as
// "key:status of the scan record".
struct QueueFixture : ::testing::Test {
  std::vector<std::string> log;  // outlives the world, whose teardown still hands back
  CoreWorld w;
  CModbusConnection* tcp = nullptr;
  CModbusConnection* serial = nullptr;

  void SetUp() override {
    tcp = w.ConnectedTcpEndpoint("TCP");
    serial = w.SerialEndpoint("COM", 1);
    w.modbus.Clear();
  }
  CPelmoranDoc* Scan(const std::string& endpoint, int address, int length = 4, int pointType = 3) {
    CPelmoranDoc* doc = w.Scan(endpoint, pointType, address, length);
    w.ViewOf(doc)->onScanComplete = [this, doc] {
      log.push_back(std::to_string(doc->m_nKey) + ":" + std::to_string(doc->m_scan.m_nStatus));
    };
    return doc;
  }
  bool WriteRegister(CPelmoranDoc* doc, int i, int value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return doc->WriteRegister(i, &v, doc->GetTag(i));
  }
  std::vector<int> StartedAddresses() const {
    std::vector<int> addresses;
    for (const auto& call : w.modbus.Started()) addresses.push_back(call.header.address);
    return addresses;
  }
};

TEST_F(QueueFixture, AnEqualRequestIsRefusedWith257AndTheQueuedOneIsLeftAlone) {
  CPelmoranDoc* a = Scan("TCP", 1);
  CPelmoranDoc* b = Scan("TCP", 100);
  EXPECT_EQ(a->Poll(), 1);
  EXPECT_EQ(b->Poll(), 1);
  EXPECT_EQ(b->Poll(), 0);
  EXPECT_EQ(b->m_scan.m_nStatus, 257);
  EXPECT_EQ(log, std::vector<std::string>{"3:257"});
  EXPECT_EQ(b->m_nNumbrPolls, 1);
  ASSERT_EQ(tcp->m_queue.size(), 2u);
  EXPECT_EQ(tcp->m_queue[1]->m_nStatus, 270) << "the queued request keeps its status";
  EXPECT_EQ(a->Poll(), 0) << "the outstanding head counts as queued";
  EXPECT_EQ(a->m_scan.m_nStatus, 257);
  EXPECT_EQ(StartedAddresses(), std::vector<int>{1});
}

TEST_F(QueueFixture, ATcpWriteOnAnIdleEndpointIsSentAtOnceAndAPollWaitsBehindIt) {
  CPelmoranDoc* writer = Scan("TCP", 500);
  CPelmoranDoc* poller = Scan("TCP", 1);
  EXPECT_TRUE(WriteRegister(writer, 2, 42));
  ASSERT_EQ(StartedAddresses(), std::vector<int>{502});
  EXPECT_EQ(w.modbus.Started()[0].fn, "WriteMODBUS");
  EXPECT_TRUE(tcp->m_bBusy);
  EXPECT_EQ(poller->Poll(), 1);
  EXPECT_EQ(StartedAddresses(), std::vector<int>{502}) << "the poll waits behind the write";
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(StartedAddresses(), (std::vector<int>{502, 1}));
  EXPECT_EQ(w.modbus.memory[502], 42);
  EXPECT_EQ(log, std::vector<std::string>{"2:270"})
      << "the write republishes, the scan keeps its record";
}

TEST_F(QueueFixture, ASerialWriteIsSentAtOnce) {
  CPelmoranDoc* writer = Scan("COM", 10);
  EXPECT_TRUE(WriteRegister(writer, 0, 7));
  ASSERT_EQ(w.modbus.Started().size(), 1u);
  EXPECT_EQ(w.modbus.Started()[0].header.function, 6);
  EXPECT_TRUE(serial->m_bBusy);
}

TEST_F(QueueFixture, AMismatchedResponseFailsEveryQueuedRequestInOrder) {
  CPelmoranDoc* a = Scan("TCP", 1);
  CPelmoranDoc* b = Scan("TCP", 100);
  CPelmoranDoc* c = Scan("TCP", 200);
  a->Poll();
  b->Poll();
  WriteRegister(c, 0, 9);
  w.modbus.responses.push_back({RequestHeader{1, 3, 1, 5}, {}, 0});  // one point too many
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(log, (std::vector<std::string>{"2:267", "3:267", "4:270"}));
  EXPECT_TRUE(tcp->m_queue.empty());
  EXPECT_FALSE(tcp->m_bBusy);
  EXPECT_EQ(w.modbus.Started().size(), 1u) << "nothing is sent until the next request";
  a->Poll();
  EXPECT_EQ(w.modbus.Started().size(), 2u);
}

TEST_F(QueueFixture, EachHeaderFieldIsChecked) {
  CPelmoranDoc* a = Scan("TCP", 1);
  const RequestHeader wrong[] = {{2, 3, 1, 4}, {1, 4, 1, 4}, {1, 3, 2, 4}};
  for (const RequestHeader& header : wrong) {
    log.clear();
    a->Poll();
    w.modbus.responses.push_back({header, {}, 0});
    FakeModbus::Respond(tcp->m_hConnection);
    EXPECT_EQ(log, std::vector<std::string>{"2:267"});
  }
}

TEST_F(QueueFixture, AMatchingResponseCopiesItsWordsAndStatus) {
  CPelmoranDoc* a = Scan("TCP", 1, 3);
  a->Poll();
  w.modbus.responses.push_back({RequestHeader{1, 3, 1, 3}, {11, 22, 33, 44}, 0});
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(a->m_scan.m_data[0], 11);
  EXPECT_EQ(a->m_scan.m_data[2], 33);
  EXPECT_EQ(a->m_scan.m_data[3], 0) << "only the request's length is copied";
  EXPECT_EQ(log, std::vector<std::string>{"2:0"});
  EXPECT_FALSE(tcp->m_bBusy);
}

TEST_F(QueueFixture, ALengthZeroResponseCopiesNothing) {
  CPelmoranDoc* a = Scan("TCP", 1, 0);
  a->m_scan.m_data[0] = 77;
  w.modbus.memory[1] = 5;
  w.modbus.responseStatus = 3;
  a->Poll();
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(log, std::vector<std::string>{"2:3"});
  EXPECT_EQ(a->m_scan.m_data[0], 77);
}

TEST_F(QueueFixture, AnImmediateRefusalIsHandedBackAndTheNextIsSent) {
  CPelmoranDoc* a = Scan("TCP", 1);
  CPelmoranDoc* b = Scan("TCP", 100);
  CPelmoranDoc* c = Scan("TCP", 200);
  a->Poll();
  b->Poll();
  c->Poll();
  w.modbus.startResults = {256};
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(log, (std::vector<std::string>{"2:0", "3:256"}));
  EXPECT_EQ(StartedAddresses(), (std::vector<int>{1, 100, 200}));
  ASSERT_EQ(tcp->m_queue.size(), 1u);
  EXPECT_EQ(tcp->m_queue[0]->m_nPointAddress, 200);
  EXPECT_TRUE(tcp->m_bBusy);
}

TEST_F(QueueFixture, ARefusalInsideEnqueueStillCountsAsAccepted) {
  CPelmoranDoc* a = Scan("TCP", 1);
  w.modbus.startResults = {258, 259};
  CPelmoranDoc* b = Scan("TCP", 100);
  a->Poll();
  EXPECT_EQ(a->m_nNumbrPolls, 1);
  EXPECT_EQ(a->m_scan.m_nStatus, 258);
  EXPECT_EQ(b->Poll(), 1);
  EXPECT_EQ(log, (std::vector<std::string>{"2:258", "3:259"}));
  EXPECT_FALSE(tcp->m_bBusy);
  EXPECT_TRUE(tcp->m_queue.empty());
}

TEST_F(QueueFixture, AHandBackThatPollsAgainStartsItsRequestOnce) {
  CPelmoranDoc* a = Scan("TCP", 1);
  CPelmoranDoc* b = Scan("TCP", 100);
  bool again = true;
  w.ViewOf(a)->onScanComplete = [&] {
    if (again) b->Poll();
    again = false;
  };
  w.modbus.startResults = {256};
  a->Poll();
  EXPECT_EQ(StartedAddresses(), (std::vector<int>{1, 100}));
  EXPECT_TRUE(tcp->m_bBusy);
  ASSERT_EQ(tcp->m_queue.size(), 1u);
}

TEST_F(QueueFixture, OnlyARefusedSingleRegisterWriteRingsTheBell) {
  std::vector<std::pair<unsigned, unsigned>> bells;
  SetBeepHandler([&](unsigned f, unsigned d) { bells.emplace_back(f, d); });
  CPelmoranDoc* writer = Scan("COM", 10);
  writer->GetTag(2)->m_nDataType = 6;
  w.modbus.startResults = {268, 268, 0};
  WriteRegister(writer, 0, 1);
  EXPECT_EQ(bells, (std::vector<std::pair<unsigned, unsigned>>{{2000, 2000}}));
  WriteRegister(writer, 2, 1);
  EXPECT_EQ(bells.size(), 1u) << "function 16 refused: no bell";
  EXPECT_EQ(w.modbus.Started()[1].header.function, 16);
  writer->Poll();
  EXPECT_EQ(bells.size(), 1u);
  SetBeepHandler(nullptr);
}

TEST_F(QueueFixture, AResponseCallbackWithAnEmptyQueueDoesNothing) {
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_TRUE(w.modbus.Started().empty());
  EXPECT_TRUE(log.empty());
}

TEST_F(QueueFixture, RequestsLongerThanTheResponseBufferAreRefused) {
  CPelmoranDoc* big = Scan("TCP", 1, 2001);
  EXPECT_EQ(big->Poll(), 0);
  EXPECT_EQ(big->m_scan.m_nStatus, 260);
  EXPECT_EQ(big->m_scan.GetStatusText(), "INVALID LENGTH");
  EXPECT_TRUE(w.modbus.Started().empty());
  EXPECT_TRUE(tcp->m_queue.empty());
  CPelmoranDoc* full = Scan("TCP", 1, 2000);
  EXPECT_EQ(full->Poll(), 1);
  w.modbus.memory[2000] = 99;
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(full->m_scan.m_data[1999], 99);
}

TEST_F(QueueFixture, ANewerWriteReplacesAnEqualOneStillWaiting) {
  CPelmoranDoc* writer = Scan("TCP", 500);
  CPelmoranDoc* poller = Scan("TCP", 1);
  poller->Poll();  // outstanding, so the writes wait
  EXPECT_TRUE(WriteRegister(writer, 0, 5));
  EXPECT_TRUE(WriteRegister(writer, 0, 7));
  EXPECT_TRUE(WriteRegister(writer, 1, 8)) << "another register is another request";
  ASSERT_EQ(tcp->m_queue.size(), 3u);
  FakeModbus::Respond(tcp->m_hConnection);
  FakeModbus::Respond(tcp->m_hConnection);
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(w.modbus.memory[500], 7);
  EXPECT_EQ(w.modbus.memory[501], 8);
  EXPECT_EQ(w.modbus.Count("WriteMODBUS"), 2);
}

TEST_F(QueueFixture, AWriteEqualToTheOutstandingOneQueuesBehindIt) {
  CPelmoranDoc* writer = Scan("COM", 10);
  WriteRegister(writer, 0, 5);  // sent at once, outstanding
  WriteRegister(writer, 0, 7);  // waits behind it
  WriteRegister(writer, 0, 9);  // replaces the waiting 7
  EXPECT_EQ(serial->m_queue.size(), 2u);
  FakeModbus::Respond(serial->m_hConnection);
  FakeModbus::Respond(serial->m_hConnection);
  auto started = w.modbus.Started();
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0].data, std::vector<uint16_t>{5});
  EXPECT_EQ(started[1].data, std::vector<uint16_t>{9});
  EXPECT_EQ(w.modbus.memory[10], 9) << "the device ends with the last value written";
}

// Bit writes to one register that wait together keep both bits: the waiting
// mask write takes the later one's bits over its own.
TEST_F(QueueFixture, MaskWritesOfOneRegisterWaitingTogetherKeepEveryBit) {
  CPelmoranDoc* writer = Scan("COM", 10);
  for (int i = 0; i < 3; ++i) writer->SetTagFormat(i, 33, 0, 100, {.bit = 0});
  writer->GetTag(1)->m_format.bit = 3;
  writer->GetTag(2)->m_format.bit = 0;
  VARIANT on;
  VariantInit(&on);
  on.vt = VT_BOOL;
  on.boolVal = VARIANT_TRUE;
  VARIANT off = on;
  off.boolVal = VARIANT_FALSE;
  // All three name register 10 as one request would: the same tag row.
  EXPECT_TRUE(writer->WriteRegister(0, &on, writer->GetTag(0)));   // outstanding
  EXPECT_TRUE(writer->WriteRegister(0, &on, writer->GetTag(1)));   // waits: set bit 3
  EXPECT_TRUE(writer->WriteRegister(0, &off, writer->GetTag(2)));  // joins it: clear bit 0
  EXPECT_EQ(serial->m_queue.size(), 2u);
  FakeModbus::Respond(serial->m_hConnection);
  auto started = w.modbus.Started();
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0].data, (std::vector<uint16_t>{0xFFFE, 0x0001}));
  EXPECT_EQ(started[1].data, (std::vector<uint16_t>{0xFFF6, 0x0008}));
}

TEST_F(QueueFixture, CloseDropsTheQueueAndReleasesEachScanOnce) {
  CPelmoranDoc* a = Scan("TCP", 1);
  CPelmoranDoc* b = Scan("TCP", 100);
  CPelmoranDoc* c = Scan("TCP", 200);
  a->Poll();
  b->Poll();
  c->Poll();
  int handle = tcp->m_hConnection;
  tcp->Close();
  EXPECT_TRUE(tcp->m_queue.empty());
  EXPECT_FALSE(tcp->m_bBusy);
  EXPECT_FALSE(tcp->IsConnected());
  EXPECT_EQ(log, (std::vector<std::string>{"2:266", "3:266", "4:266"}));
  EXPECT_EQ(StartedAddresses(), std::vector<int>{1}) << "none of the waiting ones was sent";
  EXPECT_EQ(w.modbus.Count("CloseConnection"), 1);
  FakeModbus::Respond(handle);
  EXPECT_EQ(log.size(), 3u) << "a late callback for the closed handle reaches nobody";
  tcp->Close();
  EXPECT_EQ(w.modbus.Count("CloseConnection"), 1) << "a closed handle is never closed twice";
}

TEST_F(QueueFixture, ATimeoutThatClosesItsOwnEndpointReleasesTheRestOnce) {
  CPelmoranDoc* a = Scan("TCP", 1);
  CPelmoranDoc* b = Scan("TCP", 100);
  CPelmoranDoc* c = Scan("TCP", 200);
  a->Poll();
  b->Poll();
  c->Poll();
  w.modbus.responseStatus = 263;
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(log, (std::vector<std::string>{"2:263", "3:266", "4:266"}));
  EXPECT_FALSE(tcp->IsConnected());
  EXPECT_TRUE(tcp->m_queue.empty());
  EXPECT_EQ(w.modbus.Count("CloseConnection"), 1);
  EXPECT_EQ(w.modbus.Started().size(), 1u);
}

TEST_F(QueueFixture, AHandBackForAClosedScanIsDropped) {
  CPelmoranDoc* a = Scan("TCP", 1);
  CPelmoranDoc* b = Scan("TCP", 100);
  a->Poll();
  b->Poll();
  w.app.m_docTemplate.CloseDocument(a);
  FakeModbus::Respond(tcp->m_hConnection);
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(log, std::vector<std::string>{"3:0"});
  EXPECT_TRUE(tcp->m_queue.empty());
}

TEST_F(QueueFixture, ANotConnectedEndpointRefusesWithoutTouchingTheRequest) {
  CModbusConnection lone;
  CModbusMsg request;
  EXPECT_EQ(lone.Enqueue(&request), 0);
  EXPECT_EQ(request.m_nStatus, 270);
}

}  // namespace
