// UA TCP and the secure channel: Hello and Acknowledge, chunking both ways,
// and the Error message that ends a connection fed bad bytes.
#include <gtest/gtest.h>

#include "TestClient.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaStatusCodes.h"

namespace tagserver {
namespace {

using test::Chunk;
using test::TestClient;
using test::TestServer;

uint32_t ErrorOf(const std::vector<Chunk>& chunks) {
  for (const Chunk& c : chunks) {
    if (c.type != "ERR") continue;
    CUaDecoder d(c.body.data(), c.body.size());
    return d.UInt32();
  }
  return 0;
}

auto ReadValueOf(const std::string& name) {
  return [name](CUaEncoder& e) {
    e.Double(0);
    e.UInt32(2);
    e.Int32(1);
    e.NodeId(UaNodeId::Str(1, name));
    e.UInt32(13);
    e.NullString();
    e.QualifiedName({});
  };
}

TEST(Connection, HelloIsAcknowledgedWithTheSmallerBufferSizes) {
  TestServer s;
  TestClient c(*s.server);
  c.Hello(8192, 100000, 0, 0);
  auto chunks = c.TakeChunks();
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].type, "ACK");
  CUaDecoder d(chunks[0].body.data(), chunks[0].body.size());
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
  CUaDecoder d = responses[0].Body();
  ASSERT_EQ(d.Int32(), 1);
  EXPECT_EQ(std::get<float>(d.DataValue().value.values[0]), 4.5f);
}

TEST(Connection, AnAbortChunkDropsWhatCameBefore) {
  TestServer s;
  TestClient c(*s.server);
  c.Ready();
  CUaEncoder abort;
  abort.Raw("MSGA", 4);
  abort.UInt32(24);
  abort.UInt32(c.channelId);
  abort.UInt32(c.tokenId);
  c.Request(UaId::ReadRequest_Encoding_DefaultBinary, ReadValueOf("T1"), 5);
  c.TakeResponses();
  // Half a request, an abort, then a whole request: one answer, to the last.
  CUaEncoder half;
  half.Raw("MSGC", 4);
  half.UInt32(30);
  half.UInt32(c.channelId);
  half.UInt32(c.tokenId);
  half.UInt32(c.sequence++);
  half.UInt32(77);
  half.Raw("\x01\x00\xD3\x01\x00\x00", 6);
  c.Raw(half.Buffer());
  abort.UInt32(c.sequence++);
  abort.UInt32(77);
  c.Raw(abort.Buffer());
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
  c.Request(UaId::BrowseRequest_Encoding_DefaultBinary, [](CUaEncoder& e) {
    e.NodeId({});
    e.DateTime(0);
    e.UInt32(0);
    e.UInt32(0);
    e.Int32(1);
    e.NodeId(UaNodeId::Num(1, 1));
    e.UInt32(0);
    e.NodeId({});
    e.Boolean(true);
    e.UInt32(0);
    e.UInt32(63);
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
  CUaDecoder d = responses[0].Body();
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
    auto r = c.Call(UaId::BrowseRequest_Encoding_DefaultBinary, [](CUaEncoder& e) {
      e.NodeId({});
      e.DateTime(0);
      e.UInt32(0);
      e.UInt32(0);
      e.Int32(1);
      e.NodeId(UaNodeId::Num(1, 1));
      e.UInt32(0);
      e.NodeId({});
      e.Boolean(true);
      e.UInt32(0);
      e.UInt32(63);
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
    c.Request(UaId::GetEndpointsRequest_Encoding_DefaultBinary, [](CUaEncoder& e) {
      e.NullString();
      e.NullArray();
      e.NullArray();
    });
    EXPECT_EQ(ErrorOf(c.TakeChunks()), errors[i]) << i;
    EXPECT_TRUE(c.closed) << i;
  }
}

TEST(Connection, TooManyChunksForOneMessageClose) {
  TestServer s;
  TestClient c(*s.server);
  c.Connect();
  CUaEncoder out;
  for (uint32_t i = 0; i <= limits::kMaxChunkCount; ++i) {
    size_t start = out.Size();
    out.Raw("MSGC", 4);
    out.UInt32(25);
    out.UInt32(c.channelId);
    out.UInt32(c.tokenId);
    out.UInt32(c.sequence++);
    out.UInt32(9);
    out.Byte(0);
    (void)start;
  }
  c.Raw(out.Buffer());
  EXPECT_EQ(ErrorOf(c.TakeChunks()), UaStatus::BadTcpMessageTooLarge);
  EXPECT_TRUE(c.closed);
}

TEST(Connection, CloseSecureChannelEndsTheConnectionQuietly) {
  TestServer s;
  TestClient c(*s.server);
  c.Connect();
  CUaEncoder clo;
  clo.Raw("CLOF", 4);
  clo.UInt32(24 + 2);
  clo.UInt32(c.channelId);
  clo.UInt32(c.tokenId);
  clo.UInt32(c.sequence++);
  clo.UInt32(5);
  clo.NodeId(UaNodeId::Num(0, 0));
  c.Raw(clo.Buffer());
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
  auto r = c.Call(UaId::GetEndpointsRequest_Encoding_DefaultBinary, [](CUaEncoder& e) {
    e.NullString();
    e.NullArray();
    e.NullArray();
  });
  EXPECT_EQ(r.serviceResult, UaStatus::Good);
  EXPECT_EQ(c.tokenId, first);
  EXPECT_FALSE(c.conn->TokenExpired(SteadyMs()));
  EXPECT_TRUE(c.conn->TokenExpired(SteadyMs() + 3600000LL * 2));
}

}  // namespace
}  // namespace tagserver
