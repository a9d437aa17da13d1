// RSA as the security policies use it: OAEP encryption in blocks of the key's
// size, and PKCS#1 v1.5 or PSS signatures over SHA-256. A failure raises
// UaDecodeError with BadSecurityChecksFailed, as the peer's bytes caused it.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>

#include "tagserver/SecurityPolicy.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

class RsaCrypto {
 public:
  static size_t KeyBytes(EVP_PKEY* key);
  // Plain text bytes that encrypt into one block of the key's size.
  static size_t PlainBlockSize(EVP_PKEY* key, RsaEncryption padding);
  // Encrypts every block of the text; its size need not be a block multiple.
  static ByteString Encrypt(EVP_PKEY* publicKey, RsaEncryption padding, const uint8_t* data,
                            size_t size);
  // The size must be a multiple of the key's size.
  static ByteString Decrypt(EVP_PKEY* privateKey, RsaEncryption padding, const uint8_t* data,
                            size_t size);
  static ByteString Sign(EVP_PKEY* privateKey, RsaSignature scheme, const uint8_t* data,
                         size_t size);
  static bool Verify(EVP_PKEY* publicKey, RsaSignature scheme, const uint8_t* data, size_t size,
                     const uint8_t* signature, size_t signatureSize);
};

}  // namespace tagserver
