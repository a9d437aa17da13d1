// The security policies the endpoint offers and what each of them means for
// the bytes: key lengths, the RSA padding of encryption and signatures, and
// the URIs that name them on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tagserver {

enum class SecurityPolicyId { None, Basic256Sha256, Aes128Sha256RsaOaep, Aes256Sha256RsaPss };

// MessageSecurityMode as the wire numbers it.
enum class SecurityMode : uint32_t { Invalid = 0, None = 1, Sign = 2, SignAndEncrypt = 3 };

enum class RsaEncryption { OaepSha1, OaepSha256 };
enum class RsaSignature { Pkcs1Sha256, PssSha256 };

struct SecurityPolicy {
  SecurityPolicyId id = SecurityPolicyId::None;
  const char* uri = "";
  size_t signingKeyLength = 0;
  size_t encryptingKeyLength = 0;
  RsaEncryption encryption = RsaEncryption::OaepSha1;
  RsaSignature signature = RsaSignature::Pkcs1Sha256;

  static constexpr size_t kBlockSize = 16;
  static constexpr size_t kSymmetricSignatureSize = 32;
  static constexpr size_t kNonceLength = 32;

  bool Secure() const { return id != SecurityPolicyId::None; }
  // The URI a SignatureData names its algorithm with.
  const char* SignatureUri() const;
  // The URI an encrypted user token names its algorithm with.
  const char* EncryptionUri() const;

  // Null when the URI names no policy offered here.
  static const SecurityPolicy* Find(const std::string& uri);
  static const SecurityPolicy& Get(SecurityPolicyId id);
  static const std::vector<SecurityPolicy>& All();
};

}  // namespace tagserver
