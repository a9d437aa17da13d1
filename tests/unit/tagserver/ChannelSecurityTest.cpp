// A secured channel's symmetric chunks as a client would send them, whole
// and tampered with: only the untouched one is opened. And OpenSecureChannel
// requests from hostile or unusual clients, through a whole connection.
#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string_view>
#include <utility>

#include "TestClient.h"
#include "opcua/UaStatusCodes.h"
#include "tagserver/ChannelSecurity.h"
#include "tagserver/PkiStore.h"
#include "tagserver/RsaCrypto.h"
#include "tagserver/UaDecodeError.h"
#include "tagserver/tagserver.h"

namespace fs = std::filesystem;
using namespace tagserver;

namespace {

constexpr uint32_t kToken = 7;

void Store(const std::string& folder, const Certificate& c) {
  std::ofstream(folder + c.ThumbprintHex() + ".der", std::ios::binary)
      .write(reinterpret_cast<const char*>(c.Der().data()),
             static_cast<std::streamsize>(c.Der().size()));
}

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
    Store(m_root + "/server/trusted/certs/", m_client.Own());
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
          {"cut short", [](ByteString& b) { b.erase(b.end() - 5, b.end()); }, kToken,
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

namespace {

using Key = std::shared_ptr<EVP_PKEY>;
struct Issued {
  Key key;
  Certificate cert;
};
enum class Kind { Ca, Client, ClientWithoutUri, ClientSignedWithSha1 };

// A certificate signed by issuer (itself when null), with a new key unless
// one is given.
Issued Make(const char* name, Kind kind, const Issued* issuer = nullptr, Key key = nullptr) {
  if (!key) key.reset(EVP_RSA_gen(2048), EVP_PKEY_free);
  static long serial = 1;
  CertPtr x(X509_new());
  X509_set_version(x.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x.get()), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(x.get()), -86400L);
  X509_gmtime_adj(X509_getm_notAfter(x.get()), 86400L);
  X509_set_pubkey(x.get(), key.get());
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x.get()), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer->cert.Get() : x.get();
  X509_set_issuer_name(x.get(), X509_get_subject_name(signer));
  X509V3_CTX ctx{};
  X509V3_set_ctx(&ctx, signer, x.get(), nullptr, nullptr, 0);
  const auto add = [&](int nid, const char* value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(x.get(), ext, -1);
    X509_EXTENSION_free(ext);
  };
  add(NID_basic_constraints, kind == Kind::Ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
  if (kind == Kind::Client || kind == Kind::ClientSignedWithSha1)
    add(NID_subject_alt_name, "URI:urn:client");
  X509_sign(x.get(), (issuer != nullptr ? issuer->key : key).get(),
            kind == Kind::ClientSignedWithSha1 ? EVP_sha1() : EVP_sha256());
  return {key, Certificate(std::move(x))};
}

// A CRL in the issuer's name, signed by signer, that lists the certificate
// when there is one.
void WriteCrl(const std::string& path, const Issued& issuer, EVP_PKEY* signer, long nextUpdate,
              const Certificate* listed) {
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer.cert.Get()));
  ASN1_TIME* time = X509_gmtime_adj(nullptr, -3600);
  X509_CRL_set1_lastUpdate(crl, time);
  if (listed != nullptr) {
    X509_REVOKED* entry = X509_REVOKED_new();
    X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(listed->Get()));
    X509_REVOKED_set_revocationDate(entry, time);
    X509_CRL_add0_revoked(crl, entry);
  }
  X509_CRL_set1_nextUpdate(crl, X509_gmtime_adj(time, nextUpdate));
  ASN1_TIME_free(time);
  X509_CRL_sign(crl, signer, EVP_sha256());
  FILE* file = std::fopen(path.c_str(), "wb");
  i2d_X509_CRL_fp(file, crl);
  std::fclose(file);
  X509_CRL_free(crl);
}

// Sends the client's OpenSecureChannel request in Basic256Sha256
// SignAndEncrypt: its certificate with behind after it, signed with its key
// and encrypted to the server's. Good when the server answers with OPN,
// whose channel id the client keeps for a renewal, else the ERR's status.
uint32_t SecureOpen(test::TestClient& c, const PkiStore& server, const Issued& client,
                    const ByteString& behind = {}, uint32_t requestType = 0) {
  EVP_PKEY* signer = client.key.get();
  ByteString sent = client.cert.Der();
  sent.insert(sent.end(), behind.begin(), behind.end());
  const SecurityPolicy& policy = SecurityPolicy::Get(SecurityPolicyId::Basic256Sha256);
  if (requestType == 0) c.Hello();
  c.received.clear();
  const ByteString plain = c.OpenBytes(requestType, policy.uri);
  // Headers up to the policy; then come its null certificate and thumbprint.
  const size_t headerEnd = 16 + std::string_view(policy.uri).size();
  test::WireWriter w;
  w.raw(plain.data(), headerEnd);
  w.byteString(sent);
  w.byteString(server.Own().Thumbprint());
  const size_t bodyFrom = w.size();
  // All but its last fields: mode None, no nonce and the lifetime.
  w.raw(plain.data() + headerEnd + 8, plain.size() - headerEnd - 8 - 12);
  w.uint32(static_cast<uint32_t>(SecurityMode::SignAndEncrypt));
  w.byteString(ByteString(32, 0x33));
  w.uint32(600000);
  EVP_PKEY* serverKey = server.Own().PublicKey();
  const size_t block = RsaCrypto::PlainBlockSize(serverKey, policy.encryption);
  const size_t unpadded = w.size() - bodyFrom + 1 + RsaCrypto::KeyBytes(signer);
  const size_t padding = (block - unpadded % block) % block;
  for (size_t i = 0; i <= padding; ++i) w.byte(static_cast<uint8_t>(padding));
  w.patchUInt32(4, static_cast<uint32_t>(bodyFrom + (unpadded + padding) / block *
                                                        RsaCrypto::KeyBytes(serverKey)));
  ByteString b = w.bytes();
  const ByteString signature = RsaCrypto::Sign(signer, policy.signature, b.data(), b.size());
  b.insert(b.end(), signature.begin(), signature.end());
  const ByteString encrypted =
      RsaCrypto::Encrypt(serverKey, policy.encryption, b.data() + bodyFrom, b.size() - bodyFrom);
  b.resize(bodyFrom);
  b.insert(b.end(), encrypted.begin(), encrypted.end());
  c.Raw(b);
  const std::vector<uint8_t> answer = std::exchange(c.received, {});
  if (answer.size() < 12) return UaStatus::BadInternalError;
  const uint32_t at8 = UaDecoder(answer.data() + 8, 4).UInt32();
  if (answer[0] != 'O') return at8;
  c.channelId = at8;
  return UaStatus::Good;
}

}  // namespace

TEST_F(ChannelSecurityTest, HostileAndChainedOpenSecureChannelRequests) {
  const std::string pki = m_root + "/server/";
  auto store = std::make_shared<PkiStore>(std::move(m_server));
  test::TestServer s;
  s.server->SetSecurity({.offerSecure = true}, store, nullptr);

  const Issued ca = Make("ca", Kind::Ca);
  const Issued intermediate = Make("intermediate", Kind::Ca, &ca);
  const Issued stored = Make("intermediate stored", Kind::Ca, &ca);
  const Issued byCa = Make("by ca", Kind::Client, &ca);
  const Issued stranger = Make("stranger", Kind::Client);
  const Issued viaSent = Make("via sent chain", Kind::Client, &intermediate);
  const Issued viaStored = Make("via stored chain", Kind::Client, &stored);
  const Issued sha1 = Make("sha1", Kind::ClientSignedWithSha1);
  const Issued noUri = Make("no uri", Kind::ClientWithoutUri);
  const Issued junk = Make("junk behind", Kind::Client);
  for (const Issued* trusted : {&ca, &sha1, &noUri, &junk})
    Store(pki + "trusted/certs/", trusted->cert);
  Store(pki + "issuers/certs/", stored.cert);
  const auto crl = [&](const char* file, const Issued& signer, long nextUpdate, bool lists = true) {
    WriteCrl(pki + file, ca, signer.key.get(), nextUpdate, lists ? &byCa.cert : nullptr);
  };
  struct Case {
    const char* what;
    Issued client;
    ByteString behind;  // sent after the client's certificate
    uint32_t status;
    std::function<void()> crls = {};
  };
  namespace S = UaStatus;
  const Case cases[] = {
      {"signed by another key", {junk.key, stranger.cert}, {}, S::BadSecurityChecksFailed},
      {"untrusted", stranger, {}, S::BadCertificateUntrusted},
      {"chain to a trusted CA", viaSent, intermediate.cert.Der(), S::Good},
      {"chain the server has", viaStored, stored.cert.Der(), S::Good},
      {"listed by a forged CRL", byCa, {}, S::Good,
       [&] {
         crl("trusted/crl/forged.crl", stranger, 86400);
         crl("trusted/crl/real.crl", ca, 86400, false);
       }},
      {"listed by an expired CRL", byCa, {}, S::BadCertificateRevocationUnknown,
       [&] { crl("trusted/crl/old.crl", ca, -60); }},
      {"listed by a valid CRL", byCa, {}, S::BadCertificateRevoked,
       [&] { crl("issuers/crl/ca.crl", ca, 86400); }},
      {"signed with SHA-1", sha1, {}, S::BadCertificatePolicyCheckFailed},
      {"bytes behind the certificate", junk, {0x30, 0x03, 0x02}, S::BadCertificateInvalid},
      {"no URI", noUri, {}, S::BadCertificateUriInvalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* folder : {"rejected", "trusted/crl", "issuers/crl"})
      for (const auto& f : fs::directory_iterator(pki + folder)) fs::remove(f.path());
    if (c.crls) c.crls();
    test::TestClient client(*s.server);
    EXPECT_EQ(SecureOpen(client, *store, c.client, c.behind), c.status);
    // Only a client that holds its certificate's key leaves it in rejected/.
    EXPECT_EQ(store->RejectedFiles().size(), c.status == S::BadCertificateUntrusted ? 1u : 0u);
    if (c.status == S::Good) {
      EXPECT_EQ(SecureOpen(client, *store, c.client, c.behind, 1), S::Good) << "renewal";
    }
  }

  // A flood of certificates that pass every check but trust: rejected/
  // keeps the newest, and the log tells of the flood in one line.
  static std::vector<std::string> lines;
  EnableOPCLogCallback([](int, const char* text) { lines.emplace_back(text); });
  for (size_t i = 0; i < PkiStore::kMaxRejectedFiles + 6; ++i) {
    test::TestClient client(*s.server);
    EXPECT_EQ(SecureOpen(client, *store, Make("flood", Kind::Client, nullptr, stranger.key)),
              S::BadCertificateUntrusted);
  }
  EnableOPCLogCallback(nullptr);
  EXPECT_EQ(store->RejectedFiles().size(), PkiStore::kMaxRejectedFiles);
  EXPECT_LE(lines.size(), 1u);
}
