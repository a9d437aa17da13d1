// An X.509 certificate as it travels (DER), with what the server asks of it.
#pragma once

#include <openssl/x509.h>

#include <string>
#include <vector>

#include "tagserver/OpenSslPtr.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

class Certificate {
 public:
  Certificate() = default;
  // The first certificate of the bytes (a sender may append its chain);
  // empty when they hold none.
  static Certificate FromDer(const uint8_t* data, size_t size);
  static Certificate FromDer(const ByteString& der) { return FromDer(der.data(), der.size()); }
  // The leaf and the chain a sender appended after it; empty unless the
  // bytes are exactly a sequence of whole DER certificates.
  static std::vector<Certificate> ChainFromDer(const ByteString& der);
  // A DER or PEM file; empty when it holds no certificate.
  static Certificate FromFile(const std::string& path);
  explicit Certificate(CertPtr cert);

  bool Empty() const { return !m_cert; }
  X509* Get() const { return m_cert.get(); }
  const ByteString& Der() const { return m_der; }
  ByteString Thumbprint() const;
  std::string ThumbprintHex() const;
  EVP_PKEY* PublicKey() const { return X509_get0_pubkey(m_cert.get()); }
  // The URI in subjectAltName, empty when there is none.
  std::string ApplicationUri() const;
  // Whether the issuer signed it with SHA-256 or a longer SHA-2 digest.
  bool SignedWithSha2() const;
  std::string SubjectName() const;

 private:
  std::shared_ptr<X509> m_cert;
  ByteString m_der;
};

}  // namespace tagserver
