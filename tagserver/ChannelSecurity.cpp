#include "tagserver/ChannelSecurity.h"

#include <openssl/crypto.h>

#include "opcua/UaStatusCodes.h"
#include "tagserver/PkiStore.h"
#include "tagserver/RsaCrypto.h"
#include "tagserver/UaDecodeError.h"

namespace tagserver {

namespace {

constexpr size_t kStandardKeyBytes = 256;

[[noreturn]] void Refuse(uint32_t status, const char* what) { throw UaDecodeError(status, what); }

void PatchSize(std::vector<uint8_t>& buffer, size_t start, size_t size) {
  for (int i = 0; i < 4; ++i) buffer[start + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
}

// The body's end once the padding is taken off: the bytes before the
// signature end with the padding size (and, for keys above 2048 bits, a
// byte of extra size), preceded by that many bytes of the same value.
size_t UnpaddedEnd(const uint8_t* plain, size_t end, bool extraByte) {
  size_t high = 0;
  if (extraByte) {
    if (end < 1) Refuse(UaStatus::BadSecurityChecksFailed, "padding missing");
    high = plain[--end];
  }
  if (end < 1) Refuse(UaStatus::BadSecurityChecksFailed, "padding missing");
  const uint8_t low = plain[end - 1];
  const size_t padding = high * 256 + low;
  if (padding + 1 > end) Refuse(UaStatus::BadSecurityChecksFailed, "padding longer than the chunk");
  for (size_t i = end - 1 - padding; i < end; ++i)
    if (plain[i] != low) Refuse(UaStatus::BadSecurityChecksFailed, "padding malformed");
  return end - 1 - padding;
}

void AppendPadding(std::vector<uint8_t>& buffer, size_t padding, bool extraByte) {
  const auto low = static_cast<uint8_t>(padding & 0xFF);
  buffer.insert(buffer.end(), padding + 1, low);
  if (extraByte) buffer.push_back(static_cast<uint8_t>(padding >> 8));
}

}  // namespace

void ChannelSecurity::Accept(const AsymmetricSecurityHeader& header, const PkiStore* pki,
                             bool renew) {
  const SecurityPolicy* policy = SecurityPolicy::Find(header.securityPolicyUri);
  if (policy == nullptr || (policy->Secure() && pki == nullptr))
    Refuse(UaStatus::BadSecurityPolicyRejected, "security policy not offered");
  m_renewing = renew;
  if (renew) {
    // A client may send its chain behind its certificate; only the
    // certificate itself must stay.
    std::vector<Certificate> sent = Certificate::ChainFromDer(header.senderCertificate);
    const ByteString leaf = sent.empty() ? header.senderCertificate : sent.front().Der();
    if (policy != m_policy || leaf != m_peer.Der())
      Refuse(UaStatus::BadSecurityChecksFailed, "renewal changes the channel's security");
    return;
  }
  m_policy = policy;
  m_pki = pki;
  if (!policy->Secure()) return;
  if (header.receiverCertificateThumbprint != pki->Own().Thumbprint())
    Refuse(UaStatus::BadCertificateInvalid, "encrypted for another certificate");
  std::vector<Certificate> sent = Certificate::ChainFromDer(header.senderCertificate);
  if (sent.empty())
    Refuse(UaStatus::BadCertificateInvalid,
           "sender certificate is not a sequence of whole DER certificates");
  m_peer = sent.front();
  m_chain.assign(sent.begin() + 1, sent.end());
  // A certificate may parse while its key does not.
  EVP_PKEY* key = m_peer.PublicKey();
  const size_t keyBytes = RsaCrypto::KeyBytes(key);
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA || keyBytes < 256 ||
      keyBytes > 512)
    Refuse(UaStatus::BadCertificatePolicyCheckFailed, "client key is not RSA of 2048 to 4096 bits");
  // Every secured policy offered asks for SHA-256 or better.
  if (!m_peer.SignedWithSha2())
    Refuse(UaStatus::BadCertificatePolicyCheckFailed, "client certificate not signed with SHA-2");
  if (m_peer.ApplicationUri().empty())
    Refuse(UaStatus::BadCertificateUriInvalid, "client certificate carries no application URI");
}

void ChannelSecurity::CheckTrust() const {
  const uint32_t status = m_pki->Check(m_peer, m_chain);
  if (status != UaStatus::Good)
    Refuse(status, status == UaStatus::BadCertificateUntrusted
                       ? "client certificate not trusted (copied to rejected)"
                       : "client certificate refused");
}

ByteString ChannelSecurity::OpenAsymmetric(const uint8_t* chunk, size_t size,
                                           size_t headerEnd) const {
  if (!m_policy->Secure()) return ByteString(chunk + headerEnd, chunk + size);
  ByteString plain = RsaCrypto::Decrypt(m_pki->OwnKey(), m_policy->encryption, chunk + headerEnd,
                                        size - headerEnd);
  const size_t signatureSize = RsaCrypto::KeyBytes(m_peer.PublicKey());
  if (plain.size() < signatureSize + kSequenceHeader)
    Refuse(UaStatus::BadSecurityChecksFailed, "chunk shorter than its signature");
  const size_t signedPlain = plain.size() - signatureSize;
  ByteString signedBytes(chunk, chunk + headerEnd);
  signedBytes.insert(signedBytes.end(), plain.begin(),
                     plain.begin() + static_cast<std::ptrdiff_t>(signedPlain));
  if (!RsaCrypto::Verify(m_peer.PublicKey(), m_policy->signature, signedBytes.data(),
                         signedBytes.size(), plain.data() + signedPlain, signatureSize))
    Refuse(UaStatus::BadSecurityChecksFailed, "signature does not match");
  // Only a sender that holds the certificate's key gets this far, and only
  // such a sender's certificate is worth a file in rejected/.
  if (!m_renewing) CheckTrust();
  const bool extra = RsaCrypto::KeyBytes(m_pki->OwnKey()) > kStandardKeyBytes;
  plain.resize(UnpaddedEnd(plain.data(), signedPlain, extra));
  return plain;
}

void ChannelSecurity::WriteAsymmetricHeader(UaEncoder& out) const {
  out.String(m_policy->uri);
  if (!m_policy->Secure()) {
    out.NullString();
    out.NullString();
    return;
  }
  out.Bytes(m_pki->Own().Der());
  out.Bytes(m_peer.Thumbprint());
}

void ChannelSecurity::SecureAsymmetric(UaEncoder& out, size_t bodyFrom) const {
  std::vector<uint8_t>& buffer = out.Buffer();
  if (!m_policy->Secure()) {
    PatchSize(buffer, 0, buffer.size());
    return;
  }
  EVP_PKEY* peerKey = m_peer.PublicKey();
  const size_t plainBlock = RsaCrypto::PlainBlockSize(peerKey, m_policy->encryption);
  const size_t cipherBlock = RsaCrypto::KeyBytes(peerKey);
  const size_t signatureSize = RsaCrypto::KeyBytes(m_pki->OwnKey());
  const bool extra = cipherBlock > kStandardKeyBytes;
  const size_t unpadded = buffer.size() - bodyFrom + 1 + (extra ? 1 : 0) + signatureSize;
  const size_t padding = (plainBlock - unpadded % plainBlock) % plainBlock;
  AppendPadding(buffer, padding, extra);
  const size_t blocks = (unpadded + padding) / plainBlock;
  PatchSize(buffer, 0, bodyFrom + blocks * cipherBlock);
  ByteString signature =
      RsaCrypto::Sign(m_pki->OwnKey(), m_policy->signature, buffer.data(), buffer.size());
  buffer.insert(buffer.end(), signature.begin(), signature.end());
  ByteString encrypted = RsaCrypto::Encrypt(peerKey, m_policy->encryption, buffer.data() + bodyFrom,
                                            buffer.size() - bodyFrom);
  buffer.resize(bodyFrom);
  buffer.insert(buffer.end(), encrypted.begin(), encrypted.end());
}

void ChannelSecurity::AddToken(uint32_t tokenId, const ByteString& clientNonce,
                               const ByteString& serverNonce) {
  if (!m_policy->Secure()) return;
  m_tokens[tokenId] = {SymmetricCrypto::Derive(*m_policy, serverNonce, clientNonce),
                       SymmetricCrypto::Derive(*m_policy, clientNonce, serverNonce)};
}

void ChannelSecurity::DropTokensBefore(uint32_t tokenId) {
  m_tokens.erase(m_tokens.begin(), m_tokens.lower_bound(tokenId));
}

const ChannelSecurity::TokenKeys& ChannelSecurity::Keys(uint32_t tokenId) const {
  auto it = m_tokens.find(tokenId);
  if (it == m_tokens.end()) Refuse(UaStatus::BadSecureChannelTokenUnknown, "no keys for token");
  return it->second;
}

std::pair<const uint8_t*, size_t> ChannelSecurity::OpenSymmetric(uint8_t* chunk, size_t size,
                                                                 uint32_t tokenId) const {
  if (m_mode == SecurityMode::None || !m_policy->Secure())
    return {chunk + kSymmetricHeader, size - kSymmetricHeader};
  const TokenKeys& keys = Keys(tokenId);
  if (Encrypts())
    SymmetricCrypto::Decrypt(keys.client, chunk + kSymmetricHeader, size - kSymmetricHeader);
  const size_t signatureSize = SecurityPolicy::kSymmetricSignatureSize;
  if (size < kSymmetricHeader + kSequenceHeader + signatureSize)
    Refuse(UaStatus::BadSecurityChecksFailed, "chunk shorter than its signature");
  const size_t signedSize = size - signatureSize;
  ByteString expected = SymmetricCrypto::Hmac(keys.client.signing, chunk, signedSize);
  if (CRYPTO_memcmp(expected.data(), chunk + signedSize, signatureSize) != 0)
    Refuse(UaStatus::BadSecurityChecksFailed, "signature does not match");
  const size_t end = Encrypts() ? UnpaddedEnd(chunk, signedSize, false) : signedSize;
  if (end < kSymmetricHeader + kSequenceHeader)
    Refuse(UaStatus::BadSecurityChecksFailed, "padding reaches into the header");
  return {chunk + kSymmetricHeader, end - kSymmetricHeader};
}

void ChannelSecurity::SecureSymmetric(std::vector<uint8_t>& buffer, size_t start,
                                      uint32_t tokenId) const {
  if (m_mode == SecurityMode::None || !m_policy->Secure()) {
    PatchSize(buffer, start, buffer.size() - start);
    return;
  }
  const TokenKeys& keys = Keys(tokenId);
  const size_t signatureSize = SecurityPolicy::kSymmetricSignatureSize;
  if (Encrypts()) {
    const size_t unpadded = buffer.size() - start - kSymmetricHeader + 1 + signatureSize;
    AppendPadding(buffer,
                  (SecurityPolicy::kBlockSize - unpadded % SecurityPolicy::kBlockSize) %
                      SecurityPolicy::kBlockSize,
                  false);
  }
  PatchSize(buffer, start, buffer.size() - start + signatureSize);
  ByteString signature =
      SymmetricCrypto::Hmac(keys.server.signing, buffer.data() + start, buffer.size() - start);
  buffer.insert(buffer.end(), signature.begin(), signature.end());
  if (Encrypts())
    SymmetricCrypto::Encrypt(keys.server, buffer.data() + start + kSymmetricHeader,
                             buffer.size() - start - kSymmetricHeader);
}

size_t ChannelSecurity::MaxSymmetricBody(size_t bufferSize) const {
  const size_t overhead = kSymmetricHeader + kSequenceHeader;
  if (m_mode == SecurityMode::None || !m_policy->Secure()) return bufferSize - overhead;
  const size_t signatureSize = SecurityPolicy::kSymmetricSignatureSize;
  if (!Encrypts()) return bufferSize - overhead - signatureSize;
  const size_t blocks = (bufferSize - kSymmetricHeader) / SecurityPolicy::kBlockSize;
  return blocks * SecurityPolicy::kBlockSize - kSequenceHeader - signatureSize - 1;
}

}  // namespace tagserver
