// An X.509 certificate as it travels (DER), with what the server asks of it.
#pragma once

#include <openssl/x509.h>

#include <string>

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
  std::string SubjectName() const;

 private:
  std::shared_ptr<X509> m_cert;
  ByteString m_der;
};

}  // namespace tagserver
