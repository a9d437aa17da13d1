// UA TCP and the secure channel: Hello and Acknowledge, chunking both ways,
// and the Error message that ends a connection fed bad bytes.
#include <gtest/gtest.h>

#include "TestClient.h"
#include "opcua/UaStatusCodes.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"

namespace tagserver {
namespace {

using test::Chunk;
using test::TestClient;
using test::TestServer;
using test::WireWriter;

uint32_t ErrorOf(const std::vector<Chunk>& chunks) {
  for (const Chunk& c : chunks) {
    if (c.type != "ERR") continue;
    UaDecoder d(c.body.data(), c.body.size());
    return d.UInt32();
  }
  return 0;
}

auto ReadValueOf(const std::string& name) {
  return [name](WireWriter& e) {
    e.float64(0);
    e.uint32(2);
    e.int32(1);
    e.nodeId(UaNodeId::Str(1, name));
    e.uint32(13);
    e.nullString();
    e.qualifiedName({});
  };
}

TEST(Connection, HelloIsAcknowledgedWithTheSmallerBufferSizes) {
  TestServer s;
  TestClient c(*s.server);
  c.Hello(8192, 100000, 0, 0);
  auto chunks = c.TakeChunks();
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].type, "ACK");
  UaDecoder d(chunks[0].body.data(), chunks[0].body.size());
  EXPECT_EQ(d.UInt32(), 0u);
  EXPECT_EQ(d.UInt32(), limits::kReceiveBufferSize);  // ours: client sends up to 100000
  EXPECT_EQ(d.UInt32(), 8192u);                       // client's receive buffer
  EXPECT_EQ(d.UInt32(), limits::kMaxMessageSize);
  EXPECT_EQ(d.UInt32(), limits::kMaxChunkCount);
  EXPECT_FALSE(c.closed);
}

TEST(Connection, HelloAndOpenArriveByteByByte) {
  TestServer s;
  TestClient c(*s.server);
  auto hello = TestClient::HelloBytes(65536, 65536, 0, 0);
  for (uint8_t b : hello) c.conn->Receive(&b, 1);
  EXPECT_EQ(c.TakeChunks().at(0).type, "ACK");
  c.Open();
  EXPECT_NE(c.channelId, 0u);
  EXPECT_NE(c.tokenId, 0u);
  EXPECT_TRUE(c.conn->HasChannel());
}

TEST(Connection, BadOpeningsCloseWithTheMatchingError) {
  struct Case {
    std::function<void(TestClient&)> act;
    uint32_t error;
  };
  std::vector<Case> cases = {
      {[](TestClient& c) {
         c.Raw(c.OpenBytes(0, "http://opcfoundation.org/UA/SecurityPolicy#None"));
       },
       UaStatus::BadTcpMessageTypeInvalid},
      {[](TestClient& c) {
         c.Raw({'X', 'Y', 'Z', 'F', 8, 0, 0, 0});
       },
       UaStatus::BadTcpMessageTypeInvalid},
      {[](TestClient& c) {
         c.Raw({'H', 'E', 'L', 'F', 0xFF, 0xFF, 0, 0});
       },
       UaStatus::BadTcpMessageTooLarge},
      {[](TestClient& c) {
         c.Raw({'H', 'E', 'L', 'F', 4, 0, 0, 0});
       },
       UaStatus::BadTcpMessageTooLarge},
      {[](TestClient& c) { c.Hello(1024, 1024); }, UaStatus::BadConnectionRejected},
      {[](TestClient& c) {
         c.Hello();
         c.TakeChunks();
         c.Raw(c.OpenBytes(0, "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256"));
       },
       UaStatus::BadSecurityPolicyRejected},
      {[](TestClient& c) {
         c.Hello();
         c.TakeChunks();
         c.Raw(c.OpenBytes(1, "http://opcfoundation.org/UA/SecurityPolicy#None"));
       },
       UaStatus::BadRequestTypeInvalid},
      {[](TestClient& c) {
         c.Hello();
         c.Hello();
       },
       UaStatus::BadTcpMessageTypeInvalid},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    TestServer s;
    TestClient c(*s.server);
    cases[i].act(c);
    EXPECT_EQ(ErrorOf(c.TakeChunks()), cases[i].error) << "case " << i;
    EXPECT_TRUE(c.closed) << "case " << i;
    EXPECT_FALSE(c.conn->IsOpen()) << "case " << i;
  }
}

TEST(Connection, ARequestSplitIntoChunksIsAnsweredOnce) {
  TestServer s;
  s.tags.Create("T1", test::FloatVariant(4.5f), 192, false);
  TestClient c(*s.server);
  c.Ready();
  uint32_t id = c.Request(UaId::ReadRequest_Encoding_DefaultBinary, ReadValueOf("T1"), 7);
  auto responses = c.TakeResponses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].requestId, id);
  EXPECT_EQ(responses[0].typeId, UaId::ReadResponse_Encoding_DefaultBinary);
  UaDecoder d = responses[0].Body();
  ASSERT_EQ(d.Int32(), 1);
  EXPECT_EQ(std::get<float>(d.DataValue().value.values[0]), 4.5f);
}

TEST(Connection, AnAbortChunkDropsWhatCameBefore) {
  TestServer s;
  TestClient c(*s.server);
  c.Ready();
  WireWriter abort;
  abort.raw("MSGA");
  abort.uint32(24);
  abort.uint32(c.channelId);
  abort.uint32(c.tokenId);
  c.Request(UaId::ReadRequest_Encoding_DefaultBinary, ReadValueOf("T1"), 5);
  c.TakeResponses();
  // Half a request, an abort, then a whole request: one answer, to the last.
  WireWriter half;
  half.raw("MSGC");
  half.uint32(30);
  half.uint32(c.channelId);
  half.uint32(c.tokenId);
  half.uint32(c.sequence++);
  half.uint32(77);
  half.raw(std::string_view("\x01\x00\xD3\x01\x00\x00", 6));
  c.Raw(half.bytes());
  abort.uint32(c.sequence++);
  abort.uint32(77);
  c.Raw(abort.bytes());
  uint32_t id = c.Request(UaId::ReadRequest_Encoding_DefaultBinary, ReadValueOf("T1"));
  auto responses = c.TakeResponses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].requestId, id);
  EXPECT_FALSE(c.closed);
}

TEST(Connection, ALargeResponseIsCutToTheClientsBuffer) {
  TestServer s;
  for (int i = 0; i < 600; ++i)
    s.tags.Create("TAG." + std::to_string(1000 + i), test::FloatVariant(1), 192, false);
  TestClient c(*s.server);
  c.Hello(8192, 8192, 0, 0);
  c.TakeChunks();
  c.Open();
  c.CreateSession();
  c.ActivateSession();
  c.Request(UaId::BrowseRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.nodeId({});
    e.dateTime(0);
    e.uint32(0);
    e.uint32(0);
    e.int32(1);
    e.nodeId(UaNodeId::Num(1, 1));
    e.uint32(0);
    e.nodeId({});
    e.boolean(true);
    e.uint32(0);
    e.uint32(63);
  });
  std::vector<uint8_t> raw = c.received;
  size_t chunks = 0;
  for (size_t at = 0; at + 8 <= raw.size();) {
    uint32_t size = raw[at + 4] | raw[at + 5] << 8 | raw[at + 6] << 16 | raw[at + 7] << 24;
    EXPECT_LE(size, 8192u);
    at += size;
    ++chunks;
  }
  EXPECT_GT(chunks, 2u);
  auto responses = c.TakeResponses();
  ASSERT_EQ(responses.size(), 1u);
  UaDecoder d = responses[0].Body();
  ASSERT_EQ(d.Int32(), 1);
  EXPECT_EQ(d.UInt32(), UaStatus::Good);
  d.Bytes();
  EXPECT_EQ(d.Int32(), 601);  // the tags and the type definition
}

TEST(Connection, AResponseBeyondTheClientsLimitsBecomesAFault) {
  // By message size, then by chunk count.
  for (auto [maxMessage, maxChunks] : {std::pair<uint32_t, uint32_t>{16384, 0}, {0, 2}}) {
    TestServer s;
    for (int i = 0; i < 600; ++i)
      s.tags.Create("TAG." + std::to_string(1000 + i), test::FloatVariant(1), 192, false);
    TestClient c(*s.server);
    c.Hello(8192, 8192, maxMessage, maxChunks);
    c.TakeChunks();
    c.Open();
    c.CreateSession();
    c.ActivateSession();
    auto r = c.Call(UaId::BrowseRequest_Encoding_DefaultBinary, [](WireWriter& e) {
      e.nodeId({});
      e.dateTime(0);
      e.uint32(0);
      e.uint32(0);
      e.int32(1);
      e.nodeId(UaNodeId::Num(1, 1));
      e.uint32(0);
      e.nodeId({});
      e.boolean(true);
      e.uint32(0);
      e.uint32(63);
    });
    EXPECT_EQ(r.typeId, UaId::ServiceFault_Encoding_DefaultBinary);
    EXPECT_EQ(r.serviceResult, UaStatus::BadResponseTooLarge);
    EXPECT_FALSE(c.closed);
  }
}

TEST(Connection, SequenceGapsWrongChannelsAndUnknownTokensClose) {
  std::vector<std::function<void(TestClient&)>> faults = {
      [](TestClient& c) { c.sequence += 5; },
      [](TestClient& c) { c.channelId += 1; },
      [](TestClient& c) { c.tokenId += 9; },
  };
  std::vector<uint32_t> errors = {UaStatus::BadSequenceNumberInvalid,
                                  UaStatus::BadSecureChannelIdInvalid,
                                  UaStatus::BadSecureChannelTokenUnknown};
  for (size_t i = 0; i < faults.size(); ++i) {
    TestServer s;
    TestClient c(*s.server);
    c.Connect();
    faults[i](c);
    c.Request(UaId::GetEndpointsRequest_Encoding_DefaultBinary, [](WireWriter& e) {
      e.nullString();
      e.nullArray();
      e.nullArray();
    });
    EXPECT_EQ(ErrorOf(c.TakeChunks()), errors[i]) << i;
    EXPECT_TRUE(c.closed) << i;
  }
}

TEST(Connection, TooManyChunksForOneMessageClose) {
  TestServer s;
  TestClient c(*s.server);
  c.Connect();
  WireWriter out;
  for (uint32_t i = 0; i <= limits::kMaxChunkCount; ++i) {
    size_t start = out.size();
    out.raw("MSGC");
    out.uint32(25);
    out.uint32(c.channelId);
    out.uint32(c.tokenId);
    out.uint32(c.sequence++);
    out.uint32(9);
    out.byte(0);
    (void)start;
  }
  c.Raw(out.bytes());
  EXPECT_EQ(ErrorOf(c.TakeChunks()), UaStatus::BadTcpMessageTooLarge);
  EXPECT_TRUE(c.closed);
}

TEST(Connection, CloseSecureChannelEndsTheConnectionQuietly) {
  TestServer s;
  TestClient c(*s.server);
  c.Connect();
  WireWriter clo;
  clo.raw("CLOF");
  clo.uint32(24 + 2);
  clo.uint32(c.channelId);
  clo.uint32(c.tokenId);
  clo.uint32(c.sequence++);
  clo.uint32(5);
  clo.nodeId(UaNodeId::Num(0, 0));
  c.Raw(clo.bytes());
  EXPECT_TRUE(c.closed);
  EXPECT_EQ(ErrorOf(c.TakeChunks()), 0u);
}

TEST(Connection, RenewingKeepsTheChannelAndIssuesANewToken) {
  TestServer s;
  TestClient c(*s.server);
  c.Connect();
  uint32_t first = c.tokenId;
  c.Raw(c.OpenBytes(1, "http://opcfoundation.org/UA/SecurityPolicy#None"));
  auto chunks = c.TakeChunks();
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].type, "OPN");
  // The old token still works until it expires.
  auto r = c.Call(UaId::GetEndpointsRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.nullString();
    e.nullArray();
    e.nullArray();
  });
  EXPECT_EQ(r.serviceResult, UaStatus::Good);
  EXPECT_EQ(c.tokenId, first);
  EXPECT_FALSE(c.conn->TokenExpired(SteadyMs()));
  EXPECT_TRUE(c.conn->TokenExpired(SteadyMs() + 3600000LL * 2));
}

}  // namespace
}  // namespace tagserver
