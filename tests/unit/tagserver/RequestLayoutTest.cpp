// Every request the server reads, decoded into its named structure from
// bytes the server's own encoder never wrote: requests a node-opcua client
// sent (recorded as the fuzzer's seeds) and requests written field by field
// from the published layout. A field read in the wrong order or left unread
// shows as a wrong value or as bytes left over.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "WireWriter.h"
#include "tagserver/DiscoveryRequests.h"
#include "tagserver/MonitoredItemRequests.h"
#include "tagserver/RequestHeader.h"
#include "tagserver/SecureChannelRequests.h"
#include "tagserver/SessionRequests.h"
#include "tagserver/SubscriptionRequests.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/ViewRequests.h"

namespace tagserver {
namespace {

using test::WireWriter;

// Reads one request of the given structure and hands it to a check.
using Decode = std::function<void(UaDecoder&)>;

template <typename Request>
Decode Expect(std::function<void(const Request&)> check) {
  return [check](UaDecoder& in) { check(Request::read(in)); };
}

// The read function of every request type, by the type id it comes with.
template <typename Request>
void ReadOnly(UaDecoder& in) {
  Request::read(in);
}

const std::map<uint32_t, void (*)(UaDecoder&)>& Readers() {
  using namespace UaId;
  static const std::map<uint32_t, void (*)(UaDecoder&)> readers = {
      {GetEndpointsRequest_Encoding_DefaultBinary, ReadOnly<GetEndpointsRequest>},
      {FindServersRequest_Encoding_DefaultBinary, ReadOnly<FindServersRequest>},
      {CreateSessionRequest_Encoding_DefaultBinary, ReadOnly<CreateSessionRequest>},
      {ActivateSessionRequest_Encoding_DefaultBinary, ReadOnly<ActivateSessionRequest>},
      {CloseSessionRequest_Encoding_DefaultBinary, ReadOnly<CloseSessionRequest>},
      {BrowseRequest_Encoding_DefaultBinary, ReadOnly<BrowseRequest>},
      {BrowseNextRequest_Encoding_DefaultBinary, ReadOnly<BrowseNextRequest>},
      {TranslateBrowsePathsToNodeIdsRequest_Encoding_DefaultBinary,
       ReadOnly<TranslateBrowsePathsToNodeIdsRequest>},
      {RegisterNodesRequest_Encoding_DefaultBinary, ReadOnly<RegisterNodesRequest>},
      {UnregisterNodesRequest_Encoding_DefaultBinary, ReadOnly<UnregisterNodesRequest>},
      {ReadRequest_Encoding_DefaultBinary, ReadOnly<ReadRequest>},
      {WriteRequest_Encoding_DefaultBinary, ReadOnly<WriteRequest>},
      {CreateSubscriptionRequest_Encoding_DefaultBinary, ReadOnly<CreateSubscriptionRequest>},
      {ModifySubscriptionRequest_Encoding_DefaultBinary, ReadOnly<ModifySubscriptionRequest>},
      {SetPublishingModeRequest_Encoding_DefaultBinary, ReadOnly<SetPublishingModeRequest>},
      {PublishRequest_Encoding_DefaultBinary, ReadOnly<PublishRequest>},
      {RepublishRequest_Encoding_DefaultBinary, ReadOnly<RepublishRequest>},
      {DeleteSubscriptionsRequest_Encoding_DefaultBinary, ReadOnly<DeleteSubscriptionsRequest>},
      {CreateMonitoredItemsRequest_Encoding_DefaultBinary, ReadOnly<CreateMonitoredItemsRequest>},
      {ModifyMonitoredItemsRequest_Encoding_DefaultBinary, ReadOnly<ModifyMonitoredItemsRequest>},
      {SetMonitoringModeRequest_Encoding_DefaultBinary, ReadOnly<SetMonitoringModeRequest>},
      {DeleteMonitoredItemsRequest_Encoding_DefaultBinary, ReadOnly<DeleteMonitoredItemsRequest>},
  };
  return readers;
}

// One request as a client sent it: its type and the bytes after its header.
struct Recorded {
  uint32_t typeId = 0;
  RequestHeader header;
  std::vector<uint8_t> body;
};

uint32_t LittleEndian32(const std::vector<uint8_t>& b, size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
         static_cast<uint32_t>(b.at(at + 3)) << 24;
}

// Framing by hand: 8 bytes of message header, then for MSG the channel,
// token, sequence and request ids; for OPN the asymmetric security header.
std::vector<uint8_t> MessageBody(const std::vector<uint8_t>& chunk) {
  std::string type(chunk.begin(), chunk.begin() + 3);
  size_t at = 8;
  if (type == "MSG") return {chunk.begin() + 24, chunk.end()};
  at += 4;                       // channel id
  for (int i = 0; i < 3; ++i) {  // policy, certificate, thumbprint
    int32_t n = static_cast<int32_t>(LittleEndian32(chunk, at));
    at += 4 + (n > 0 ? n : 0);
  }
  at += 8;  // sequence number and request id
  return {chunk.begin() + static_cast<std::ptrdiff_t>(at), chunk.end()};
}

std::vector<Recorded> RecordedRequests(const std::string& file) {
  std::ifstream in(std::string(OPCUA_RECORDED_DIR) + "/" + file, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<Recorded> out;
  for (size_t at = 0; at + 8 <= bytes.size();) {
    uint32_t size = LittleEndian32(bytes, at + 4);
    std::vector<uint8_t> chunk(bytes.begin() + at, bytes.begin() + at + size);
    at += size;
    std::string type(chunk.begin(), chunk.begin() + 3);
    if (type != "MSG" && type != "OPN") continue;
    std::vector<uint8_t> message = MessageBody(chunk);
    UaDecoder d(message.data(), message.size());
    Recorded r;
    r.typeId = d.NodeId().numeric;
    r.header = RequestHeader::read(d);
    r.body.assign(message.begin() + static_cast<std::ptrdiff_t>(d.Position()), message.end());
    out.push_back(std::move(r));
  }
  return out;
}

const char* const kConversations[] = {"discovery-conversation-1.bin", "browse-conversation-1.bin",
                                      "subscribe-conversation-1.bin"};

TEST(RequestLayout, EveryRecordedRequestReadsToItsLastByte) {
  std::set<uint32_t> seen;
  for (const char* file : kConversations) {
    for (const Recorded& r : RecordedRequests(file)) {
      SCOPED_TRACE(std::string(file) + " type " + std::to_string(r.typeId));
      UaDecoder in(r.body.data(), r.body.size());
      if (r.typeId == UaId::OpenSecureChannelRequest_Encoding_DefaultBinary) {
        OpenSecureChannelRequest::read(in);
      } else {
        ASSERT_TRUE(Readers().contains(r.typeId));
        Readers().at(r.typeId)(in);
      }
      EXPECT_EQ(in.Remaining(), 0u);
      seen.insert(r.typeId);
    }
  }
  // The recordings hold every request but the two a client sends only when
  // something went missing.
  for (const auto& [typeId, reader] : Readers()) {
    if (typeId == UaId::BrowseNextRequest_Encoding_DefaultBinary ||
        typeId == UaId::RepublishRequest_Encoding_DefaultBinary)
      continue;
    EXPECT_TRUE(seen.contains(typeId)) << "type " << typeId;
  }
}

// What the recording script asked node-opcua for, found again field by field.
struct RecordedCase {
  const char* file;
  uint32_t typeId;
  size_t occurrence;  // 0: the first request of this type in the conversation
  Decode check;
};

const UaNodeId kCoil = UaNodeId::Str(1, "PLC1.NODE1.1.0001");
const UaNodeId kInput = UaNodeId::Str(1, "PLC1.NODE1.4.0007");

std::vector<RecordedCase> RecordedCases() {
  using namespace UaId;
  const char* discovery = kConversations[0];
  const char* browse = kConversations[1];
  const char* subscribe = kConversations[2];
  return {
      {browse, OpenSecureChannelRequest_Encoding_DefaultBinary, 0,
       Expect<OpenSecureChannelRequest>([](const OpenSecureChannelRequest& r) {
         EXPECT_EQ(r.clientProtocolVersion, 0u);
         EXPECT_EQ(r.requestType, 0u);   // issue
         EXPECT_EQ(r.securityMode, 1u);  // None
         EXPECT_GT(r.requestedLifetime, 0u);
       })},
      {discovery, GetEndpointsRequest_Encoding_DefaultBinary, 0,
       Expect<GetEndpointsRequest>([](const GetEndpointsRequest& r) {
         EXPECT_EQ(r.endpointUrl.rfind("opc.tcp://127.0.0.1:", 0), 0u);
         EXPECT_TRUE(r.profileUris.empty());
       })},
      {discovery, FindServersRequest_Encoding_DefaultBinary, 0,
       Expect<FindServersRequest>([](const FindServersRequest& r) {
         EXPECT_EQ(r.endpointUrl.rfind("opc.tcp://127.0.0.1:", 0), 0u);
         EXPECT_TRUE(r.serverUris.empty());
       })},
      {browse, CreateSessionRequest_Encoding_DefaultBinary, 0,
       Expect<CreateSessionRequest>([](const CreateSessionRequest& r) {
         EXPECT_EQ(r.clientDescription.applicationType, 1u);  // client
         EXPECT_FALSE(r.clientDescription.applicationUri.empty());
         EXPECT_EQ(r.endpointUrl.rfind("opc.tcp://127.0.0.1:", 0), 0u);
         EXPECT_EQ(r.clientNonce.size(), 32u);
         EXPECT_GT(r.requestedSessionTimeout, 1000.0);
       })},
      {browse, ActivateSessionRequest_Encoding_DefaultBinary, 0,
       Expect<ActivateSessionRequest>([](const ActivateSessionRequest& r) {
         EXPECT_EQ(r.userIdentityToken.typeId,
                   UaNodeId::Num(0, AnonymousIdentityToken_Encoding_DefaultBinary));
         UaDecoder token(r.userIdentityToken.body.data(), r.userIdentityToken.body.size());
         EXPECT_EQ(AnonymousIdentityToken::read(token).policyId, "anonymous");
         EXPECT_TRUE(r.clientSoftwareCertificates.empty());
       })},
      {browse, BrowseRequest_Encoding_DefaultBinary, 0,
       Expect<BrowseRequest>([](const BrowseRequest& r) {
         EXPECT_TRUE(r.view.viewId.IsNull());
         ASSERT_EQ(r.nodesToBrowse.size(), 1u);
         EXPECT_EQ(r.nodesToBrowse[0].nodeId, UaNodeId::Num(0, 85));
       })},
      {browse, BrowseRequest_Encoding_DefaultBinary, 1,
       Expect<BrowseRequest>([](const BrowseRequest& r) {
         ASSERT_EQ(r.nodesToBrowse.size(), 1u);
         EXPECT_EQ(r.nodesToBrowse[0].nodeId, UaNodeId::Num(1, 1));
         EXPECT_EQ(r.nodesToBrowse[0].browseDirection, 2u);
         EXPECT_EQ(r.nodesToBrowse[0].resultMask, 63u);
       })},
      {browse, BrowseRequest_Encoding_DefaultBinary, 2,
       Expect<BrowseRequest>([](const BrowseRequest& r) {
         // The client sends its session's limit, not the one the script named.
         EXPECT_EQ(r.requestedMaxReferencesPerNode, 10000u);
         ASSERT_EQ(r.nodesToBrowse.size(), 1u);
         EXPECT_EQ(r.nodesToBrowse[0].nodeId, UaNodeId::Num(1, 1));
       })},
      {browse, TranslateBrowsePathsToNodeIdsRequest_Encoding_DefaultBinary, 0,
       Expect<TranslateBrowsePathsToNodeIdsRequest>(
           [](const TranslateBrowsePathsToNodeIdsRequest& r) {
             ASSERT_EQ(r.browsePaths.size(), 1u);
             EXPECT_EQ(r.browsePaths[0].startingNode, UaNodeId::Num(0, 85));
             ASSERT_EQ(r.browsePaths[0].relativePath.size(), 1u);
             const RelativePathElement& e = r.browsePaths[0].relativePath[0];
             EXPECT_FALSE(e.isInverse);
             EXPECT_EQ(e.targetName, (UaQualifiedName{1, "Korvane.Modbus_OPC_Server"}));
           })},
      {browse, ReadRequest_Encoding_DefaultBinary, 1, Expect<ReadRequest>([](const ReadRequest& r) {
         std::vector<uint32_t> attributes;
         for (const ReadValueId& item : r.nodesToRead) {
           EXPECT_EQ(item.nodeId, kCoil);
           EXPECT_TRUE(item.indexRange.empty());
           attributes.push_back(item.attributeId);
         }
         EXPECT_EQ(attributes, (std::vector<uint32_t>{1, 2, 3, 4, 13, 14, 15, 17}));
       })},
      {browse, ReadRequest_Encoding_DefaultBinary, 2, Expect<ReadRequest>([](const ReadRequest& r) {
         ASSERT_EQ(r.nodesToRead.size(), 1u);
         EXPECT_EQ(r.nodesToRead[0].nodeId, UaNodeId::Num(0, 2256));
         EXPECT_EQ(r.nodesToRead[0].attributeId, 13u);
       })},
      {browse, WriteRequest_Encoding_DefaultBinary, 0,
       Expect<WriteRequest>([](const WriteRequest& r) {
         ASSERT_EQ(r.nodesToWrite.size(), 1u);
         EXPECT_EQ(r.nodesToWrite[0].nodeId, kCoil);
         EXPECT_EQ(r.nodesToWrite[0].attributeId, 13u);
         const UaVariant& v = r.nodesToWrite[0].value.value;
         EXPECT_EQ(v.type, UaType::Double);
         EXPECT_EQ(std::get<double>(v.values.at(0)), 2.0);
       })},
      {browse, WriteRequest_Encoding_DefaultBinary, 1,
       Expect<WriteRequest>([](const WriteRequest& r) {
         ASSERT_EQ(r.nodesToWrite.size(), 1u);
         EXPECT_EQ(std::get<std::string>(r.nodesToWrite[0].value.value.values.at(0)), "7");
       })},
      {browse, RegisterNodesRequest_Encoding_DefaultBinary, 0,
       Expect<RegisterNodesRequest>([](const RegisterNodesRequest& r) {
         EXPECT_EQ(r.nodesToRegister, std::vector<UaNodeId>{kCoil});
       })},
      {browse, UnregisterNodesRequest_Encoding_DefaultBinary, 0,
       Expect<UnregisterNodesRequest>([](const UnregisterNodesRequest& r) {
         EXPECT_EQ(r.nodesToUnregister, std::vector<UaNodeId>{kCoil});
       })},
      {browse, CloseSessionRequest_Encoding_DefaultBinary, 0,
       Expect<CloseSessionRequest>(
           [](const CloseSessionRequest& r) { EXPECT_TRUE(r.deleteSubscriptions); })},
      {subscribe, CreateSubscriptionRequest_Encoding_DefaultBinary, 0,
       Expect<CreateSubscriptionRequest>([](const CreateSubscriptionRequest& r) {
         EXPECT_EQ(r.requestedPublishingInterval, 50.0);
         EXPECT_TRUE(r.publishingEnabled);
         EXPECT_GT(r.requestedLifetimeCount, r.requestedMaxKeepAliveCount);
       })},
      {subscribe, CreateMonitoredItemsRequest_Encoding_DefaultBinary, 0,
       Expect<CreateMonitoredItemsRequest>([](const CreateMonitoredItemsRequest& r) {
         EXPECT_EQ(r.timestampsToReturn, 2u);  // both
         ASSERT_EQ(r.itemsToCreate.size(), 1u);
         const MonitoredItemCreateRequest& item = r.itemsToCreate[0];
         EXPECT_EQ(item.itemToMonitor.nodeId, kInput);
         EXPECT_EQ(item.itemToMonitor.attributeId, 13u);
         EXPECT_EQ(item.monitoringMode, 2u);  // reporting
         EXPECT_EQ(item.requestedParameters.samplingInterval, 0.0);
         EXPECT_EQ(item.requestedParameters.queueSize, 5u);
         EXPECT_TRUE(item.requestedParameters.filter.typeId.IsNull());
       })},
      {subscribe, ModifyMonitoredItemsRequest_Encoding_DefaultBinary, 0,
       Expect<ModifyMonitoredItemsRequest>([](const ModifyMonitoredItemsRequest& r) {
         ASSERT_EQ(r.itemsToModify.size(), 1u);
         EXPECT_EQ(r.itemsToModify[0].requestedParameters.samplingInterval, 500.0);
         EXPECT_EQ(r.itemsToModify[0].requestedParameters.queueSize, 2u);
       })},
      {subscribe, SetMonitoringModeRequest_Encoding_DefaultBinary, 0,
       Expect<SetMonitoringModeRequest>([](const SetMonitoringModeRequest& r) {
         EXPECT_EQ(r.monitoringMode, 1u);  // sampling
         EXPECT_EQ(r.monitoredItemIds.size(), 1u);
       })},
      {subscribe, ModifySubscriptionRequest_Encoding_DefaultBinary, 0,
       Expect<ModifySubscriptionRequest>([](const ModifySubscriptionRequest& r) {
         EXPECT_EQ(r.requestedPublishingInterval, 100.0);
       })},
      {subscribe, SetPublishingModeRequest_Encoding_DefaultBinary, 0,
       Expect<SetPublishingModeRequest>([](const SetPublishingModeRequest& r) {
         EXPECT_FALSE(r.publishingEnabled);
         EXPECT_EQ(r.subscriptionIds.size(), 1u);
       })},
      {subscribe, DeleteMonitoredItemsRequest_Encoding_DefaultBinary, 0,
       Expect<DeleteMonitoredItemsRequest>(
           [](const DeleteMonitoredItemsRequest& r) { EXPECT_EQ(r.monitoredItemIds.size(), 1u); })},
      {subscribe, DeleteSubscriptionsRequest_Encoding_DefaultBinary, 0,
       Expect<DeleteSubscriptionsRequest>(
           [](const DeleteSubscriptionsRequest& r) { EXPECT_EQ(r.subscriptionIds.size(), 1u); })},
  };
}

TEST(RequestLayout, RecordedRequestsCarryWhatTheClientWasAskedFor) {
  for (const RecordedCase& c : RecordedCases()) {
    SCOPED_TRACE(std::string(c.file) + " type " + std::to_string(c.typeId) + " #" +
                 std::to_string(c.occurrence));
    std::vector<Recorded> matching;
    for (Recorded& r : RecordedRequests(c.file))
      if (r.typeId == c.typeId) matching.push_back(std::move(r));
    ASSERT_GT(matching.size(), c.occurrence);
    const Recorded& r = matching[c.occurrence];
    UaDecoder in(r.body.data(), r.body.size());
    c.check(in);
  }
}

TEST(RequestLayout, TheSubscriptionIdsAClientSendsBackAreTheOnesItWasGiven) {
  // The server hands out ids from 1 and the recording ran one subscription:
  // every later request names it where the layout puts the subscription id.
  using namespace UaId;
  std::map<uint32_t, std::function<uint32_t(UaDecoder&)>> idOf = {
      {CreateMonitoredItemsRequest_Encoding_DefaultBinary,
       [](UaDecoder& in) { return CreateMonitoredItemsRequest::read(in).subscriptionId; }},
      {ModifyMonitoredItemsRequest_Encoding_DefaultBinary,
       [](UaDecoder& in) { return ModifyMonitoredItemsRequest::read(in).subscriptionId; }},
      {SetMonitoringModeRequest_Encoding_DefaultBinary,
       [](UaDecoder& in) { return SetMonitoringModeRequest::read(in).subscriptionId; }},
      {ModifySubscriptionRequest_Encoding_DefaultBinary,
       [](UaDecoder& in) { return ModifySubscriptionRequest::read(in).subscriptionId; }},
      {DeleteMonitoredItemsRequest_Encoding_DefaultBinary,
       [](UaDecoder& in) { return DeleteMonitoredItemsRequest::read(in).subscriptionId; }},
      {DeleteSubscriptionsRequest_Encoding_DefaultBinary,
       [](UaDecoder& in) { return DeleteSubscriptionsRequest::read(in).subscriptionIds.at(0); }},
  };
  size_t seen = 0;
  for (const Recorded& r : RecordedRequests(kConversations[2])) {
    auto reader = idOf.find(r.typeId);
    if (reader == idOf.end()) continue;
    UaDecoder in(r.body.data(), r.body.size());
    EXPECT_EQ(reader->second(in), 1u) << "type " << r.typeId;
    ++seen;
  }
  EXPECT_EQ(seen, idOf.size());
}

// Requests written from the published layout with a distinct value in every
// field, so that two fields swapped in the reading cannot both come out right.
struct LayoutCase {
  const char* name;
  std::function<void(WireWriter&)> write;
  Decode check;
};

void WriteMonitoringParameters(WireWriter& w, uint32_t clientHandle) {
  w.uint32(clientHandle);
  w.float64(250.5);
  w.extensionObject({UaNodeId::Num(0, UaId::DataChangeFilter_Encoding_DefaultBinary), 1, {7, 8}});
  w.uint32(9);
  w.boolean(false);
}

void CheckMonitoringParameters(const MonitoringParameters& p, uint32_t clientHandle) {
  EXPECT_EQ(p.clientHandle, clientHandle);
  EXPECT_EQ(p.samplingInterval, 250.5);
  EXPECT_EQ(p.filter.typeId, UaNodeId::Num(0, UaId::DataChangeFilter_Encoding_DefaultBinary));
  EXPECT_EQ(p.filter.body, (ByteString{7, 8}));
  EXPECT_EQ(p.queueSize, 9u);
  EXPECT_FALSE(p.discardOldest);
}

std::vector<LayoutCase> SessionAndViewCases() {
  return {
      {"OpenSecureChannel",
       [](WireWriter& w) {
         w.uint32(3);
         w.uint32(1);
         w.uint32(2);
         w.byteString({0xAA});
         w.uint32(60000);
       },
       Expect<OpenSecureChannelRequest>([](const OpenSecureChannelRequest& r) {
         EXPECT_EQ(r.clientProtocolVersion, 3u);
         EXPECT_EQ(r.requestType, 1u);
         EXPECT_EQ(r.securityMode, 2u);
         EXPECT_EQ(r.clientNonce, ByteString{0xAA});
         EXPECT_EQ(r.requestedLifetime, 60000u);
       })},
      {"CreateSession",
       [](WireWriter& w) {
         w.string("urn:client");
         w.string("urn:product");
         w.localizedText({"en", "Client"});
         w.uint32(1);
         w.string("urn:gateway");
         w.string("urn:profile");
         w.stringArray({"opc.tcp://a", "opc.tcp://b"});
         w.string("urn:server");
         w.string("opc.tcp://host:4840");
         w.string("session");
         w.byteString({1, 2});
         w.byteString({3});
         w.float64(45000);
         w.uint32(1 << 20);
       },
       Expect<CreateSessionRequest>([](const CreateSessionRequest& r) {
         const ApplicationDescription& d = r.clientDescription;
         EXPECT_EQ(d.applicationUri, "urn:client");
         EXPECT_EQ(d.productUri, "urn:product");
         EXPECT_EQ(d.applicationName.text, "Client");
         EXPECT_EQ(d.applicationType, 1u);
         EXPECT_EQ(d.gatewayServerUri, "urn:gateway");
         EXPECT_EQ(d.discoveryProfileUri, "urn:profile");
         EXPECT_EQ(d.discoveryUrls, (std::vector<std::string>{"opc.tcp://a", "opc.tcp://b"}));
         EXPECT_EQ(r.serverUri, "urn:server");
         EXPECT_EQ(r.endpointUrl, "opc.tcp://host:4840");
         EXPECT_EQ(r.sessionName, "session");
         EXPECT_EQ(r.clientNonce, (ByteString{1, 2}));
         EXPECT_EQ(r.clientCertificate, ByteString{3});
         EXPECT_EQ(r.requestedSessionTimeout, 45000.0);
         EXPECT_EQ(r.maxResponseMessageSize, 1u << 20);
       })},
      {"ActivateSession",
       [](WireWriter& w) {
         w.string("alg1");
         w.byteString({1});
         w.int32(1);
         w.byteString({2});
         w.byteString({3});
         w.stringArray({"de"});
         w.extensionObject({UaNodeId::Num(0, 321), 1, {4}});
         w.string("alg2");
         w.byteString({5});
       },
       Expect<ActivateSessionRequest>([](const ActivateSessionRequest& r) {
         EXPECT_EQ(r.clientSignature.algorithm, "alg1");
         EXPECT_EQ(r.clientSignature.signature, ByteString{1});
         ASSERT_EQ(r.clientSoftwareCertificates.size(), 1u);
         EXPECT_EQ(r.clientSoftwareCertificates[0].certificateData, ByteString{2});
         EXPECT_EQ(r.clientSoftwareCertificates[0].signature, ByteString{3});
         EXPECT_EQ(r.localeIds, std::vector<std::string>{"de"});
         EXPECT_EQ(r.userIdentityToken.typeId, UaNodeId::Num(0, 321));
         EXPECT_EQ(r.userIdentityToken.body, ByteString{4});
         EXPECT_EQ(r.userTokenSignature.algorithm, "alg2");
         EXPECT_EQ(r.userTokenSignature.signature, ByteString{5});
       })},
      {"GetEndpoints",
       [](WireWriter& w) {
         w.string("opc.tcp://x");
         w.stringArray({"en"});
         w.stringArray({"profile"});
       },
       Expect<GetEndpointsRequest>([](const GetEndpointsRequest& r) {
         EXPECT_EQ(r.endpointUrl, "opc.tcp://x");
         EXPECT_EQ(r.localeIds, std::vector<std::string>{"en"});
         EXPECT_EQ(r.profileUris, std::vector<std::string>{"profile"});
       })},
      {"FindServers",
       [](WireWriter& w) {
         w.string("opc.tcp://x");
         w.stringArray({"en"});
         w.stringArray({"urn:s"});
       },
       Expect<FindServersRequest>([](const FindServersRequest& r) {
         EXPECT_EQ(r.endpointUrl, "opc.tcp://x");
         EXPECT_EQ(r.localeIds, std::vector<std::string>{"en"});
         EXPECT_EQ(r.serverUris, std::vector<std::string>{"urn:s"});
       })},
      {"Browse",
       [](WireWriter& w) {
         w.nodeId(UaNodeId::Num(0, 7));
         w.dateTime(11);
         w.uint32(12);
         w.uint32(13);
         w.int32(1);
         w.nodeId(UaNodeId::Str(1, "n"));
         w.uint32(2);
         w.nodeId(UaNodeId::Num(0, 33));
         w.boolean(true);
         w.uint32(14);
         w.uint32(15);
       },
       Expect<BrowseRequest>([](const BrowseRequest& r) {
         EXPECT_EQ(r.view.viewId, UaNodeId::Num(0, 7));
         EXPECT_EQ(r.view.timestamp, 11);
         EXPECT_EQ(r.view.viewVersion, 12u);
         EXPECT_EQ(r.requestedMaxReferencesPerNode, 13u);
         ASSERT_EQ(r.nodesToBrowse.size(), 1u);
         const BrowseDescription& d = r.nodesToBrowse[0];
         EXPECT_EQ(d.nodeId, UaNodeId::Str(1, "n"));
         EXPECT_EQ(d.browseDirection, 2u);
         EXPECT_EQ(d.referenceTypeId, UaNodeId::Num(0, 33));
         EXPECT_TRUE(d.includeSubtypes);
         EXPECT_EQ(d.nodeClassMask, 14u);
         EXPECT_EQ(d.resultMask, 15u);
       })},
      {"BrowseNext",
       [](WireWriter& w) {
         w.boolean(true);
         w.int32(2);
         w.byteString({1});
         w.byteString({2, 3});
       },
       Expect<BrowseNextRequest>([](const BrowseNextRequest& r) {
         EXPECT_TRUE(r.releaseContinuationPoints);
         EXPECT_EQ(r.continuationPoints, (std::vector<ByteString>{{1}, {2, 3}}));
       })},
      {"TranslateBrowsePathsToNodeIds",
       [](WireWriter& w) {
         w.int32(1);
         w.nodeId(UaNodeId::Num(0, 84));
         w.int32(1);
         w.nodeId(UaNodeId::Num(0, 35));
         w.boolean(true);
         w.boolean(false);
         w.qualifiedName({2, "Target"});
       },
       Expect<TranslateBrowsePathsToNodeIdsRequest>(
           [](const TranslateBrowsePathsToNodeIdsRequest& r) {
             ASSERT_EQ(r.browsePaths.size(), 1u);
             EXPECT_EQ(r.browsePaths[0].startingNode, UaNodeId::Num(0, 84));
             ASSERT_EQ(r.browsePaths[0].relativePath.size(), 1u);
             const RelativePathElement& e = r.browsePaths[0].relativePath[0];
             EXPECT_EQ(e.referenceTypeId, UaNodeId::Num(0, 35));
             EXPECT_TRUE(e.isInverse);
             EXPECT_FALSE(e.includeSubtypes);
             EXPECT_EQ(e.targetName, (UaQualifiedName{2, "Target"}));
           })},
      {"RegisterNodes",
       [](WireWriter& w) {
         w.int32(2);
         w.nodeId(UaNodeId::Num(3, 70000));
         w.nodeId(UaNodeId::Str(1, "a"));
       },
       Expect<RegisterNodesRequest>([](const RegisterNodesRequest& r) {
         EXPECT_EQ(r.nodesToRegister,
                   (std::vector<UaNodeId>{UaNodeId::Num(3, 70000), UaNodeId::Str(1, "a")}));
       })},
      {"UnregisterNodes",
       [](WireWriter& w) {
         w.int32(1);
         w.nodeId(UaNodeId::Num(1, 300));
       },
       Expect<UnregisterNodesRequest>([](const UnregisterNodesRequest& r) {
         EXPECT_EQ(r.nodesToUnregister, std::vector<UaNodeId>{UaNodeId::Num(1, 300)});
       })},
      {"CloseSession", [](WireWriter& w) { w.boolean(true); },
       Expect<CloseSessionRequest>(
           [](const CloseSessionRequest& r) { EXPECT_TRUE(r.deleteSubscriptions); })},
  };
}

std::vector<LayoutCase> AttributeAndSubscriptionCases() {
  return {
      {"Read",
       [](WireWriter& w) {
         w.float64(500);
         w.uint32(2);
         w.int32(1);
         w.nodeId(UaNodeId::Str(1, "t"));
         w.uint32(13);
         w.string("1:2");
         w.qualifiedName({0, "Default Binary"});
       },
       Expect<ReadRequest>([](const ReadRequest& r) {
         EXPECT_EQ(r.maxAge, 500.0);
         EXPECT_EQ(r.timestampsToReturn, 2u);
         ASSERT_EQ(r.nodesToRead.size(), 1u);
         EXPECT_EQ(r.nodesToRead[0].nodeId, UaNodeId::Str(1, "t"));
         EXPECT_EQ(r.nodesToRead[0].attributeId, 13u);
         EXPECT_EQ(r.nodesToRead[0].indexRange, "1:2");
         EXPECT_EQ(r.nodesToRead[0].dataEncoding, (UaQualifiedName{0, "Default Binary"}));
       })},
      {"Write",
       [](WireWriter& w) {
         w.int32(1);
         w.nodeId(UaNodeId::Str(1, "t"));
         w.uint32(13);
         w.string("0");
         UaDataValue dv;
         dv.hasValue = true;
         dv.value = UaVariant::Scalar(UaType::Int32, int64_t{-9});
         dv.sourceTimestamp = 77;
         w.dataValue(dv);
       },
       Expect<WriteRequest>([](const WriteRequest& r) {
         ASSERT_EQ(r.nodesToWrite.size(), 1u);
         const WriteValue& v = r.nodesToWrite[0];
         EXPECT_EQ(v.nodeId, UaNodeId::Str(1, "t"));
         EXPECT_EQ(v.attributeId, 13u);
         EXPECT_EQ(v.indexRange, "0");
         EXPECT_EQ(std::get<int64_t>(v.value.value.values.at(0)), -9);
         EXPECT_EQ(v.value.sourceTimestamp, 77);
       })},
      {"CreateSubscription",
       [](WireWriter& w) {
         w.float64(250);
         w.uint32(30);
         w.uint32(10);
         w.uint32(100);
         w.boolean(true);
         w.byte(5);
       },
       Expect<CreateSubscriptionRequest>([](const CreateSubscriptionRequest& r) {
         EXPECT_EQ(r.requestedPublishingInterval, 250.0);
         EXPECT_EQ(r.requestedLifetimeCount, 30u);
         EXPECT_EQ(r.requestedMaxKeepAliveCount, 10u);
         EXPECT_EQ(r.maxNotificationsPerPublish, 100u);
         EXPECT_TRUE(r.publishingEnabled);
         EXPECT_EQ(r.priority, 5u);
       })},
      {"ModifySubscription",
       [](WireWriter& w) {
         w.uint32(4);
         w.float64(250);
         w.uint32(30);
         w.uint32(10);
         w.uint32(100);
         w.byte(5);
       },
       Expect<ModifySubscriptionRequest>([](const ModifySubscriptionRequest& r) {
         EXPECT_EQ(r.subscriptionId, 4u);
         EXPECT_EQ(r.requestedPublishingInterval, 250.0);
         EXPECT_EQ(r.requestedLifetimeCount, 30u);
         EXPECT_EQ(r.requestedMaxKeepAliveCount, 10u);
         EXPECT_EQ(r.maxNotificationsPerPublish, 100u);
         EXPECT_EQ(r.priority, 5u);
       })},
      {"SetPublishingMode",
       [](WireWriter& w) {
         w.boolean(true);
         w.uint32Array({4, 5});
       },
       Expect<SetPublishingModeRequest>([](const SetPublishingModeRequest& r) {
         EXPECT_TRUE(r.publishingEnabled);
         EXPECT_EQ(r.subscriptionIds, (std::vector<uint32_t>{4, 5}));
       })},
      {"Publish",
       [](WireWriter& w) {
         w.int32(1);
         w.uint32(4);
         w.uint32(17);
       },
       Expect<PublishRequest>([](const PublishRequest& r) {
         ASSERT_EQ(r.subscriptionAcknowledgements.size(), 1u);
         EXPECT_EQ(r.subscriptionAcknowledgements[0].subscriptionId, 4u);
         EXPECT_EQ(r.subscriptionAcknowledgements[0].sequenceNumber, 17u);
       })},
      {"Republish",
       [](WireWriter& w) {
         w.uint32(4);
         w.uint32(17);
       },
       Expect<RepublishRequest>([](const RepublishRequest& r) {
         EXPECT_EQ(r.subscriptionId, 4u);
         EXPECT_EQ(r.retransmitSequenceNumber, 17u);
       })},
      {"DeleteSubscriptions",
       [](WireWriter& w) {
         w.uint32Array({4, 5});
       },
       Expect<DeleteSubscriptionsRequest>([](const DeleteSubscriptionsRequest& r) {
         EXPECT_EQ(r.subscriptionIds, (std::vector<uint32_t>{4, 5}));
       })},
      {"CreateMonitoredItems",
       [](WireWriter& w) {
         w.uint32(4);
         w.uint32(1);
         w.int32(1);
         w.nodeId(UaNodeId::Str(1, "t"));
         w.uint32(13);
         w.string("");
         w.qualifiedName({});
         w.uint32(2);
         WriteMonitoringParameters(w, 21);
       },
       Expect<CreateMonitoredItemsRequest>([](const CreateMonitoredItemsRequest& r) {
         EXPECT_EQ(r.subscriptionId, 4u);
         EXPECT_EQ(r.timestampsToReturn, 1u);
         ASSERT_EQ(r.itemsToCreate.size(), 1u);
         EXPECT_EQ(r.itemsToCreate[0].itemToMonitor.nodeId, UaNodeId::Str(1, "t"));
         EXPECT_EQ(r.itemsToCreate[0].itemToMonitor.attributeId, 13u);
         EXPECT_EQ(r.itemsToCreate[0].monitoringMode, 2u);
         CheckMonitoringParameters(r.itemsToCreate[0].requestedParameters, 21);
       })},
      {"ModifyMonitoredItems",
       [](WireWriter& w) {
         w.uint32(4);
         w.uint32(3);
         w.int32(1);
         w.uint32(8);
         WriteMonitoringParameters(w, 22);
       },
       Expect<ModifyMonitoredItemsRequest>([](const ModifyMonitoredItemsRequest& r) {
         EXPECT_EQ(r.subscriptionId, 4u);
         EXPECT_EQ(r.timestampsToReturn, 3u);
         ASSERT_EQ(r.itemsToModify.size(), 1u);
         EXPECT_EQ(r.itemsToModify[0].monitoredItemId, 8u);
         CheckMonitoringParameters(r.itemsToModify[0].requestedParameters, 22);
       })},
      {"SetMonitoringMode",
       [](WireWriter& w) {
         w.uint32(4);
         w.uint32(1);
         w.uint32Array({8, 9});
       },
       Expect<SetMonitoringModeRequest>([](const SetMonitoringModeRequest& r) {
         EXPECT_EQ(r.subscriptionId, 4u);
         EXPECT_EQ(r.monitoringMode, 1u);
         EXPECT_EQ(r.monitoredItemIds, (std::vector<uint32_t>{8, 9}));
       })},
      {"DeleteMonitoredItems",
       [](WireWriter& w) {
         w.uint32(4);
         w.uint32Array({8, 9});
       },
       Expect<DeleteMonitoredItemsRequest>([](const DeleteMonitoredItemsRequest& r) {
         EXPECT_EQ(r.subscriptionId, 4u);
         EXPECT_EQ(r.monitoredItemIds, (std::vector<uint32_t>{8, 9}));
       })},
      {"DataChangeFilter",
       [](WireWriter& w) {
         w.uint32(2);
         w.uint32(1);
         w.float64(0.25);
       },
       Expect<DataChangeFilter>([](const DataChangeFilter& f) {
         EXPECT_EQ(f.trigger, 2u);
         EXPECT_EQ(f.deadbandType, 1u);
         EXPECT_EQ(f.deadbandValue, 0.25);
       })},
  };
}

TEST(RequestLayout, EveryFieldOfAWrittenRequestReadsBackUnderItsName) {
  auto cases = SessionAndViewCases();
  auto more = AttributeAndSubscriptionCases();
  cases.insert(cases.end(), more.begin(), more.end());
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    WireWriter w;
    c.write(w);
    UaDecoder in(w.bytes().data(), w.bytes().size());
    c.check(in);
    EXPECT_EQ(in.Remaining(), 0u);
  }
}

TEST(RequestLayout, TheHeaderIsReadFieldByField) {
  WireWriter w;
  w.nodeId({0, UaNodeId::Kind::Opaque, 0, "tok"});
  w.dateTime(123);
  w.uint32(45);
  w.uint32(6);
  w.string("audit");
  w.uint32(7000);
  w.extensionObject({});
  UaDecoder in(w.bytes().data(), w.bytes().size());
  RequestHeader h = RequestHeader::read(in);
  EXPECT_EQ(h.authenticationToken, (UaNodeId{0, UaNodeId::Kind::Opaque, 0, "tok"}));
  EXPECT_EQ(h.timestamp, 123);
  EXPECT_EQ(h.requestHandle, 45u);
  EXPECT_EQ(h.returnDiagnostics, 6u);
  EXPECT_EQ(h.auditEntryId, "audit");
  EXPECT_EQ(h.timeoutHint, 7000u);
  EXPECT_EQ(in.Remaining(), 0u);
}

}  // namespace
}  // namespace tagserver
