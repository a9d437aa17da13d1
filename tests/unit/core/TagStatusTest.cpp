// Why a tag is bad, as its clients read it: the status code for each way a
// poll ends, the last good value kept beside it, and the time of the answer.
#include <gtest/gtest.h>

#include "pointdb/TagPublisher.h"
#include "support/CoreWorld.h"

namespace {

struct TagStatusFixture : ::testing::Test {
  CoreWorld w;
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("MODBUS1");

  const FakeTagServer::Tag& Published(const CPelmoranDoc* doc) {
    return w.tagServer.tags.at(doc->GetTag(0)->m_hTag);
  }
  void Cycle(CPelmoranDoc* doc) {
    doc->Poll();
    FakeModbus::Respond(tcp->m_hConnection);
  }
};

TEST_F(TagStatusFixture, ANewTagWaitsForItsFirstAnswer) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 1);
  EXPECT_EQ(Published(doc).status, OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA);
  EXPECT_EQ(Published(doc).value.vt, VT_EMPTY);
  EXPECT_EQ(doc->m_lastGoodTime, 0);
}

TEST_F(TagStatusFixture, EachFailureIsPublishedWithItsCauseAndTheLastValue) {
  struct Case {
    int32_t modbusStatus;
    uint32_t status;
  };
  const Case cases[] = {
      {MBS_INVALID_CHECKSUM, OPC_STATUS_BAD_COMMUNICATION_ERROR},
      {MBS_INVALID_RESPONSE, OPC_STATUS_BAD_COMMUNICATION_ERROR},
      {MBS_SVR_NOT_CONNECTED, OPC_STATUS_BAD_NOT_CONNECTED},
      {1, OPC_STATUS_BAD_DEVICE_FAILURE},
      {255, OPC_STATUS_BAD_DEVICE_FAILURE},
      {ToNumber(ScanStatus::DeviceDemoted), OPC_STATUS_BAD_OUT_OF_SERVICE},
      // Last: a time-out closes the endpoint.
      {MBS_POLL_TIMEOUT, OPC_STATUS_BAD_TIMEOUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modbusStatus);
    CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 1);
    w.modbus.memory[1] = 42;
    w.modbus.responseStatus = 0;
    Cycle(doc);
    int64_t good = Published(doc).sourceTime;
    ASSERT_EQ(Published(doc).status, OPC_STATUS_GOOD);
    EXPECT_EQ(doc->m_lastGoodTime, good);
    int64_t before = tagpublisher::Now();
    w.modbus.memory[1] = 43;
    w.modbus.responseStatus = c.modbusStatus;
    Cycle(doc);
    EXPECT_EQ(Published(doc).status, c.status);
    EXPECT_EQ(Published(doc).value.number, 42) << "the last good value";
    EXPECT_GE(Published(doc).sourceTime, before) << "when the failed answer came";
    EXPECT_EQ(doc->m_lastGoodTime, good);
  }
}

// The library says when the answer arrived; a request the program settles
// itself is stamped as it does.
TEST_F(TagStatusFixture, TheSourceTimeIsWhenTheLibrarySettledTheRequest) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 1);
  const int64_t arrived = tagpublisher::Now() - 5'000'000;  // half a second ago
  struct Case {
    int32_t modbusStatus;
    int64_t expected;
  };
  const Case cases[] = {{0, arrived}, {MBS_POLL_TIMEOUT, arrived + 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modbusStatus);
    w.modbus.answeredAt = c.expected;
    w.modbus.responseStatus = c.modbusStatus;
    Cycle(doc);
    EXPECT_EQ(Published(doc).sourceTime, c.expected);
  }
  EXPECT_EQ(doc->m_lastGoodTime, arrived);
  // The time-out of the endpoint's only device closed it.
  int64_t before = tagpublisher::Now();
  doc->Poll();
  ASSERT_EQ(Published(doc).status, OPC_STATUS_BAD_NOT_CONNECTED);
  EXPECT_GE(Published(doc).sourceTime, before);
}

TEST_F(TagStatusFixture, AScanOnAnEndpointThatIsDownIsNotConnected) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 1);
  w.modbus.memory[1] = 7;
  Cycle(doc);
  doc->m_strEndpoint = "GONE";
  doc->Poll();
  EXPECT_EQ(Published(doc).status, OPC_STATUS_BAD_NOT_CONNECTED);
  EXPECT_EQ(Published(doc).value.number, 7);
}

}  // namespace
