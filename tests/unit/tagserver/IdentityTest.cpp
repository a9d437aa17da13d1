// What ActivateSession does with each identity token under each setting, and
// what a session that may only read is told and refused. node-opcua never
// sends a token the endpoint does not list, so these are sent by hand.
#include <gtest/gtest.h>

#include "TestClient.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaStatusCodes.h"

namespace tagserver {
namespace {

using test::Response;
using test::TestClient;
using test::TestServer;
using test::WireWriter;

UaExtensionObject Token(uint32_t type, const std::function<void(WireWriter&)>& body) {
  WireWriter w;
  body(w);
  return {UaNodeId::Num(0, type), 1, w.bytes()};
}

Response Activate(TestClient& c, const UaExtensionObject& token) {
  return c.Call(UaId::ActivateSessionRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
    e.nullString();
    e.nullString();
    e.nullArray();
    e.nullArray();
    e.extensionObject(token);
    e.nullString();
    e.nullString();
  });
}

UaExtensionObject Anonymous(const char* policy) {
  return Token(UaId::AnonymousIdentityToken_Encoding_DefaultBinary,
               [=](WireWriter& w) { w.string(policy); });
}

TEST(IdentityTest, EachTokenUnderEachSetting) {
  const UaExtensionObject x509 =
      Token(UaId::X509IdentityToken_Encoding_DefaultBinary, [](WireWriter& w) {
        w.string("certificate");
        w.nullString();
      });
  const UaExtensionObject userName =
      Token(UaId::UserNameIdentityToken_Encoding_DefaultBinary, [](WireWriter& w) {
        w.string("username");
        w.string("alice");
        w.string("s3cret");
        w.nullString();
      });
  const UaExtensionObject issued =
      Token(UaId::IssuedIdentityToken_Encoding_DefaultBinary, [](WireWriter& w) {
        w.string("issued");
        w.nullString();
        w.nullString();
      });
  struct Case {
    const char* what;
    AnonymousAccess anonymous;
    UaExtensionObject token;
    uint32_t expected;
  };
  const Case cases[] = {
      {"anonymous when allowed", AnonymousAccess::ReadOnly, Anonymous("anonymous"), UaStatus::Good},
      {"no token is anonymous", AnonymousAccess::ReadWrite, {}, UaStatus::Good},
      {"anonymous when off", AnonymousAccess::Off, Anonymous("anonymous"),
       UaStatus::BadIdentityTokenRejected},
      {"no token when anonymous is off",
       AnonymousAccess::Off,
       {},
       UaStatus::BadIdentityTokenRejected},
      {"anonymous of a policy not offered", AnonymousAccess::ReadWrite, Anonymous("guest"),
       UaStatus::BadIdentityTokenInvalid},
      {"a user certificate", AnonymousAccess::ReadWrite, x509, UaStatus::BadIdentityTokenRejected},
      {"an issued token", AnonymousAccess::ReadWrite, issued, UaStatus::BadIdentityTokenRejected},
      // Without a certificate a password cannot travel safely.
      {"a user name without a server certificate", AnonymousAccess::ReadWrite, userName,
       UaStatus::BadIdentityTokenRejected},
  };
  for (const Case& c : cases) {
    TestServer s;
    EndpointSecurity settings;
    settings.anonymous = c.anonymous;
    s.server->SetSecurity(settings, nullptr, nullptr);
    TestClient client(*s.server);
    client.Connect();
    client.CreateSession();
    EXPECT_EQ(Activate(client, c.token).serviceResult, c.expected) << c.what;
    EXPECT_FALSE(client.closed) << c.what;
  }
}

TEST(IdentityTest, AReadOnlySessionSeesItsAccessLevelAndCannotWrite) {
  TestServer s;
  int32_t coil = s.tags.Create("PLC.1.0001", test::FloatVariant(1), 192, 1);
  ASSERT_GE(coil, 0);
  s.server->OnTagChanges();
  EndpointSecurity settings;
  settings.anonymous = AnonymousAccess::ReadOnly;
  s.server->SetSecurity(settings, nullptr, nullptr);
  TestClient c(*s.server);
  c.Ready();
  Response read = c.Call(UaId::ReadRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.float64(0);
    e.uint32(0);
    e.int32(2);
    for (uint32_t attribute : {UaId::AttrAccessLevel, UaId::AttrUserAccessLevel}) {
      e.nodeId(UaNodeId::Str(1, "PLC.1.0001"));
      e.uint32(attribute);
      e.nullString();
      e.qualifiedName({});
    }
  });
  UaDecoder d = read.Body();
  ASSERT_EQ(d.Int32(), 2);
  EXPECT_EQ(std::get<uint64_t>(d.DataValue().value.values[0]), 3u);
  EXPECT_EQ(std::get<uint64_t>(d.DataValue().value.values[0]), 1u);
  Response write = c.Call(UaId::WriteRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.int32(1);
    e.nodeId(UaNodeId::Str(1, "PLC.1.0001"));
    e.uint32(UaId::AttrValue);
    e.nullString();
    UaDataValue dv;
    dv.hasValue = true;
    dv.value = UaVariant::Scalar(UaType::Float, 2.0f);
    e.dataValue(dv);
  });
  UaDecoder w = write.Body();
  ASSERT_EQ(w.Int32(), 1);
  EXPECT_EQ(w.StatusCode(), UaStatus::BadUserAccessDenied);
  EXPECT_TRUE(s.writes.empty());
}

TEST(IdentityTest, APlainChannelNotOfferedServesDiscoveryButNoSession) {
  TestServer s;
  EndpointSecurity settings;
  settings.offerNone = false;
  s.server->SetSecurity(settings, nullptr, nullptr);
  TestClient c(*s.server);
  c.Connect();
  Response endpoints = c.Call(UaId::GetEndpointsRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.nullString();
    e.nullArray();
    e.nullArray();
  });
  EXPECT_EQ(endpoints.serviceResult, UaStatus::Good);
  EXPECT_EQ(endpoints.Body().Int32(), 0) << "nothing to offer without None or a certificate";
  Response session = c.RequestSession();
  EXPECT_EQ(session.serviceResult, UaStatus::BadSecurityPolicyRejected);
}

}  // namespace
}  // namespace tagserver
