#include "tagserver/RsaCrypto.h"

#include <openssl/rsa.h>

#include <algorithm>

#include "opcua/UaStatusCodes.h"
#include "tagserver/OpenSslPtr.h"
#include "tagserver/UaDecodeError.h"

namespace tagserver {

namespace {

[[noreturn]] void Fail(const char* what) {
  throw UaDecodeError(UaStatus::BadSecurityChecksFailed, what);
}

KeyContextPtr Context(EVP_PKEY* key) {
  KeyContextPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!ctx) Fail("no key context");
  return ctx;
}

void SetOaep(EVP_PKEY_CTX* ctx, RsaEncryption padding) {
  const EVP_MD* md = padding == RsaEncryption::OaepSha256 ? EVP_sha256() : EVP_sha1();
  if (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) <= 0 ||
      EVP_PKEY_CTX_set_rsa_oaep_md(ctx, md) <= 0 || EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, md) <= 0)
    Fail("OAEP not available");
}

void SetSignaturePadding(EVP_PKEY_CTX* ctx, RsaSignature scheme) {
  if (scheme == RsaSignature::Pkcs1Sha256) {
    if (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) <= 0) Fail("PKCS#1 not available");
    return;
  }
  if (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING) <= 0 ||
      EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, RSA_PSS_SALTLEN_DIGEST) <= 0 ||
      EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, EVP_sha256()) <= 0)
    Fail("PSS not available");
}

}  // namespace

size_t RsaCrypto::KeyBytes(EVP_PKEY* key) {
  int size = key != nullptr ? EVP_PKEY_get_size(key) : 0;
  return size > 0 ? static_cast<size_t>(size) : 0;
}

size_t RsaCrypto::PlainBlockSize(EVP_PKEY* key, RsaEncryption padding) {
  // OAEP takes two hashes and two bytes of every block.
  const size_t overhead = padding == RsaEncryption::OaepSha256 ? 66 : 42;
  const size_t keyBytes = KeyBytes(key);
  return keyBytes > overhead ? keyBytes - overhead : 0;
}

ByteString RsaCrypto::Encrypt(EVP_PKEY* publicKey, RsaEncryption padding, const uint8_t* data,
                              size_t size) {
  const size_t keyBytes = KeyBytes(publicKey);
  const size_t block = PlainBlockSize(publicKey, padding);
  if (block == 0) Fail("key too small");
  KeyContextPtr ctx = Context(publicKey);
  if (EVP_PKEY_encrypt_init(ctx.get()) <= 0) Fail("cannot encrypt");
  SetOaep(ctx.get(), padding);
  ByteString out;
  out.reserve((size + block - 1) / block * keyBytes);
  for (size_t from = 0; from < size; from += block) {
    size_t n = std::min(block, size - from);
    size_t written = keyBytes;
    out.resize(out.size() + keyBytes);
    if (EVP_PKEY_encrypt(ctx.get(), out.data() + out.size() - keyBytes, &written, data + from, n) <=
            0 ||
        written != keyBytes)
      Fail("encryption failed");
  }
  return out;
}

ByteString RsaCrypto::Decrypt(EVP_PKEY* privateKey, RsaEncryption padding, const uint8_t* data,
                              size_t size) {
  const size_t keyBytes = KeyBytes(privateKey);
  if (keyBytes == 0 || size % keyBytes != 0) Fail("encrypted size is not a multiple of the key");
  KeyContextPtr ctx = Context(privateKey);
  if (EVP_PKEY_decrypt_init(ctx.get()) <= 0) Fail("cannot decrypt");
  SetOaep(ctx.get(), padding);
  ByteString out;
  out.reserve(size);
  ByteString block(keyBytes);
  for (size_t from = 0; from < size; from += keyBytes) {
    size_t written = block.size();
    if (EVP_PKEY_decrypt(ctx.get(), block.data(), &written, data + from, keyBytes) <= 0)
      Fail("decryption failed");
    out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(written));
  }
  return out;
}

ByteString RsaCrypto::Sign(EVP_PKEY* privateKey, RsaSignature scheme, const uint8_t* data,
                           size_t size) {
  DigestContextPtr md(EVP_MD_CTX_new());
  EVP_PKEY_CTX* ctx = nullptr;
  if (!md || EVP_DigestSignInit(md.get(), &ctx, EVP_sha256(), nullptr, privateKey) <= 0)
    Fail("cannot sign");
  SetSignaturePadding(ctx, scheme);
  size_t length = 0;
  if (EVP_DigestSign(md.get(), nullptr, &length, data, size) <= 0) Fail("cannot sign");
  ByteString out(length);
  if (EVP_DigestSign(md.get(), out.data(), &length, data, size) <= 0) Fail("signing failed");
  out.resize(length);
  return out;
}

bool RsaCrypto::Verify(EVP_PKEY* publicKey, RsaSignature scheme, const uint8_t* data, size_t size,
                       const uint8_t* signature, size_t signatureSize) {
  DigestContextPtr md(EVP_MD_CTX_new());
  EVP_PKEY_CTX* ctx = nullptr;
  if (!md || EVP_DigestVerifyInit(md.get(), &ctx, EVP_sha256(), nullptr, publicKey) <= 0)
    return false;
  SetSignaturePadding(ctx, scheme);
  return EVP_DigestVerify(md.get(), signature, signatureSize, data, size) == 1;
}

}  // namespace tagserver
