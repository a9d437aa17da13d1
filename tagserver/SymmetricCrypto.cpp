#include "tagserver/SymmetricCrypto.h"

#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <stdexcept>

#include "opcua/UaStatusCodes.h"
#include "tagserver/OpenSslPtr.h"
#include "tagserver/UaDecodeError.h"

namespace tagserver {

namespace {

const EVP_CIPHER* Cipher(size_t keyLength) {
  return keyLength == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
}

void Crypt(const SymmetricKeys& keys, uint8_t* data, size_t size, int encrypt) {
  if (size % SecurityPolicy::kBlockSize != 0)
    throw UaDecodeError(UaStatus::BadSecurityChecksFailed, "encrypted size is not whole blocks");
  CipherContextPtr ctx(EVP_CIPHER_CTX_new());
  int written = 0;
  if (!ctx ||
      EVP_CipherInit_ex(ctx.get(), Cipher(keys.encrypting.size()), nullptr, keys.encrypting.data(),
                        keys.iv.data(), encrypt) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_CipherUpdate(ctx.get(), data, &written, data, static_cast<int>(size)) != 1 ||
      static_cast<size_t>(written) != size)
    throw UaDecodeError(UaStatus::BadSecurityChecksFailed, "AES failed");
}

}  // namespace

ByteString SymmetricCrypto::Hmac(const ByteString& key, const uint8_t* data, size_t size) {
  ByteString out(EVP_MAX_MD_SIZE);
  unsigned length = 0;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), data, size, out.data(),
           &length) == nullptr)
    throw std::runtime_error("HMAC failed");
  out.resize(length);
  return out;
}

ByteString SymmetricCrypto::PSha256(const ByteString& secret, const ByteString& seed,
                                    size_t length) {
  ByteString out;
  ByteString a = Hmac(secret, seed.data(), seed.size());
  while (out.size() < length) {
    ByteString input = a;
    input.insert(input.end(), seed.begin(), seed.end());
    ByteString part = Hmac(secret, input.data(), input.size());
    out.insert(out.end(), part.begin(), part.end());
    a = Hmac(secret, a.data(), a.size());
  }
  out.resize(length);
  return out;
}

SymmetricKeys SymmetricCrypto::Derive(const SecurityPolicy& policy, const ByteString& secret,
                                      const ByteString& seed) {
  const size_t sign = policy.signingKeyLength;
  const size_t encrypt = policy.encryptingKeyLength;
  ByteString bytes = PSha256(secret, seed, sign + encrypt + SecurityPolicy::kBlockSize);
  auto at = [&](size_t from, size_t n) {
    return ByteString(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                      bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
  };
  return {at(0, sign), at(sign, encrypt), at(sign + encrypt, SecurityPolicy::kBlockSize)};
}

void SymmetricCrypto::Encrypt(const SymmetricKeys& keys, uint8_t* data, size_t size) {
  Crypt(keys, data, size, 1);
}

void SymmetricCrypto::Decrypt(const SymmetricKeys& keys, uint8_t* data, size_t size) {
  Crypt(keys, data, size, 0);
}

ByteString SymmetricCrypto::RandomBytes(size_t n) {
  ByteString out(n);
  if (RAND_bytes(out.data(), static_cast<int>(n)) != 1) throw std::runtime_error("no random bytes");
  return out;
}

}  // namespace tagserver
