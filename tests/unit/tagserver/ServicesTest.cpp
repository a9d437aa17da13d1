// Sessions, discovery, Browse, Read and Write as the server answers them.
#include <gtest/gtest.h>

#include "TestClient.h"
#include "opcua/UaStatusCodes.h"
#include "tagserver/TagStore.h"
#include "tagserver/UaNodeIds.h"

namespace tagserver {
namespace {

using test::FloatVariant;
using test::Response;
using test::TestClient;
using test::TestServer;
using test::WireWriter;

std::function<void(WireWriter&)> Read(std::vector<std::pair<UaNodeId, uint32_t>> items) {
  return [items](WireWriter& e) {
    e.float64(0);
    e.uint32(0);
    e.int32(static_cast<int32_t>(items.size()));
    for (const auto& [id, attr] : items) {
      e.nodeId(id);
      e.uint32(attr);
      e.nullString();
      e.qualifiedName({});
    }
  };
}

std::vector<UaDataValue> DataValues(const Response& r) {
  UaDecoder d = r.Body();
  std::vector<UaDataValue> out(d.Int32());
  for (auto& dv : out) dv = d.DataValue();
  return out;
}

std::vector<uint32_t> Statuses(const Response& r) {
  UaDecoder d = r.Body();
  return d.UInt32Array();
}

std::function<void(WireWriter&)> WriteValue(UaNodeId id, uint32_t attr, const UaDataValue& dv) {
  return [=](WireWriter& e) {
    e.int32(1);
    e.nodeId(id);
    e.uint32(attr);
    e.nullString();
    e.dataValue(dv);
  };
}

UaDataValue Value(UaVariant v) {
  UaDataValue dv;
  dv.hasValue = true;
  dv.value = std::move(v);
  return dv;
}

struct Browsed {
  uint32_t status;
  std::string continuation;
  std::vector<std::pair<std::string, UaNodeId>> refs;  // browse name, target
};

std::vector<Browsed> BrowseResults(UaDecoder d) {
  std::vector<Browsed> out(d.Int32());
  for (auto& b : out) {
    b.status = d.UInt32();
    ByteString cp = d.Bytes();
    b.continuation.assign(cp.begin(), cp.end());
    int32_t n = d.Int32();
    for (int32_t i = 0; i < n; ++i) {
      d.NodeId();
      d.Boolean();
      UaNodeId target = d.ExpandedNodeId().id;
      std::string name = d.QualifiedName().name;
      d.LocalizedText();
      d.UInt32();
      d.ExpandedNodeId();
      b.refs.emplace_back(name, target);
    }
  }
  return out;
}

std::function<void(WireWriter&)> Browse(UaNodeId node, uint32_t maxRefs, uint32_t direction = 0,
                                        UaNodeId refType = {}) {
  return [=](WireWriter& e) {
    e.nodeId({});
    e.dateTime(0);
    e.uint32(0);
    e.uint32(maxRefs);
    e.int32(1);
    e.nodeId(node);
    e.uint32(direction);
    e.nodeId(refType);
    e.boolean(true);
    e.uint32(0);
    e.uint32(63);
  };
}

class Services : public ::testing::Test {
 protected:
  void SetUp() override {
    VARIANT empty;
    VariantInit(&empty);
    coil = s.tags.Create("PLC.1.0001", FloatVariant(1), 192, true);
    input = s.tags.Create("PLC.4.0007", FloatVariant(12.5f), 192, false);
    fresh = s.tags.Create("PLC.3.0100", empty, 0, true);
    c.Ready();
  }
  TestServer s;
  TestClient c{*s.server};
  int32_t coil = 0, input = 0, fresh = 0;
};

TEST_F(Services, ServicesNeedAnActivatedSessionOnTheirOwnChannel) {
  TestClient other(*s.server);
  other.Connect();
  Response r =
      other.Call(UaId::ReadRequest_Encoding_DefaultBinary, Read({{UaNodeId::Num(0, 2259), 13}}));
  EXPECT_EQ(r.serviceResult, UaStatus::BadSessionIdInvalid);
  other.CreateSession();
  r = other.Call(UaId::ReadRequest_Encoding_DefaultBinary, Read({{UaNodeId::Num(0, 2259), 13}}));
  EXPECT_EQ(r.serviceResult, UaStatus::BadSessionNotActivated);
  // Another channel presenting this client's token is turned away.
  other.token = c.token;
  r = other.Call(UaId::ReadRequest_Encoding_DefaultBinary, Read({{UaNodeId::Num(0, 2259), 13}}));
  EXPECT_EQ(r.serviceResult, UaStatus::BadSecureChannelIdInvalid);
  EXPECT_FALSE(other.closed);
}

TEST_F(Services, OnlyAnonymousIdentitiesAreAccepted) {
  TestClient other(*s.server);
  other.Connect();
  other.CreateSession();
  Response r = other.Call(UaId::ActivateSessionRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.nullString();
    e.nullString();
    e.nullArray();
    e.nullArray();
    WireWriter user;
    user.string("username");
    user.string("admin");
    user.string("secret");
    user.nullString();
    e.extensionObject(
        {UaNodeId::Num(0, UaId::UserNameIdentityToken_Encoding_DefaultBinary), 1, user.bytes()});
    e.nullString();
    e.nullString();
  });
  EXPECT_EQ(r.serviceResult, UaStatus::BadIdentityTokenRejected);
}

TEST_F(Services, UnknownServicesAreRefusedAndTheConnectionStays) {
  Response r = c.Call(UaId::QueryFirstRequest_Encoding_DefaultBinary, [](WireWriter&) {});
  EXPECT_EQ(r.typeId, UaId::ServiceFault_Encoding_DefaultBinary);
  EXPECT_EQ(r.serviceResult, UaStatus::BadServiceUnsupported);
  r = c.Call(UaId::ReadRequest_Encoding_DefaultBinary, Read({{UaNodeId::Num(0, 2259), 13}}));
  EXPECT_EQ(r.serviceResult, UaStatus::Good);
  EXPECT_FALSE(c.closed);
}

TEST_F(Services, ClosedSessionsCannotBeUsed) {
  Response r = c.Call(UaId::CloseSessionRequest_Encoding_DefaultBinary,
                      [](WireWriter& e) { e.boolean(true); });
  EXPECT_EQ(r.serviceResult, UaStatus::Good);
  r = c.Call(UaId::ReadRequest_Encoding_DefaultBinary, Read({{UaNodeId::Num(0, 2259), 13}}));
  EXPECT_EQ(r.serviceResult, UaStatus::BadSessionIdInvalid);
}

TEST_F(Services, GetEndpointsFiltersByTransportProfile) {
  auto endpoints = [&](std::vector<std::string> profiles) {
    Response r = c.Call(UaId::GetEndpointsRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
      e.nullString();
      e.nullArray();
      e.stringArray(profiles);
    });
    UaDecoder d = r.Body();
    return d.Int32();
  };
  EXPECT_EQ(endpoints({}), 1);
  EXPECT_EQ(endpoints({"http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary"}), 1);
  EXPECT_EQ(endpoints({"http://opcfoundation.org/UA-Profile/Transport/https-uabinary"}), 0);
}

TEST_F(Services, TagsReadWithTheirAttributesAndOthersAreInvalid) {
  UaNodeId tag = UaNodeId::Str(1, "PLC.4.0007");
  Response r = c.Call(
      UaId::ReadRequest_Encoding_DefaultBinary,
      Read({{tag, 13}, {tag, 14}, {tag, 17}, {tag, 3}, {tag, 2}, {tag, 8}, {tag, 12}, {tag, 99}}));
  auto v = DataValues(r);
  ASSERT_EQ(v.size(), 8u);
  EXPECT_EQ(std::get<float>(v[0].value.values[0]), 12.5f);
  EXPECT_EQ(std::get<UaNodeId>(v[1].value.values[0]), UaNodeId::Num(0, 10));
  EXPECT_EQ(std::get<uint64_t>(v[2].value.values[0]), 1u);
  EXPECT_EQ(std::get<UaQualifiedName>(v[3].value.values[0]), (UaQualifiedName{1, "PLC.4.0007"}));
  EXPECT_EQ(std::get<int64_t>(v[4].value.values[0]), 2);
  EXPECT_EQ(v[5].status, UaStatus::BadAttributeIdInvalid);
  EXPECT_EQ(v[6].status, UaStatus::BadAttributeIdInvalid);
  EXPECT_EQ(v[7].status, UaStatus::BadAttributeIdInvalid);
  r = c.Call(UaId::ReadRequest_Encoding_DefaultBinary, Read({{UaNodeId::Str(1, "PLC.1.0001"), 17},
                                                             {UaNodeId::Str(1, "PLC.3.0100"), 13},
                                                             {UaNodeId::Str(1, "X"), 13}}));
  v = DataValues(r);
  EXPECT_EQ(std::get<uint64_t>(v[0].value.values[0]), 3u);
  EXPECT_FALSE(v[1].hasValue);
  EXPECT_EQ(v[1].status, UaStatus::Bad);
  EXPECT_EQ(v[2].status, UaStatus::BadNodeIdUnknown);
}

TEST_F(Services, ATagKeepsTheTypeOfItsFirstValue) {
  struct Case {
    const char* name;
    VARIANT first;
    VARIANT next;
    UaType type;
    TagScalar read;
  };
  auto held = [](const UaScalar& read) {
    return std::visit(
        [](const auto& x) -> TagScalar {
          using T = std::decay_t<decltype(x)>;
          if constexpr (std::is_constructible_v<TagScalar, T>) {
            return x;
          } else {
            return std::monostate{};
          }
        },
        read);
  };
  auto make = [](VARTYPE vt, auto fill) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    fill(v);
    return v;
  };
  VARIANT on = make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; });
  VARIANT count = make(VT_UI4, [](VARIANT& v) { v.ulVal = 7; });
  VARIANT ms = make(VT_R8, [](VARIANT& v) { v.dblVal = 12.25; });
  VARIANT text = make(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocString("POLL TIMEOUT"); });
  VARIANT small = make(VT_I2, [](VARIANT& v) { v.iVal = 3; });
  // A later value of another VARIANT type is converted to the tag's type.
  Case cases[] = {
      {"D.Connected", on, FloatVariant(0), UaType::Boolean, false},
      {"D.Requests", count, FloatVariant(9), UaType::UInt32, uint64_t{9}},
      {"D.LastRoundTripMs", ms, count, UaType::Double, 7.0},
      {"D.LastError", text, count, UaType::String, std::string("7")},
      {"D.Plain", small, count, UaType::Float, 7.0f},
  };
  for (Case& k : cases) {
    SCOPED_TRACE(k.name);
    int32_t h = s.tags.Create(k.name, k.first, 192, false);
    ASSERT_TRUE(s.tags.Update(h, k.next, 192));
    UaNodeId id = UaNodeId::Str(1, k.name);
    auto v =
        DataValues(c.Call(UaId::ReadRequest_Encoding_DefaultBinary, Read({{id, 13}, {id, 14}})));
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].value.type, k.type);
    EXPECT_TRUE(held(v[0].value.values[0]) == k.read);
    EXPECT_EQ(v[0].status, UaStatus::Good);
    EXPECT_EQ(std::get<UaNodeId>(v[1].value.values[0]),
              UaNodeId::Num(0, static_cast<uint32_t>(k.type)));
  }
  VariantClear(&text);
}

TEST_F(Services, RemovedTagsDisappearFromReadAndBrowse) {
  s.tags.Remove(input);
  Response r = c.Call(UaId::ReadRequest_Encoding_DefaultBinary,
                      Read({{UaNodeId::Str(1, "PLC.4.0007"), 13}}));
  EXPECT_EQ(DataValues(r)[0].status, UaStatus::BadNodeIdUnknown);
  auto b = BrowseResults(
      c.Call(UaId::BrowseRequest_Encoding_DefaultBinary, Browse(UaNodeId::Num(1, 1), 0)).Body());
  for (const auto& [name, id] : b[0].refs) EXPECT_NE(name, "PLC.4.0007");
}

TEST_F(Services, ReadRefusesBadRequests) {
  Response r = c.Call(UaId::ReadRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.float64(-1);
    e.uint32(0);
    e.int32(0);
  });
  EXPECT_EQ(r.serviceResult, UaStatus::BadMaxAgeInvalid);
  r = c.Call(UaId::ReadRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.float64(0);
    e.uint32(7);
    e.int32(0);
  });
  EXPECT_EQ(r.serviceResult, UaStatus::BadTimestampsToReturnInvalid);
  r = c.Call(UaId::ReadRequest_Encoding_DefaultBinary, Read({}));
  EXPECT_EQ(r.serviceResult, UaStatus::BadNothingToDo);
}

TEST_F(Services, BrowseFollowsTypesDirectionsAndContinuationPoints) {
  auto objects = BrowseResults(c.Call(UaId::BrowseRequest_Encoding_DefaultBinary,
                                      Browse(UaNodeId::Num(0, 85), 0, 0, UaNodeId::Num(0, 33)))
                                   .Body());
  std::vector<std::string> names;
  for (const auto& [name, id] : objects[0].refs) names.push_back(name);
  EXPECT_NE(std::find(names.begin(), names.end(), "Server"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "Korvane.Modbus_OPC_Server"), names.end());
  // HasTypeDefinition is not hierarchical, so FolderType is not listed.
  EXPECT_EQ(std::find(names.begin(), names.end(), "FolderType"), names.end());

  // Both directions: three tags, the type definition and Objects above.
  auto first = BrowseResults(
      c.Call(UaId::BrowseRequest_Encoding_DefaultBinary, Browse(UaNodeId::Num(1, 1), 2, 2)).Body());
  ASSERT_EQ(first[0].refs.size(), 2u);
  ASSERT_FALSE(first[0].continuation.empty());
  auto next = [&](bool release) {
    return BrowseResults(c.Call(UaId::BrowseNextRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
                            e.boolean(release);
                            e.int32(1);
                            e.string(first[0].continuation);
                          }).Body());
  };
  auto second = next(false);
  EXPECT_EQ(second[0].status, UaStatus::Good);
  EXPECT_EQ(second[0].refs.size(), 2u);
  EXPECT_FALSE(second[0].continuation.empty());
  // A used continuation point is gone.
  EXPECT_EQ(next(false)[0].status, UaStatus::BadContinuationPointInvalid);
  first[0].continuation = second[0].continuation;
  EXPECT_EQ(next(true)[0].status, UaStatus::Good);
  EXPECT_EQ(next(false)[0].status, UaStatus::BadContinuationPointInvalid);

  auto unknown = BrowseResults(
      c.Call(UaId::BrowseRequest_Encoding_DefaultBinary, Browse(UaNodeId::Str(1, "NOPE"), 0))
          .Body());
  EXPECT_EQ(unknown[0].status, UaStatus::BadNodeIdUnknown);
  auto badType = BrowseResults(c.Call(UaId::BrowseRequest_Encoding_DefaultBinary,
                                      Browse(UaNodeId::Num(0, 85), 0, 0, UaNodeId::Num(0, 85)))
                                   .Body());
  EXPECT_EQ(badType[0].status, UaStatus::BadReferenceTypeIdInvalid);
}

TEST_F(Services, TranslateFindsTagsByBrowseNames) {
  auto translate = [&](std::vector<UaQualifiedName> path) {
    return c.Call(UaId::TranslateBrowsePathsToNodeIdsRequest_Encoding_DefaultBinary,
                  [&](WireWriter& e) {
                    e.int32(1);
                    e.nodeId(UaNodeId::Num(0, 84));
                    e.int32(static_cast<int32_t>(path.size()));
                    for (const auto& q : path) {
                      e.nodeId(UaNodeId::Num(0, 33));
                      e.boolean(false);
                      e.boolean(true);
                      e.qualifiedName(q);
                    }
                  });
  };
  Response found = translate({{0, "Objects"}, {1, "Korvane.Modbus_OPC_Server"}, {1, "PLC.1.0001"}});
  UaDecoder d = found.Body();
  ASSERT_EQ(d.Int32(), 1);
  EXPECT_EQ(d.UInt32(), UaStatus::Good);
  ASSERT_EQ(d.Int32(), 1);
  EXPECT_EQ(d.ExpandedNodeId().id, UaNodeId::Str(1, "PLC.1.0001"));
  Response none = translate({{0, "Objects"}, {0, "PLC.1.0001"}});
  d = none.Body();
  d.Int32();
  EXPECT_EQ(d.UInt32(), UaStatus::BadNoMatch);
  Response empty = translate({{0, "Objects"}, {0, ""}});
  d = empty.Body();
  d.Int32();
  EXPECT_EQ(d.UInt32(), UaStatus::BadBrowseNameInvalid);
}

TEST_F(Services, AWriteReachesTheCallbackAsTheClientSentIt) {
  Response r = c.Call(UaId::WriteRequest_Encoding_DefaultBinary,
                      WriteValue(UaNodeId::Str(1, "PLC.1.0001"), 13,
                                 Value(UaVariant::Scalar(UaType::Int16, int64_t{-5}))));
  EXPECT_EQ(Statuses(r), (std::vector<uint32_t>{UaStatus::Good}));
  ASSERT_EQ(s.writes.size(), 1u);
  EXPECT_EQ(s.writes[0].first, coil);
  EXPECT_EQ(s.writes[0].second.vt, VT_I2);
  EXPECT_EQ(s.writes[0].second.iVal, -5);
  // The tag keeps its value: the device answers with the next poll.
  auto v = DataValues(c.Call(UaId::ReadRequest_Encoding_DefaultBinary,
                             Read({{UaNodeId::Str(1, "PLC.1.0001"), 13}})));
  EXPECT_EQ(std::get<float>(v[0].value.values[0]), 1.0f);
  s.writeResult = UaStatus::BadTypeMismatch;
  r = c.Call(UaId::WriteRequest_Encoding_DefaultBinary,
             WriteValue(UaNodeId::Str(1, "PLC.1.0001"), 13,
                        Value(UaVariant::Scalar(UaType::String, std::string("x")))));
  EXPECT_EQ(Statuses(r), (std::vector<uint32_t>{UaStatus::BadTypeMismatch}));
}

TEST_F(Services, WritesThatCannotBeTakenGetTheirCodeAndReachNobody) {
  struct Case {
    UaNodeId node;
    uint32_t attribute;
    UaDataValue value;
    uint32_t expected;
  };
  UaDataValue f = Value(UaVariant::Scalar(UaType::Float, 2.0f));
  UaDataValue stamped = f;
  stamped.sourceTimestamp = UaNow();
  std::vector<Case> cases = {
      {UaNodeId::Str(1, "PLC.4.0007"), 13, f, UaStatus::BadNotWritable},
      {UaNodeId::Str(1, "NOPE"), 13, f, UaStatus::BadNodeIdUnknown},
      {UaNodeId::Str(1, "PLC.1.0001"), 4, f, UaStatus::BadNotWritable},
      {UaNodeId::Str(1, "PLC.1.0001"), 8, f, UaStatus::BadAttributeIdInvalid},
      {UaNodeId::Str(1, "PLC.1.0001"), 13, Value(UaVariant::Array(UaType::Float, {1.0f})),
       UaStatus::BadTypeMismatch},
      {UaNodeId::Str(1, "PLC.1.0001"), 13, UaDataValue{}, UaStatus::BadTypeMismatch},
      {UaNodeId::Str(1, "PLC.1.0001"), 13, stamped, UaStatus::BadWriteNotSupported},
      {UaNodeId::Num(0, 2259), 13, f, UaStatus::BadNotWritable},
      {UaNodeId::Num(1, 1), 13, f, UaStatus::BadAttributeIdInvalid},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    Response r = c.Call(UaId::WriteRequest_Encoding_DefaultBinary,
                        WriteValue(cases[i].node, cases[i].attribute, cases[i].value));
    EXPECT_EQ(Statuses(r), (std::vector<uint32_t>{cases[i].expected})) << "case " << i;
  }
  EXPECT_TRUE(s.writes.empty());
}

TEST_F(Services, WritesWithoutACallbackAreNotWritable) {
  s.server->SetWriteHandler(nullptr);
  Response r = c.Call(UaId::WriteRequest_Encoding_DefaultBinary,
                      WriteValue(UaNodeId::Str(1, "PLC.1.0001"), 13,
                                 Value(UaVariant::Scalar(UaType::Float, 1.0f))));
  EXPECT_EQ(Statuses(r), (std::vector<uint32_t>{UaStatus::BadNotWritable}));
}

TEST_F(Services, RegisterNodesHandsBackUsableIds) {
  Response r = c.Call(UaId::RegisterNodesRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.int32(1);
    e.nodeId(UaNodeId::Str(1, "PLC.1.0001"));
  });
  UaDecoder d = r.Body();
  ASSERT_EQ(d.Int32(), 1);
  UaNodeId id = d.NodeId();
  auto v = DataValues(c.Call(UaId::ReadRequest_Encoding_DefaultBinary, Read({{id, 13}})));
  EXPECT_EQ(v[0].status, UaStatus::Good);
  r = c.Call(UaId::UnregisterNodesRequest_Encoding_DefaultBinary,
             [](WireWriter& e) { e.int32(0); });
  EXPECT_EQ(r.serviceResult, UaStatus::BadNothingToDo);
}

// What a client reads as a property's value: the structure's encoding id
// and body, or the Float of a real tag that has the property's node id.
std::string PropertyRead(TestClient& c, const UaNodeId& id) {
  UaDataValue dv =
      DataValues(c.Call(UaId::ReadRequest_Encoding_DefaultBinary, Read({{id, 13}})))[0];
  if (!dv.hasValue) return "status " + std::to_string(dv.status);
  if (dv.value.type == UaType::Float)
    return "tag " + std::to_string(std::get<float>(dv.value.values[0]));
  const auto& eo = std::get<UaExtensionObject>(dv.value.values[0]);
  UaDecoder d(eo.body.data(), eo.body.size());
  if (eo.typeId.numeric == UaId::Range_Encoding_DefaultBinary) {
    double low = d.Double();
    return "range " + std::to_string(low) + " " + std::to_string(d.Double());
  }
  std::string text = d.String();
  text += " " + std::to_string(d.Int32());
  text += " " + d.LocalizedText().text;
  return "units " + text + " " + d.LocalizedText().text;
}

// Properties belong to the node the tags of a name share, and a real tag
// whose name is a property's node id is found before the property.
TEST_F(Services, TagPropertiesLiveWithTheirNodeAndYieldToARealTag) {
  const int32_t twin = s.tags.Create("PLC.4.0007", FloatVariant(1), 192, false);
  s.tags.SetProperties(input, {"Oil temperature", "\u00b0C", true, -20, 150});
  int32_t shadow = s.tags.Create("PLC.4.0007.EURange", FloatVariant(7), 192, false);
  const std::string units =
      "units http://www.opcfoundation.org/UA/units/un/cefact 4408652 \u00b0C degree Celsius";
  const std::string gone = "status " + std::to_string(UaStatus::BadNodeIdUnknown);
  struct Step {
    std::function<void()> change;
    std::string units, range;
  };
  const Step steps[] = {
      {[] {}, units, "tag 7.000000"},
      {[&] { s.tags.Remove(shadow); }, units, "range -20.000000 150.000000"},
      {[&] { s.tags.Remove(input); }, units, "range -20.000000 150.000000"},
      {[&] { s.tags.Remove(twin); }, gone, gone},
      {[&] { s.tags.Create("PLC.4.0007", FloatVariant(2), 192, false); }, gone, gone},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    steps[i].change();
    EXPECT_EQ(PropertyRead(c, UaNodeId::Str(1, "PLC.4.0007.EngineeringUnits")), steps[i].units)
        << i;
    EXPECT_EQ(PropertyRead(c, UaNodeId::Str(1, "PLC.4.0007.EURange")), steps[i].range) << i;
  }
}

}  // namespace
}  // namespace tagserver
