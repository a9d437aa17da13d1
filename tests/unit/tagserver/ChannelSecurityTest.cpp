// A secured channel's symmetric chunks as a client would send them, whole
// and tampered with: only the untouched one is opened. And OpenSecureChannel
// requests from hostile or unusual clients, through a whole connection.
#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "TestClient.h"
#include "tagserver/ChannelSecurity.h"
#include "tagserver/PkiStore.h"
#include "tagserver/RsaCrypto.h"
#include "tagserver/UaDecodeError.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaStatusCodes.h"
#include "tagserver/tagserver.h"

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

struct Issued {
  std::shared_ptr<EVP_PKEY> key;
  Certificate cert;
};

// A certificate signed by issuer (itself when null) with the digest; its
// subjectAltName carries uri when there is one.
Issued Make(const char* name, const Issued* issuer, bool ca, const char* uri,
            const EVP_MD* digest = EVP_sha256(), std::shared_ptr<EVP_PKEY> key = nullptr) {
  if (!key) key.reset(EVP_RSA_gen(2048), EVP_PKEY_free);
  CertPtr x(X509_new());
  X509_set_version(x.get(), 2);
  static long serial = 1;
  ASN1_INTEGER_set(X509_get_serialNumber(x.get()), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(x.get()), -86400L);
  X509_gmtime_adj(X509_getm_notAfter(x.get()), 86400L);
  X509_set_pubkey(x.get(), key.get());
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x.get()), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer->cert.Get() : x.get();
  X509_set_issuer_name(x.get(), X509_get_subject_name(signer));
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, signer, x.get(), nullptr, nullptr, 0);
  std::vector<std::pair<int, std::string>> exts = {
      {NID_basic_constraints, ca ? "critical,CA:TRUE" : "critical,CA:FALSE"}};
  if (uri != nullptr) exts.push_back({NID_subject_alt_name, std::string("URI:") + uri});
  for (const auto& [nid, value] : exts) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    X509_add_ext(x.get(), ext, -1);
    X509_EXTENSION_free(ext);
  }
  X509_sign(x.get(), issuer != nullptr ? issuer->key.get() : key.get(), digest);
  return {key, Certificate(std::move(x))};
}

// A CRL of the issuer listing the certificate, signed by signer.
void WriteCrl(const std::string& path, const Issued& issuer, const Certificate& listed,
              EVP_PKEY* signer, long nextUpdateSeconds) {
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer.cert.Get()));
  ASN1_TIME* last = X509_gmtime_adj(nullptr, -3600);
  ASN1_TIME* next = X509_gmtime_adj(nullptr, nextUpdateSeconds);
  X509_CRL_set1_lastUpdate(crl, last);
  X509_CRL_set1_nextUpdate(crl, next);
  if (!listed.Empty()) {
    X509_REVOKED* entry = X509_REVOKED_new();
    X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(listed.Get()));
    X509_REVOKED_set_revocationDate(entry, last);
    X509_CRL_add0_revoked(crl, entry);
  }
  ASN1_TIME_free(last);
  ASN1_TIME_free(next);
  X509_CRL_sign(crl, signer, EVP_sha256());
  FILE* file = std::fopen(path.c_str(), "wb");
  i2d_X509_CRL_fp(file, crl);
  std::fclose(file);
  X509_CRL_free(crl);
}

void WriteDer(const std::string& path, const Certificate& c) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(c.Der().data()),
             static_cast<std::streamsize>(c.Der().size()));
}

// An OpenSecureChannel chunk for Basic256Sha256 SignAndEncrypt as a client
// writes it: signed with signer, encrypted to the server's key.
ByteString ClientOpen(const PkiStore& server, const ByteString& sent, EVP_PKEY* signer,
                      uint32_t requestType, uint32_t channelId, uint32_t sequence) {
  const SecurityPolicy& policy = SecurityPolicy::Get(SecurityPolicyId::Basic256Sha256);
  test::WireWriter w;
  w.raw("OPNF");
  w.uint32(0);
  w.uint32(channelId);
  w.string(policy.uri);
  w.byteString(sent);
  w.byteString(server.Own().Thumbprint());
  const size_t bodyFrom = w.size();
  w.uint32(sequence);
  w.uint32(sequence);
  w.nodeId(UaNodeId::Num(0, UaId::OpenSecureChannelRequest_Encoding_DefaultBinary));
  w.nodeId({});
  w.dateTime(0);
  w.uint32(1);
  w.uint32(0);
  w.nullString();
  w.uint32(0);
  w.extensionObject({});
  w.uint32(0);
  w.uint32(requestType);
  w.uint32(static_cast<uint32_t>(SecurityMode::SignAndEncrypt));
  w.byteString(ByteString(32, 0x33));
  w.uint32(600000);
  EVP_PKEY* serverKey = server.Own().PublicKey();
  const size_t block = RsaCrypto::PlainBlockSize(serverKey, policy.encryption);
  const size_t signatureSize = RsaCrypto::KeyBytes(signer);
  const size_t unpadded = w.size() - bodyFrom + 1 + signatureSize;
  const size_t padding = (block - unpadded % block) % block;
  for (size_t i = 0; i <= padding; ++i) w.byte(static_cast<uint8_t>(padding));
  w.patchUInt32(4, static_cast<uint32_t>(bodyFrom + (unpadded + padding) / block *
                                                        RsaCrypto::KeyBytes(serverKey)));
  ByteString b = w.bytes();
  ByteString signature = RsaCrypto::Sign(signer, policy.signature, b.data(), b.size());
  b.insert(b.end(), signature.begin(), signature.end());
  ByteString encrypted =
      RsaCrypto::Encrypt(serverKey, policy.encryption, b.data() + bodyFrom, b.size() - bodyFrom);
  b.resize(bodyFrom);
  b.insert(b.end(), encrypted.begin(), encrypted.end());
  return b;
}

// Good when the server answered with OPN, else the status of its ERR; the
// channel id of the OPN.
uint32_t Answer(test::TestClient& c, uint32_t& channelId) {
  std::vector<uint8_t> b;
  b.swap(c.received);
  if (b.size() < 12) return UaStatus::BadInternalError;
  const uint32_t at8 = b[8] | b[9] << 8 | b[10] << 16 | static_cast<uint32_t>(b[11]) << 24;
  if (std::string(b.begin(), b.begin() + 4) != "OPNF") return at8;
  channelId = at8;
  return UaStatus::Good;
}

std::vector<std::string> g_lines;
void OnLog(int, const char* text) { g_lines.emplace_back(text); }

size_t FilesIn(const std::string& folder) {
  return static_cast<size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

}  // namespace

TEST_F(ChannelSecurityTest, HostileAndChainedOpenSecureChannelRequests) {
  const std::string pki = m_root + "/server/";
  auto store = std::make_shared<PkiStore>(pki);
  std::string error;
  ASSERT_TRUE(store->LoadOrCreateOwn("urn:server", error)) << error;
  test::TestServer s;
  EndpointSecurity settings;
  settings.offerSecure = true;
  s.server->SetSecurity(settings, store, nullptr);

  const Issued ca = Make("ca", nullptr, true, nullptr);
  const Issued caWithCrl = Make("ca with crl", nullptr, true, nullptr);
  WriteDer(pki + "trusted/certs/ca.der", ca.cert);
  WriteDer(pki + "trusted/certs/ca-crl.der", caWithCrl.cert);
  const Issued intermediate = Make("intermediate", &ca, true, nullptr);
  const Issued stored = Make("intermediate stored", &ca, true, nullptr);
  WriteDer(pki + "issuers/certs/stored.der", stored.cert);
  const Issued byCrlCa = Make("by crl ca", &caWithCrl, false, "urn:c");
  const Issued other = Make("other key", nullptr, false, "urn:o");
  const Issued stranger = Make("stranger", nullptr, false, "urn:s");
  const Issued viaSent = Make("via sent chain", &intermediate, false, "urn:v");
  const Issued viaStored = Make("via stored chain", &stored, false, "urn:w");
  const Issued sha1 = Make("sha1", nullptr, false, "urn:1", EVP_sha1());
  const Issued noUri = Make("no uri", nullptr, false, nullptr);
  const Issued junk = Make("junk behind", nullptr, false, "urn:j");
  for (const Issued* trusted : {&sha1, &noUri, &junk})
    WriteDer(pki + "trusted/certs/" + trusted->cert.ThumbprintHex() + ".der", trusted->cert);
  const auto crl = [&](const char* file, EVP_PKEY* signer, long nextUpdate) {
    return [=, &pki, &caWithCrl, &byCrlCa] {
      WriteCrl(pki + file, caWithCrl, byCrlCa.cert, signer, nextUpdate);
    };
  };
  struct Case {
    const char* what;
    Issued client;
    ByteString sent;  // behind the client's certificate
    std::function<void()> setup;
    uint32_t status;
    size_t rejected = 0;
    bool renew = false;
  };
  const auto forged = [&] {
    crl("trusted/crl/forged.crl", other.key.get(), 86400)();
    WriteCrl(pki + "trusted/crl/real.crl", caWithCrl, {}, caWithCrl.key.get(), 86400);
  };
  const auto expired = crl("trusted/crl/old.crl", caWithCrl.key.get(), -60);
  const auto valid = crl("issuers/crl/ca.crl", caWithCrl.key.get(), 86400);
  namespace S = UaStatus;
  const Case cases[] = {
      {"signed by another key", {other.key, stranger.cert}, {}, {}, S::BadSecurityChecksFailed},
      {"untrusted", stranger, {}, {}, S::BadCertificateUntrusted, 1},
      {"chain to a trusted CA, renewed", viaSent, intermediate.cert.Der(), {}, S::Good, 0, true},
      {"chain the server has, renewed", viaStored, stored.cert.Der(), {}, S::Good, 0, true},
      {"listed by a forged CRL", byCrlCa, {}, forged, S::Good},
      {"listed by an expired CRL", byCrlCa, {}, expired, S::BadCertificateRevocationUnknown},
      {"listed by a valid CRL", byCrlCa, {}, valid, S::BadCertificateRevoked},
      {"signed with SHA-1", sha1, {}, {}, S::BadCertificatePolicyCheckFailed},
      {"bytes behind the certificate", junk, {0x30, 0x03, 0x02}, {}, S::BadCertificateInvalid},
      {"no URI", noUri, {}, {}, S::BadCertificateUriInvalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* folder : {"rejected", "trusted/crl", "issuers/crl"})
      for (const auto& f : fs::directory_iterator(pki + folder)) fs::remove(f.path());
    if (c.setup) c.setup();
    ByteString sent = c.client.cert.Der();
    sent.insert(sent.end(), c.sent.begin(), c.sent.end());
    test::TestClient client(*s.server);
    client.Hello();
    client.received.clear();
    client.Raw(ClientOpen(*store, sent, c.client.key.get(), 0, 0, 1));
    uint32_t channelId = 0;
    EXPECT_EQ(Answer(client, channelId), c.status);
    EXPECT_EQ(FilesIn(pki + "rejected"), c.rejected);
    if (c.renew) {
      client.Raw(ClientOpen(*store, sent, c.client.key.get(), 1, channelId, 2));
      EXPECT_EQ(Answer(client, channelId), UaStatus::Good) << "renewal";
    }
  }

  // A flood of certificates that pass every check but trust: rejected/
  // keeps the newest, and the log tells of the flood in one line.
  EnableOPCLogCallback(&OnLog);
  const size_t flood = PkiStore::kMaxRejectedFiles + 6;
  for (size_t i = 0; i < flood; ++i) {
    Issued fresh = Make("flood", nullptr, false, "urn:f", EVP_sha256(), other.key);
    test::TestClient client(*s.server);
    client.Hello();
    client.Raw(ClientOpen(*store, fresh.cert.Der(), other.key.get(), 0, 0, 1));
  }
  EnableOPCLogCallback(nullptr);
  EXPECT_EQ(FilesIn(pki + "rejected"), PkiStore::kMaxRejectedFiles);
  EXPECT_LE(g_lines.size(), 1u);
}
