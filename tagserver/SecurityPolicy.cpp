#include "tagserver/SecurityPolicy.h"

namespace tagserver {

const std::vector<SecurityPolicy>& SecurityPolicy::All() {
  static const std::vector<SecurityPolicy> policies = {
      {SecurityPolicyId::None, "http://opcfoundation.org/UA/SecurityPolicy#None", 0, 0,
       RsaEncryption::OaepSha1, RsaSignature::Pkcs1Sha256},
      {SecurityPolicyId::Basic256Sha256,
       "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256", 32, 32, RsaEncryption::OaepSha1,
       RsaSignature::Pkcs1Sha256},
      {SecurityPolicyId::Aes128Sha256RsaOaep,
       "http://opcfoundation.org/UA/SecurityPolicy#Aes128_Sha256_RsaOaep", 32, 16,
       RsaEncryption::OaepSha1, RsaSignature::Pkcs1Sha256},
      {SecurityPolicyId::Aes256Sha256RsaPss,
       "http://opcfoundation.org/UA/SecurityPolicy#Aes256_Sha256_RsaPss", 32, 32,
       RsaEncryption::OaepSha256, RsaSignature::PssSha256},
  };
  return policies;
}

const SecurityPolicy* SecurityPolicy::Find(const std::string& uri) {
  for (const SecurityPolicy& p : All())
    if (uri == p.uri) return &p;
  return nullptr;
}

const SecurityPolicy& SecurityPolicy::Get(SecurityPolicyId id) {
  for (const SecurityPolicy& p : All())
    if (p.id == id) return p;
  return All().front();
}

const char* SecurityPolicy::SignatureUri() const {
  return signature == RsaSignature::PssSha256
             ? "http://opcfoundation.org/UA/security/rsa-pss-sha2-256"
             : "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
}

const char* SecurityPolicy::EncryptionUri() const {
  return encryption == RsaEncryption::OaepSha256
             ? "http://opcfoundation.org/UA/security/rsa-oaep-sha2-256"
             : "http://www.w3.org/2001/04/xmlenc#rsa-oaep";
}

}  // namespace tagserver
