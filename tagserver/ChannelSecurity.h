// What a secure channel does to its chunks beyond SecurityPolicy None: the
// asymmetric signing and encryption of OpenSecureChannel, and the symmetric
// keys of each token for every other message. With policy None every chunk
// passes through unchanged.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "tagserver/AsymmetricSecurityHeader.h"
#include "tagserver/Certificate.h"
#include "tagserver/SecurityPolicy.h"
#include "tagserver/SymmetricCrypto.h"
#include "tagserver/UaEncoder.h"

namespace tagserver {

class PkiStore;

class ChannelSecurity {
 public:
  // Message header, channel id and token id: never encrypted.
  static constexpr size_t kSymmetricHeader = 16;
  static constexpr size_t kSequenceHeader = 8;

  const SecurityPolicy& Policy() const { return *m_policy; }
  SecurityMode Mode() const { return m_mode; }
  bool Encrypts() const { return m_mode == SecurityMode::SignAndEncrypt; }
  const Certificate& PeerCertificate() const { return m_peer; }
  const PkiStore* Pki() const { return m_pki; }

  // Takes the policy and certificate of the first OpenSecureChannel, or
  // checks that a renewal keeps them. pki is null when the server has no
  // certificate; then only policy None is possible.
  void Accept(const AsymmetricSecurityHeader& header, const PkiStore* pki, bool renew);
  void SetMode(SecurityMode mode) { m_mode = mode; }
  // The sequence header and body of an OpenSecureChannel chunk whose
  // security header ends at headerEnd, decrypted and verified. The first
  // one's certificate must then also be trusted.
  ByteString OpenAsymmetric(const uint8_t* chunk, size_t size, size_t headerEnd) const;
  // Writes the asymmetric security header of the answer.
  void WriteAsymmetricHeader(UaEncoder& out) const;
  // Pads, signs and encrypts the OpenSecureChannel chunk in out whose
  // sequence header begins at bodyFrom, and sets its size.
  void SecureAsymmetric(UaEncoder& out, size_t bodyFrom) const;

  // Derives both sides' keys for a token from the two nonces.
  void AddToken(uint32_t tokenId, const ByteString& clientNonce, const ByteString& serverNonce);
  void DropTokensBefore(uint32_t tokenId);
  // The sequence header and body of a symmetric chunk, checked and
  // decrypted in place.
  std::pair<const uint8_t*, size_t> OpenSymmetric(uint8_t* chunk, size_t size,
                                                  uint32_t tokenId) const;
  // Pads, signs and encrypts the symmetric chunk that begins at start and
  // runs to the end of the buffer, and sets its size.
  void SecureSymmetric(std::vector<uint8_t>& buffer, size_t start, uint32_t tokenId) const;
  // The body bytes one symmetric chunk of bufferSize carries.
  size_t MaxSymmetricBody(size_t bufferSize) const;

 private:
  struct TokenKeys {
    SymmetricKeys client;
    SymmetricKeys server;
  };
  const TokenKeys& Keys(uint32_t tokenId) const;
  void CheckTrust() const;

  const SecurityPolicy* m_policy = &SecurityPolicy::Get(SecurityPolicyId::None);
  SecurityMode m_mode = SecurityMode::None;
  const PkiStore* m_pki = nullptr;
  Certificate m_peer;
  std::vector<Certificate> m_chain;  // sent after m_peer
  bool m_renewing = false;
  std::map<uint32_t, TokenKeys> m_tokens;
};

}  // namespace tagserver
