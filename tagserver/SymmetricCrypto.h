// The symmetric half of a secure channel: keys derived from the two nonces
// with P_SHA256, HMAC-SHA256 signatures and AES-CBC without padding of its
// own (the chunk carries its padding).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tagserver/SecurityPolicy.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

struct SymmetricKeys {
  ByteString signing;
  ByteString encrypting;
  ByteString iv;
};

class SymmetricCrypto {
 public:
  static ByteString PSha256(const ByteString& secret, const ByteString& seed, size_t length);
  // The keys one side secures its messages with: the other side's nonce is
  // the secret, its own the seed.
  static SymmetricKeys Derive(const SecurityPolicy& policy, const ByteString& secret,
                              const ByteString& seed);
  static ByteString Hmac(const ByteString& key, const uint8_t* data, size_t size);
  // In place; size must be a multiple of the block size.
  static void Encrypt(const SymmetricKeys& keys, uint8_t* data, size_t size);
  static void Decrypt(const SymmetricKeys& keys, uint8_t* data, size_t size);
  static ByteString RandomBytes(size_t n);
};

}  // namespace tagserver
