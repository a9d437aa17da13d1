// Writes that the program completes later: the response waits for every value
// in it, the server goes on meanwhile, and a bound answers what is still out.
#include <gtest/gtest.h>

#include "TestClient.h"
#include "opcua/UaStatusCodes.h"
#include "tagserver/UaNodeIds.h"

namespace tagserver {
namespace {

using test::FloatVariant;
using test::Response;
using test::TestClient;
using test::TestServer;
using test::WireWriter;

std::function<void(WireWriter&)> WriteFloats(const std::vector<std::string>& names) {
  return [names](WireWriter& e) {
    e.int32(static_cast<int32_t>(names.size()));
    for (const std::string& name : names) {
      UaDataValue dv;
      dv.hasValue = true;
      dv.value = UaVariant::Scalar(UaType::Float, 3.0f);
      e.nodeId(UaNodeId::Str(1, name));
      e.uint32(UaId::AttrValue);
      e.nullString();
      e.dataValue(dv);
    }
  };
}

class HeldWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s.tags.Create("PLC.1.0001", FloatVariant(1), 192, true);
    s.tags.Create("PLC.1.0002", FloatVariant(2), 192, true);
    s.tags.Create("PLC.4.0007", FloatVariant(7), 192, false);
    s.writeResult = UaStatus::GoodCompletesAsynchronously;
    c.Ready();
  }
  uint32_t Write(const std::vector<std::string>& names) {
    return c.Request(UaId::WriteRequest_Encoding_DefaultBinary, WriteFloats(names));
  }
  // The Write answers that arrived, by request id.
  std::map<uint32_t, std::vector<uint32_t>> Answers() {
    std::map<uint32_t, std::vector<uint32_t>> out;
    for (const Response& r : c.TakeResponses()) {
      if (r.typeId != UaId::WriteResponse_Encoding_DefaultBinary) continue;
      UaDecoder d = r.Body();
      out[r.requestId] = d.UInt32Array();
    }
    return out;
  }
  HeldWrites& Held() { return s.server->PendingWrites(); }

  TestServer s;
  TestClient c{*s.server};
};

TEST_F(HeldWriteTest, TheAnswerWaitsForEveryValueAndCarriesEachOnesStatus) {
  uint32_t id = Write({"PLC.1.0001", "PLC.4.0007", "PLC.1.0002"});
  ASSERT_EQ(s.tokens.size(), 2u) << "the read-only tag is refused without the program";
  EXPECT_TRUE(Answers().empty());
  // The same client is served while its write is out.
  Response read = c.Call(UaId::ReadRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.float64(0);
    e.uint32(0);
    e.int32(1);
    e.nodeId(UaNodeId::Str(1, "PLC.1.0001"));
    e.uint32(UaId::AttrValue);
    e.nullString();
    e.qualifiedName({});
  });
  EXPECT_EQ(read.serviceResult, UaStatus::Good);
  Held().Complete(s.tokens[1], UaStatus::BadDeviceFailure);
  EXPECT_TRUE(Answers().empty());
  Held().Complete(s.tokens[0], UaStatus::Good);
  auto answers = Answers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[id], (std::vector<uint32_t>{UaStatus::Good, UaStatus::BadNotWritable,
                                                UaStatus::BadDeviceFailure}));
  EXPECT_EQ(Held().OutstandingCount(), 0u);
}

TEST_F(HeldWriteTest, RequestsOfOneClientAreAnsweredAsEachFinishes) {
  uint32_t first = Write({"PLC.1.0001"});
  uint32_t second = Write({"PLC.1.0002"});
  ASSERT_EQ(s.tokens.size(), 2u);
  Held().Complete(s.tokens[1], UaStatus::BadTimeout);
  auto answers = Answers();
  EXPECT_EQ(answers.count(first), 0u);
  EXPECT_EQ(answers[second], (std::vector<uint32_t>{UaStatus::BadTimeout}));
  Held().Complete(s.tokens[0], UaStatus::Good);
  EXPECT_EQ(Answers()[first], (std::vector<uint32_t>{UaStatus::Good}));
}

TEST_F(HeldWriteTest, TheBoundAnswersWhatIsStillOutAndLateCompletionsAreIgnored) {
  Held().SetBound(std::chrono::milliseconds(20));
  uint32_t id = Write({"PLC.1.0001", "PLC.1.0002"});
  ASSERT_EQ(s.tokens.size(), 2u);
  Held().Complete(s.tokens[0], UaStatus::Good);
  s.io.restart();
  while (Held().OutstandingCount() > 0) s.io.run_one();  // until the bound's timer ran
  EXPECT_EQ(Answers()[id], (std::vector<uint32_t>{UaStatus::Good, UaStatus::BadTimeout}));
  Held().Complete(s.tokens[1], UaStatus::Good);
  EXPECT_TRUE(Answers().empty());
  EXPECT_EQ(Held().OutstandingCount(), 0u);
}

TEST_F(HeldWriteTest, AClientThatLeftGetsNothingAndLeavesNothingBehind) {
  Write({"PLC.1.0001"});
  ASSERT_EQ(s.tokens.size(), 1u);
  c.conn->Shutdown();
  c.received.clear();
  Held().Complete(s.tokens[0], UaStatus::Good);
  EXPECT_TRUE(c.received.empty());
  EXPECT_EQ(Held().OutstandingCount(), 0u);
}

}  // namespace
}  // namespace tagserver
