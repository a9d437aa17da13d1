// OpenSSL objects owned the C++ way: each pointer frees its object with the
// library's own function.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace tagserver {

template <auto Free>
struct OpenSslDeleter {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};

using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY_free>>;
using KeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslDeleter<EVP_PKEY_CTX_free>>;
using CertPtr = std::unique_ptr<X509, OpenSslDeleter<X509_free>>;
using DigestContextPtr = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX_free>>;
using CipherContextPtr = std::unique_ptr<EVP_CIPHER_CTX, OpenSslDeleter<EVP_CIPHER_CTX_free>>;

}  // namespace tagserver
