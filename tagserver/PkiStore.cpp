#include "tagserver/PkiStore.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "opcua/UaStatusCodes.h"
#include "tagserver/ServerLog.h"

namespace fs = std::filesystem;

namespace tagserver {

namespace {

constexpr const char* kFolders[] = {"own/certs",     "own/private", "trusted/certs", "trusted/crl",
                                    "issuers/certs", "issuers/crl", "rejected"};
constexpr long kValidSeconds = 5L * 365 * 24 * 3600;
constexpr int kKeyBits = 2048;

using StorePtr = std::unique_ptr<X509_STORE, OpenSslDeleter<X509_STORE_free>>;
using StoreContextPtr = std::unique_ptr<X509_STORE_CTX, OpenSslDeleter<X509_STORE_CTX_free>>;
using CrlPtr = std::unique_ptr<X509_CRL, OpenSslDeleter<X509_CRL_free>>;

std::string HostName() {
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 && name[0] != '\0' ? name : "localhost";
}

// The names clients may reach this host by: its name, localhost and the
// address of every interface.
std::string SubjectAltNames(const std::string& applicationUri) {
  std::set<std::string> names = {"DNS:" + HostName(), "DNS:localhost", "IP:127.0.0.1"};
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
      if (a->ifa_addr == nullptr) continue;
      char text[INET6_ADDRSTRLEN] = {};
      int family = a->ifa_addr->sa_family;
      const void* raw = nullptr;
      if (family == AF_INET) raw = &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr;
      if (family == AF_INET6) {
        const auto* v6 = reinterpret_cast<sockaddr_in6*>(a->ifa_addr);
        if (IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr)) continue;
        raw = &v6->sin6_addr;
      }
      if (raw != nullptr && inet_ntop(family, raw, text, sizeof text) != nullptr)
        names.insert(std::string("IP:") + text);
    }
    freeifaddrs(list);
  }
  std::string text = "URI:" + applicationUri;
  for (const std::string& n : names) text += "," + n;
  return text;
}

bool AddExtension(X509* cert, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  if (ext == nullptr) return false;
  bool added = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return added;
}

bool RandomSerial(X509* cert) {
  BIGNUM* bn = BN_new();
  bool ok = bn != nullptr && BN_rand(bn, 64, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) == 1 &&
            BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert)) != nullptr;
  BN_free(bn);
  return ok;
}

CertPtr MakeCertificate(EVP_PKEY* key, const std::string& applicationUri) {
  CertPtr cert(X509_new());
  if (!cert || X509_set_version(cert.get(), 2) != 1 || !RandomSerial(cert.get())) return nullptr;
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValidSeconds);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  const std::string common = "pelmoran@" + HostName();
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(common.c_str()), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>("Korvane Software"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  bool ok = AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") &&
            AddExtension(cert.get(), NID_key_usage,
                         "critical,digitalSignature,nonRepudiation,keyEncipherment,"
                         "dataEncipherment,keyCertSign") &&
            AddExtension(cert.get(), NID_ext_key_usage, "serverAuth,clientAuth") &&
            AddExtension(cert.get(), NID_subject_key_identifier, "hash") &&
            AddExtension(cert.get(), NID_authority_key_identifier, "keyid:always") &&
            AddExtension(cert.get(), NID_subject_alt_name, SubjectAltNames(applicationUri));
  if (!ok || X509_sign(cert.get(), key, EVP_sha256()) <= 0) return nullptr;
  return cert;
}

// Written beside the old file and renamed over it, so that a failure never
// leaves half a key.
bool WriteKey(const std::string& path, EVP_PKEY* key) {
  const std::string temp = path + ".new";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  FILE* file = fdopen(fd, "w");
  if (file == nullptr) {
    ::close(fd);
    return false;
  }
  bool ok = PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  ok = std::fclose(file) == 0 && ok;
  return ok && std::rename(temp.c_str(), path.c_str()) == 0;
}

bool WriteFile(const std::string& path, const ByteString& bytes) {
  const std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

std::vector<Certificate> CertificatesIn(const std::string& folder) {
  std::vector<Certificate> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file()) continue;
    Certificate cert = Certificate::FromFile(entry.path().string());
    if (!cert.Empty()) out.push_back(std::move(cert));
  }
  return out;
}

struct CrlFile {
  std::string path;
  CrlPtr crl;
};

void AddCrlsIn(const std::string& folder, std::vector<CrlFile>& out) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    FILE* file = std::fopen(entry.path().c_str(), "rb");
    if (file == nullptr) continue;
    CrlPtr crl(d2i_X509_CRL_fp(file, nullptr));
    if (!crl) {
      std::rewind(file);
      crl.reset(PEM_read_X509_CRL(file, nullptr, nullptr, nullptr));
    }
    std::fclose(file);
    if (crl) out.push_back({entry.path().string(), std::move(crl)});
  }
}

// Why the CRL cannot be believed; empty when it can.
std::string CrlFault(X509_CRL* crl, EVP_PKEY* issuerKey) {
  if (X509_CRL_verify(crl, issuerKey) != 1) return "its signature does not match its issuer's key";
  if (X509_cmp_current_time(X509_CRL_get0_lastUpdate(crl)) != -1) return "it is not valid yet";
  const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl);
  if (next != nullptr && X509_cmp_current_time(next) != 1) return "its next update is past";
  return {};
}

// The certificate that signed path[i]: the next one, or itself at the end of
// a path that ends in a self-signed certificate.
const Certificate* IssuerIn(const std::vector<Certificate>& path, size_t i) {
  if (i + 1 < path.size()) return &path[i + 1];
  return X509_check_issued(path[i].Get(), path[i].Get()) == X509_V_OK ? &path[i] : nullptr;
}

uint32_t StatusOfVerifyError(int error) {
  switch (error) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED: return UaStatus::BadCertificateTimeInvalid;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG: return UaStatus::BadCertificateInvalid;
    default: return UaStatus::BadCertificateUntrusted;
  }
}

}  // namespace

PkiStore::PkiStore(std::string root) : m_strRoot(std::move(root)) {
  if (m_strRoot.empty() || m_strRoot.back() != '/') m_strRoot += '/';
}

std::string PkiStore::OwnCertPath() const { return Folder("own/certs/pelmoran.der"); }
std::string PkiStore::OwnKeyPath() const { return Folder("own/private/pelmoran.pem"); }

bool PkiStore::Prepare(std::string& error) const {
  for (const char* folder : kFolders) {
    std::error_code ec;
    fs::create_directories(Folder(folder), ec);
    if (ec) {
      error = "cannot create " + Folder(folder) + ": " + ec.message();
      return false;
    }
  }
  ::chmod(Folder("own/private").c_str(), 0700);
  return true;
}

bool PkiStore::LoadOwn() {
  m_own = Certificate::FromFile(OwnCertPath());
  FILE* file = std::fopen(OwnKeyPath().c_str(), "r");
  m_key.reset(file != nullptr ? PEM_read_PrivateKey(file, nullptr, nullptr, nullptr) : nullptr);
  if (file != nullptr) std::fclose(file);
  return !m_own.Empty() && m_key && X509_check_private_key(m_own.Get(), m_key.get()) == 1;
}

bool PkiStore::LoadOrCreateOwn(const std::string& applicationUri, std::string& error) {
  if (!Prepare(error)) return false;
  return LoadOwn() || Create(applicationUri, error);
}

bool PkiStore::Renew(const std::string& applicationUri, std::string& error) {
  return Prepare(error) && Create(applicationUri, error);
}

bool PkiStore::Create(const std::string& applicationUri, std::string& error) {
  KeyPtr key(EVP_RSA_gen(kKeyBits));
  CertPtr cert = key ? MakeCertificate(key.get(), applicationUri) : nullptr;
  if (!cert) {
    error = "cannot create the application instance certificate";
    return false;
  }
  Certificate own(std::move(cert));
  if (!WriteKey(OwnKeyPath(), key.get()) || !WriteFile(OwnCertPath(), own.Der())) {
    error = "cannot write " + OwnKeyPath() + " or " + OwnCertPath();
    return false;
  }
  m_own = std::move(own);
  m_key = std::move(key);
  return true;
}

uint32_t PkiStore::Check(const Certificate& peer, const std::vector<Certificate>& sent) const {
  if (peer.Empty() || peer.PublicKey() == nullptr) return UaStatus::BadCertificateInvalid;
  std::vector<Certificate> path;
  uint32_t status = VerifyChain(peer, sent, path);
  if (status == UaStatus::Good) status = RevocationStatus(path);
  if (status == UaStatus::BadCertificateUntrusted) Reject(peer);
  return status;
}

uint32_t PkiStore::VerifyChain(const Certificate& peer, const std::vector<Certificate>& sent,
                               std::vector<Certificate>& path) const {
  StorePtr store(X509_STORE_new());
  StoreContextPtr ctx(X509_STORE_CTX_new());
  if (!store || !ctx) return UaStatus::BadInternalError;
  std::vector<Certificate> trusted = CertificatesIn(Folder("trusted/certs"));
  for (const Certificate& c : trusted) X509_STORE_add_cert(store.get(), c.Get());
  // Issuers, and the chain the client sent, complete a chain but trust
  // nothing by themselves.
  std::vector<Certificate> issuers = CertificatesIn(Folder("issuers/certs"));
  auto* untrusted = sk_X509_new_null();
  for (const Certificate& c : issuers) sk_X509_push(untrusted, c.Get());
  for (const Certificate& c : sent) sk_X509_push(untrusted, c.Get());
  X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
  bool initialised = X509_STORE_CTX_init(ctx.get(), store.get(), peer.Get(), untrusted) == 1;
  int verified = initialised ? X509_verify_cert(ctx.get()) : 0;
  int error = X509_STORE_CTX_get_error(ctx.get());
  STACK_OF(X509)* built = verified == 1 ? X509_STORE_CTX_get0_chain(ctx.get()) : nullptr;
  for (int i = 0; built != nullptr && i < sk_X509_num(built); ++i) {
    X509* c = sk_X509_value(built, i);
    X509_up_ref(c);
    path.emplace_back(CertPtr(c));
  }
  sk_X509_free(untrusted);
  if (!initialised) return UaStatus::BadInternalError;
  if (verified != 1) return StatusOfVerifyError(error);
  // A trust anchor is taken as it is; one that signed itself must still
  // carry a signature that matches.
  if (X509_check_issued(peer.Get(), peer.Get()) == X509_V_OK &&
      X509_verify(peer.Get(), peer.PublicKey()) != 1)
    return UaStatus::BadCertificateInvalid;
  return UaStatus::Good;
}

// Each certificate of the path against its issuer's CRLs. A CRL that does
// not verify with the issuer's key, or is out of date, is ignored; an issuer
// whose every CRL is ignored leaves revocation unknown, which refuses. An
// issuer without any CRL here publishes none and refuses nothing.
uint32_t PkiStore::RevocationStatus(const std::vector<Certificate>& path) const {
  std::vector<CrlFile> crls;
  AddCrlsIn(Folder("trusted/crl"), crls);
  AddCrlsIn(Folder("issuers/crl"), crls);
  for (size_t i = 0; i < path.size(); ++i) {
    const Certificate* issuer = IssuerIn(path, i);
    if (issuer == nullptr) continue;
    bool found = false;
    bool believed = false;
    for (const CrlFile& f : crls) {
      if (X509_NAME_cmp(X509_CRL_get_issuer(f.crl.get()), X509_get_subject_name(issuer->Get())) !=
          0)
        continue;
      found = true;
      const std::string fault = CrlFault(f.crl.get(), issuer->PublicKey());
      if (!fault.empty()) {
        ServerLog::writeLimited(OPC_LOG_WARNING, f.path + fault, "",
                                "CRL " + f.path + " ignored: " + fault);
        continue;
      }
      believed = true;
      X509_REVOKED* entry = nullptr;
      if (X509_CRL_get0_by_cert(f.crl.get(), &entry, path[i].Get()) == 1)
        return i == 0 ? UaStatus::BadCertificateRevoked : UaStatus::BadCertificateIssuerRevoked;
    }
    if (found && !believed)
      return i == 0 ? UaStatus::BadCertificateRevocationUnknown
                    : UaStatus::BadCertificateIssuerRevocationUnknown;
  }
  return UaStatus::Good;
}

void PkiStore::Reject(const Certificate& peer) const {
  const std::string path = Folder("rejected/") + peer.ThumbprintHex() + ".der";
  if (WriteFile(path, peer.Der())) TrimRejected(path);
}

void PkiStore::TrimRejected(const std::string& kept) const {
  struct Entry {
    fs::file_time_type time;
    uintmax_t size;
    fs::path path;
  };
  std::vector<Entry> others;
  uintmax_t bytes = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(Folder("rejected"), ec)) {
    std::error_code statError;
    if (!entry.is_regular_file(statError)) continue;
    const uintmax_t size = entry.file_size(statError);
    bytes += size;
    if (entry.path() != kept)
      others.push_back({entry.last_write_time(statError), size, entry.path()});
  }
  std::sort(others.begin(), others.end(),
            [](const Entry& a, const Entry& b) { return a.time < b.time; });
  size_t count = others.size() + 1;
  for (const Entry& e : others) {
    if (count <= kMaxRejectedFiles && bytes <= kMaxRejectedBytes) break;
    if (fs::remove(e.path, ec)) {
      --count;
      bytes -= e.size;
    }
  }
}

bool PkiStore::Trust(const std::string& file, std::string& error) const {
  Certificate cert = Certificate::FromFile(file);
  if (cert.Empty()) {
    error = file + " holds no certificate";
    return false;
  }
  if (!Prepare(error)) return false;
  const std::string name = cert.ThumbprintHex() + ".der";
  if (!WriteFile(Folder("trusted/certs/") + name, cert.Der())) {
    error = "cannot write " + Folder("trusted/certs/") + name;
    return false;
  }
  std::error_code ec;
  fs::remove(Folder("rejected/") + name, ec);
  return true;
}

std::vector<std::string> PkiStore::RejectedFiles() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(Folder("rejected"), ec))
    if (entry.is_regular_file()) out.push_back(entry.path().string());
  return out;
}

}  // namespace tagserver
