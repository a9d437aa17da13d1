// What ActivateSession does with each identity token under each setting, and
// what a session that may only read is told and refused. node-opcua never
// sends a token the endpoint does not list, so these are sent by hand.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "TestClient.h"
#include "tagserver/PkiStore.h"
#include "tagserver/RsaCrypto.h"
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

void ActivateBody(WireWriter& e, const UaExtensionObject& token) {
  e.nullString();
  e.nullString();
  e.nullArray();
  e.nullArray();
  e.extensionObject(token);
  e.nullString();
  e.nullString();
}

Response Activate(TestClient& c, const UaExtensionObject& token) {
  return c.Call(UaId::ActivateSessionRequest_Encoding_DefaultBinary,
                [&](WireWriter& e) { ActivateBody(e, token); });
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

// Stands in for PBKDF2: records what it is asked to do and, while held,
// waits, so that logins stay in progress for as long as the test says. One
// iteration is hashed whatever the count asked.
class PacedHasher {
 public:
  std::vector<uint8_t> Hash(const std::string& password, const std::vector<uint8_t>& salt,
                            uint32_t iterations) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_calls.emplace_back(iterations, salt.size());
    // Bounded: a server that hashes on its own thread fails rather than hangs.
    m_released.wait_for(lock, std::chrono::seconds(2), [this] { return !m_bHeld; });
    lock.unlock();
    std::vector<uint8_t> out(32);
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                      static_cast<int>(salt.size()), 1, EVP_sha256(), 32, out.data());
    return out;
  }
  void Hold(bool held) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bHeld = held;
    m_released.notify_all();
  }
  std::vector<std::pair<uint32_t, size_t>> TakeCalls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_calls, {});
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_released;
  bool m_bHeld = false;
  std::vector<std::pair<uint32_t, size_t>> m_calls;  // iterations, salt size
};

// Runs the server's thread until done() holds; false after ten seconds.
template <typename Done>
bool RunUntil(TestServer& s, Done done) {
  auto work = asio::make_work_guard(s.io);
  s.io.restart();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    s.io.run_one_for(std::chrono::milliseconds(50));
  }
  return true;
}

// As a client sends it on the None endpoint: encrypted to the server's key
// with the server's last nonce appended.
uint32_t SendLogin(TestClient& c, const PkiStore& pki, const std::string& user,
                   const std::string& password) {
  const SecurityPolicy& policy = SecurityPolicy::Get(SecurityPolicyId::Basic256Sha256);
  WireWriter plain;
  plain.uint32(static_cast<uint32_t>(password.size() + c.serverNonce.size()));
  plain.raw(password);
  plain.raw(c.serverNonce.data(), c.serverNonce.size());
  const ByteString secret = RsaCrypto::Encrypt(pki.Own().PublicKey(), policy.encryption,
                                               plain.bytes().data(), plain.size());
  const UaExtensionObject token =
      Token(UaId::UserNameIdentityToken_Encoding_DefaultBinary, [&](WireWriter& w) {
        w.string(SessionSecurity::kUserNamePolicy);
        w.string(user);
        w.byteString(secret);
        w.string(policy.EncryptionUri());
      });
  return c.Request(UaId::ActivateSessionRequest_Encoding_DefaultBinary,
                   [&](WireWriter& e) { ActivateBody(e, token); });
}

void Collect(TestClient& c, std::vector<Response>& into) {
  for (Response& r : c.TakeResponses()) into.push_back(std::move(r));
}

// Three logins at once from one address after some failures of "alice" from
// 10.0.0.1. Every password is hashed with the file's cost, whether the name
// is known or not; another client is served while the hashes run; failures
// wait when their address or user failed often, and only then.
TEST(IdentityTest, PasswordsAreHashedAlikeOffTheServerThreadAndFailuresThrottled) {
  char folder[] = "/tmp/pelmoran-logins-test-XXXXXX";
  const std::string root = mkdtemp(folder);
  auto pki = std::make_shared<PkiStore>(root + "/pki");
  std::string error;
  ASSERT_TRUE(pki->LoadOrCreateOwn("urn:test", error)) << error;
  constexpr size_t kStream = 3;
  struct Case {
    const char* what;
    int priorFailures;
    std::string address;
    const char* user;
    const char* password;
    uint32_t expected;
    bool delayed;
  };
  const Case cases[] = {
      {"a known name, wrong", 0, "10.0.0.2", "alice", "wrong", UaStatus::BadUserAccessDenied,
       false},
      {"an unknown name", 0, "10.0.0.2", "mallory", "wrong", UaStatus::BadUserAccessDenied, false},
      {"the failing address, another name", 3, "10.0.0.1", "bob", "wrong",
       UaStatus::BadUserAccessDenied, true},
      {"the failing name, another address", 3, "10.0.0.2", "alice", "wrong",
       UaStatus::BadUserAccessDenied, true},
      {"another name and address", 3, "10.0.0.2", "bob", "wrong", UaStatus::BadUserAccessDenied,
       false},
      {"the failing name's own password", 3, "10.0.0.2", "alice", "s3cret", UaStatus::Good, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestServer s;
    auto hasher = std::make_shared<PacedHasher>();
    std::filesystem::remove(root + "/opcua-users");
    auto users = std::make_shared<UserDirectory>(root + "/opcua-users");
    users->SetHasher([hasher](const std::string& p, const std::vector<uint8_t>& salt, uint32_t n) {
      return hasher->Hash(p, salt, n);
    });
    ASSERT_TRUE(users->Add("alice", "s3cret", UserRole::ReadWrite, error)) << error;
    s.server->SetSecurity(EndpointSecurity{}, pki, users);
    TestClient bystander(*s.server);
    bystander.address = "10.9.9.9";
    bystander.Ready();
    TestClient attacker(*s.server);
    attacker.address = "10.0.0.1";
    attacker.Connect();
    attacker.CreateSession();
    for (int i = 0; i < c.priorFailures; ++i) {
      std::vector<Response> failed;
      SendLogin(attacker, *pki, "alice", "guess" + std::to_string(i));
      ASSERT_TRUE(RunUntil(s, [&] { return Collect(attacker, failed), !failed.empty(); }));
    }
    hasher->TakeCalls();

    std::vector<std::unique_ptr<TestClient>> clients;
    for (size_t i = 0; i < kStream; ++i) {
      clients.push_back(std::make_unique<TestClient>(*s.server));
      clients.back()->address = c.address;
      clients.back()->Connect();
      clients.back()->CreateSession();
    }
    hasher->Hold(true);
    for (auto& client : clients) SendLogin(*client, *pki, c.user, c.password);
    std::vector<Response> read;
    bystander.Request(UaId::ReadRequest_Encoding_DefaultBinary, [](WireWriter& e) {
      e.float64(0);
      e.uint32(0);
      e.int32(1);
      e.nodeId(UaNodeId::Num(0, 2259));
      e.uint32(UaId::AttrValue);
      e.nullString();
      e.qualifiedName({});
    });
    ASSERT_TRUE(RunUntil(s, [&] { return Collect(bystander, read), !read.empty(); }));
    EXPECT_EQ(read[0].serviceResult, UaStatus::Good);
    std::vector<Response> answers;
    auto collect = [&] {
      for (auto& client : clients) Collect(*client, answers);
    };
    collect();
    EXPECT_TRUE(answers.empty()) << "the logins were answered before another client's Read";

    hasher->Hold(false);
    size_t mostDelayed = 0;
    ASSERT_TRUE(RunUntil(s, [&] {
      mostDelayed = std::max(mostDelayed, s.server->DelayedLogins());
      collect();
      return answers.size() == kStream;
    }));
    EXPECT_EQ(mostDelayed > 0, c.delayed);
    for (const Response& r : answers) EXPECT_EQ(r.serviceResult, c.expected);
    const std::vector<std::pair<uint32_t, size_t>> fullCost(kStream, {100000, 16});
    EXPECT_EQ(hasher->TakeCalls(), fullCost);
  }
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace tagserver
