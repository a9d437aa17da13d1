// The certificate folders: the server's own certificate, and which client
// certificates pass, against certificates made here for each case.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "opcua/UaStatusCodes.h"
#include "tagserver/PkiStore.h"
#include "tagserver/RsaCrypto.h"

namespace fs = std::filesystem;
using namespace tagserver;

namespace {

constexpr const char* kUri = "urn:pelmoran:Korvane.Modbus_OPC_Server";

struct Issued {
  KeyPtr key;
  CertPtr cert;
};

// A certificate for name, valid from daysFrom to daysTo around now, signed
// by the issuer (itself when there is none).
Issued Make(const char* name, int daysFrom, int daysTo, const Issued* issuer, bool ca = false) {
  Issued out{KeyPtr(EVP_RSA_gen(2048)), CertPtr(X509_new())};
  X509* x = out.cert.get();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), std::hash<std::string>{}(name)&0x7FFFFFFF);
  X509_gmtime_adj(X509_getm_notBefore(x), daysFrom * 86400L);
  X509_gmtime_adj(X509_getm_notAfter(x), daysTo * 86400L);
  X509_set_pubkey(x, out.key.get());
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer->cert.get() : x;
  X509_set_issuer_name(x, X509_get_subject_name(signer));
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, signer, x, nullptr, nullptr, 0);
  const char* constraints = ca ? "critical,CA:TRUE" : "critical,CA:FALSE";
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_basic_constraints, constraints);
  X509_add_ext(x, ext, -1);
  X509_EXTENSION_free(ext);
  X509_sign(x, issuer != nullptr ? issuer->key.get() : out.key.get(), EVP_sha256());
  return out;
}

Certificate Cert(const Issued& i) { return Certificate(CertPtr(X509_dup(i.cert.get()))); }

void WriteDer(const std::string& path, const Certificate& c) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(c.Der().data()),
             static_cast<std::streamsize>(c.Der().size()));
}

class PkiStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/pelmoran-pki-test-XXXXXX";
    m_root = mkdtemp(folder);
    m_pki = PkiStore(m_root + "/pki");
    std::string error;
    ASSERT_TRUE(m_pki.LoadOrCreateOwn(kUri, error)) << error;
  }
  void TearDown() override { fs::remove_all(m_root); }
  std::string Path(const std::string& rest) const { return m_root + "/pki/" + rest; }

  std::string m_root;
  PkiStore m_pki{""};
};

}  // namespace

TEST_F(PkiStoreTest, OwnCertificateIsMadeOnceKeptPrivateAndRenewedOnRequest) {
  std::string error;
  const Certificate& own = m_pki.Own();
  EXPECT_EQ(own.ApplicationUri(), kUri);
  EXPECT_EQ(RsaCrypto::KeyBytes(m_pki.OwnKey()), 256u);
  EXPECT_EQ(X509_get_signature_nid(own.Get()), NID_sha256WithRSAEncryption);
  struct stat info {};
  ASSERT_EQ(stat(Path("own/private/pelmoran.pem").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  for (const char* folder :
       {"trusted/certs", "trusted/crl", "issuers/certs", "issuers/crl", "rejected"})
    EXPECT_TRUE(fs::is_directory(Path(folder))) << folder;

  const ByteString first = own.Der();
  PkiStore again(m_root + "/pki");
  ASSERT_TRUE(again.LoadOrCreateOwn(kUri, error));
  EXPECT_EQ(again.Own().Der(), first) << "a second start keeps the certificate";
  ASSERT_TRUE(again.Renew(kUri, error));
  EXPECT_NE(again.Own().Der(), first);
  PkiStore renewed(m_root + "/pki");
  ASSERT_TRUE(renewed.LoadOrCreateOwn(kUri, error));
  EXPECT_EQ(renewed.Own().Der(), again.Own().Der());
}

TEST_F(PkiStoreTest, ClientCertificatesPassOnlyWhenTrustedValidAndUnrevoked) {
  std::string error;
  Issued ca = Make("ca", -1, 365, nullptr, true);
  Issued untrustedCa = Make("other ca", -1, 365, nullptr, true);
  WriteDer(Path("trusted/certs/ca.der"), Cert(ca));
  WriteDer(Path("issuers/certs/other.der"), Cert(untrustedCa));

  Issued selfTrusted = Make("self trusted", -1, 365, nullptr);
  WriteDer(Path("trusted/certs/self.der"), Cert(selfTrusted));
  Issued expired = Make("expired", -30, -1, nullptr);
  WriteDer(Path("trusted/certs/expired.der"), Cert(expired));
  Issued revoked = Make("revoked", -1, 365, &ca);
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, X509_get_subject_name(ca.cert.get()));
  ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
  X509_CRL_set1_lastUpdate(crl, now);
  X509_REVOKED* entry = X509_REVOKED_new();
  X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(revoked.cert.get()));
  X509_REVOKED_set_revocationDate(entry, now);
  ASN1_TIME_free(now);
  X509_CRL_add0_revoked(crl, entry);
  X509_CRL_sign(crl, ca.key.get(), EVP_sha256());
  FILE* crlFile = std::fopen(Path("trusted/crl/ca.crl").c_str(), "wb");
  i2d_X509_CRL_fp(crlFile, crl);
  std::fclose(crlFile);
  X509_CRL_free(crl);

  struct Case {
    const char* what;
    Issued issued;
    uint32_t status;
    bool rejected;
  };
  Case cases[] = {
      {"trusted itself", std::move(selfTrusted), UaStatus::Good, false},
      {"signed by a trusted CA", Make("by ca", -1, 365, &ca), UaStatus::Good, false},
      {"unknown", Make("stranger", -1, 365, nullptr), UaStatus::BadCertificateUntrusted, true},
      {"signed by an issuer that is not trusted", Make("by other", -1, 365, &untrustedCa),
       UaStatus::BadCertificateUntrusted, true},
      {"trusted but expired", std::move(expired), UaStatus::BadCertificateTimeInvalid, false},
      {"signed by a trusted CA and revoked", std::move(revoked), UaStatus::BadCertificateRevoked,
       false},
  };
  for (const Case& c : cases) {
    Certificate cert = Cert(c.issued);
    EXPECT_EQ(m_pki.Check(cert), c.status) << c.what;
    EXPECT_EQ(fs::exists(Path("rejected/" + cert.ThumbprintHex() + ".der")), c.rejected) << c.what;
  }

  // Trusting a rejected certificate lets it in and takes it out of rejected/.
  const std::string rejected = Path("rejected/" + Cert(cases[2].issued).ThumbprintHex() + ".der");
  ASSERT_TRUE(m_pki.Trust(rejected, error)) << error;
  EXPECT_FALSE(fs::exists(rejected));
  EXPECT_EQ(m_pki.Check(Cert(cases[2].issued)), UaStatus::Good);
  EXPECT_FALSE(m_pki.Trust(Path("own/private/pelmoran.pem"), error)) << "a key is no certificate";
  EXPECT_EQ(m_pki.Check(Certificate()), UaStatus::BadCertificateInvalid);
}
