#include "tagserver/Certificate.h"

#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace tagserver {

Certificate::Certificate(CertPtr cert) : m_cert(cert.release(), X509_free) {
  int length = i2d_X509(m_cert.get(), nullptr);
  if (length <= 0) {
    m_cert.reset();
    return;
  }
  m_der.resize(static_cast<size_t>(length));
  uint8_t* p = m_der.data();
  i2d_X509(m_cert.get(), &p);
}

Certificate Certificate::FromDer(const uint8_t* data, size_t size) {
  const uint8_t* p = data;
  CertPtr cert(d2i_X509(nullptr, &p, static_cast<long>(size)));
  return cert ? Certificate(std::move(cert)) : Certificate();
}

std::vector<Certificate> Certificate::ChainFromDer(const ByteString& der) {
  std::vector<Certificate> chain;
  const uint8_t* p = der.data();
  const uint8_t* const end = der.data() + der.size();
  while (p < end) {
    CertPtr cert(d2i_X509(nullptr, &p, static_cast<long>(end - p)));
    if (!cert) return {};
    Certificate next(std::move(cert));
    if (next.Empty()) return {};
    chain.push_back(std::move(next));
  }
  return chain;
}

Certificate Certificate::FromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  ByteString bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Certificate der = FromDer(bytes);
  if (!der.Empty()) return der;
  BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
  CertPtr cert(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  return cert ? Certificate(std::move(cert)) : Certificate();
}

ByteString Certificate::Thumbprint() const {
  ByteString out(SHA_DIGEST_LENGTH);
  SHA1(m_der.data(), m_der.size(), out.data());
  return out;
}

std::string Certificate::ThumbprintHex() const {
  std::string text;
  char two[3];
  for (uint8_t b : Thumbprint()) {
    std::snprintf(two, sizeof two, "%02X", b);
    text += two;
  }
  return text;
}

std::string Certificate::ApplicationUri() const {
  std::string uri;
  auto* names = static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(m_cert.get(), NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names) && uri.empty(); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
    if (name->type != GEN_URI) continue;
    const ASN1_IA5STRING* text = name->d.uniformResourceIdentifier;
    uri.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
               static_cast<size_t>(ASN1_STRING_length(text)));
  }
  GENERAL_NAMES_free(names);
  return uri;
}

bool Certificate::SignedWithSha2() const {
  int digest = NID_undef;
  if (X509_get_signature_info(m_cert.get(), &digest, nullptr, nullptr, nullptr) != 1) return false;
  return digest == NID_sha256 || digest == NID_sha384 || digest == NID_sha512;
}

std::string Certificate::SubjectName() const {
  char text[256] = {};
  X509_NAME_oneline(X509_get_subject_name(m_cert.get()), text, sizeof text - 1);
  return text;
}

}  // namespace tagserver
