// A secured channel's symmetric chunks as a client would send them, whole
// and tampered with: only the untouched one is opened.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tagserver/ChannelSecurity.h"
#include "tagserver/PkiStore.h"
#include "tagserver/UaDecodeError.h"
#include "tagserver/UaStatusCodes.h"

namespace fs = std::filesystem;
using namespace tagserver;

namespace {

constexpr uint32_t kToken = 7;

class ChannelSecurityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/pelmoran-channel-test-XXXXXX";
    m_root = mkdtemp(folder);
    m_server = PkiStore(m_root + "/server");
    m_client = PkiStore(m_root + "/client");
    std::string error;
    ASSERT_TRUE(m_server.LoadOrCreateOwn("urn:server", error)) << error;
    ASSERT_TRUE(m_client.LoadOrCreateOwn("urn:client", error)) << error;
    const ByteString& der = m_client.Own().Der();
    std::ofstream(m_root + "/server/trusted/certs/client.der", std::ios::binary)
        .write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
  }
  void TearDown() override { fs::remove_all(m_root); }

  // A channel of the policy and mode, opened as by the client's request.
  ChannelSecurity Open(const SecurityPolicy& policy, SecurityMode mode) {
    ChannelSecurity channel;
    channel.Accept({policy.uri, m_client.Own().Der(), m_server.Own().Thumbprint()}, &m_server,
                   false);
    channel.SetMode(mode);
    channel.AddToken(kToken, m_clientNonce, m_serverNonce);
    return channel;
  }

  // What the client sends: headers, sequence header, body, padding when it
  // encrypts, the signature, encrypted with its own keys.
  ByteString ClientChunk(const SecurityPolicy& policy, bool encrypt, const ByteString& body) {
    SymmetricKeys keys = SymmetricCrypto::Derive(policy, m_serverNonce, m_clientNonce);
    UaEncoder out;
    out.Raw("MSGF", 4);
    out.UInt32(0);
    out.UInt32(1);
    out.UInt32(kToken);
    out.UInt32(1);
    out.UInt32(1);
    out.Raw(body.data(), body.size());
    ByteString& b = out.Buffer();
    if (encrypt) {
      size_t unpadded = b.size() - 16 + 1 + 32;
      size_t padding = (16 - unpadded % 16) % 16;
      b.insert(b.end(), padding + 1, static_cast<uint8_t>(padding));
    }
    out.PatchUInt32(4, static_cast<uint32_t>(b.size() + 32));
    ByteString signature = SymmetricCrypto::Hmac(keys.signing, b.data(), b.size());
    b.insert(b.end(), signature.begin(), signature.end());
    if (encrypt) SymmetricCrypto::Encrypt(keys, b.data() + 16, b.size() - 16);
    return b;
  }

  std::string m_root;
  PkiStore m_server{""};
  PkiStore m_client{""};
  ByteString m_clientNonce = ByteString(32, 0x11);
  ByteString m_serverNonce = ByteString(32, 0x22);
};

uint32_t StatusOf(const ChannelSecurity& channel, ByteString chunk, uint32_t token = kToken) {
  try {
    channel.OpenSymmetric(chunk.data(), chunk.size(), token);
    return UaStatus::Good;
  } catch (const UaDecodeError& e) {
    return e.Status();
  }
}

}  // namespace

TEST_F(ChannelSecurityTest, OnlyAnUntouchedChunkOpens) {
  const ByteString body = {'r', 'e', 'q', 'u', 'e', 's', 't'};
  for (const SecurityPolicy* policy :
       {&SecurityPolicy::Get(SecurityPolicyId::Basic256Sha256),
        &SecurityPolicy::Get(SecurityPolicyId::Aes128Sha256RsaOaep),
        &SecurityPolicy::Get(SecurityPolicyId::Aes256Sha256RsaPss)}) {
    for (SecurityMode mode : {SecurityMode::Sign, SecurityMode::SignAndEncrypt}) {
      const bool encrypt = mode == SecurityMode::SignAndEncrypt;
      const std::string what = std::string(policy->uri) + (encrypt ? " encrypted" : " signed");
      ChannelSecurity channel = Open(*policy, mode);
      ByteString good = ClientChunk(*policy, encrypt, body);
      ByteString copy = good;
      auto [plain, size] = channel.OpenSymmetric(copy.data(), copy.size(), kToken);
      ASSERT_EQ(size, 8 + body.size()) << what;
      EXPECT_TRUE(std::equal(body.begin(), body.end(), plain + 8)) << what;

      struct Tamper {
        const char* how;
        std::function<void(ByteString&)> change;
        uint32_t token;
        uint32_t status;
      };
      const Tamper tampers[] = {
          {"a body byte", [](ByteString& b) { b[30] ^= 1; }, kToken,
           UaStatus::BadSecurityChecksFailed},
          {"the channel id", [](ByteString& b) { b[8] ^= 1; }, kToken,
           UaStatus::BadSecurityChecksFailed},
          {"the signature", [](ByteString& b) { b.back() ^= 0x80; }, kToken,
           UaStatus::BadSecurityChecksFailed},
          {"cut short", [](ByteString& b) { b.resize(b.size() - 5); }, kToken,
           UaStatus::BadSecurityChecksFailed},
          {"cut to its headers", [](ByteString& b) { b.resize(24); }, kToken,
           UaStatus::BadSecurityChecksFailed},
          {"another token", [](ByteString&) {}, kToken + 1, UaStatus::BadSecureChannelTokenUnknown},
      };
      for (const Tamper& t : tampers) {
        ByteString bad = good;
        t.change(bad);
        EXPECT_EQ(StatusOf(channel, bad, t.token), t.status) << what << ": " << t.how;
      }
    }
  }
}

TEST_F(ChannelSecurityTest, PaddingThatDoesNotFitIsRefused) {
  const SecurityPolicy& policy = SecurityPolicy::Get(SecurityPolicyId::Basic256Sha256);
  ChannelSecurity channel = Open(policy, SecurityMode::SignAndEncrypt);
  // A signed, encrypted chunk whose last byte before the signature claims
  // more padding than there is, or padding bytes that differ.
  for (uint8_t claimed : {uint8_t{200}, uint8_t{3}}) {
    SymmetricKeys keys = SymmetricCrypto::Derive(policy, m_serverNonce, m_clientNonce);
    ByteString b = {'M', 'S', 'G', 'F', 0, 0, 0, 0, 1, 0, 0, 0, kToken, 0, 0, 0};
    ByteString inner = {1, 0, 0, 0, 1, 0, 0, 0, 'x', 9, 9, 9, 9, 9, 9, claimed};
    b.insert(b.end(), inner.begin(), inner.end());
    b[4] = static_cast<uint8_t>(b.size() + 32);
    ByteString signature = SymmetricCrypto::Hmac(keys.signing, b.data(), b.size());
    b.insert(b.end(), signature.begin(), signature.end());
    SymmetricCrypto::Encrypt(keys, b.data() + 16, b.size() - 16);
    EXPECT_EQ(StatusOf(channel, b), UaStatus::BadSecurityChecksFailed) << int{claimed};
  }
}
