#include "tagserver/SessionSecurity.h"

#include "opcua/UaStatusCodes.h"
#include "tagserver/PkiStore.h"
#include "tagserver/RsaCrypto.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaServiceError.h"

namespace tagserver {

namespace {

bool Secured(const ChannelSecurity& channel) {
  return channel.Policy().Secure() && channel.Mode() != SecurityMode::None;
}

ByteString Concat(const ByteString& a, const ByteString& b) {
  ByteString out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

uint32_t ReadLength(const ByteString& bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

}  // namespace

const SecurityPolicy& SessionSecurity::PasswordPolicy(const SecurityPolicy& endpoint) {
  return endpoint.Secure() ? endpoint : SecurityPolicy::Get(SecurityPolicyId::Basic256Sha256);
}

void SessionSecurity::CheckCreate(const ChannelSecurity& channel,
                                  const CreateSessionRequest& request) const {
  if (!Secured(channel)) return;
  if (request.clientNonce.size() < SecurityPolicy::kNonceLength)
    throw UaServiceError(UaStatus::BadNonceInvalid);
  Certificate cert = Certificate::FromDer(request.clientCertificate);
  if (cert.Empty() || cert.Der() != channel.PeerCertificate().Der())
    throw UaServiceError(UaStatus::BadCertificateInvalid);
  if (cert.ApplicationUri() != request.clientDescription.applicationUri)
    throw UaServiceError(UaStatus::BadCertificateUriInvalid);
}

SignatureData SessionSecurity::Sign(const ChannelSecurity& channel,
                                    const ByteString& clientCertificate,
                                    const ByteString& clientNonce) const {
  if (!Secured(channel)) return {};
  ByteString data = Concat(clientCertificate, clientNonce);
  return {channel.Policy().SignatureUri(),
          RsaCrypto::Sign(m_pki->OwnKey(), channel.Policy().signature, data.data(), data.size())};
}

void SessionSecurity::VerifyClient(const ChannelSecurity& channel, const SignatureData& signature,
                                   const ByteString& serverNonce) const {
  if (!Secured(channel)) return;
  ByteString data = Concat(m_pki->Own().Der(), serverNonce);
  if (signature.algorithm != channel.Policy().SignatureUri() ||
      !RsaCrypto::Verify(channel.PeerCertificate().PublicKey(), channel.Policy().signature,
                         data.data(), data.size(), signature.signature.data(),
                         signature.signature.size()))
    throw UaServiceError(UaStatus::BadApplicationSignatureInvalid);
}

UserRole SessionSecurity::Identify(const UaExtensionObject& token) const {
  const UaNodeId& type = token.typeId;
  if (type.IsNull() ||
      type == UaNodeId::Num(0, UaId::AnonymousIdentityToken_Encoding_DefaultBinary))
    return Anonymous(token);
  // Certificates of users may come; until then they are refused as any
  // token type the endpoint does not list.
  throw UaServiceError(UaStatus::BadIdentityTokenRejected);
}

UserRole SessionSecurity::Anonymous(const UaExtensionObject& token) const {
  if (!token.typeId.IsNull()) {
    UaDecoder body(token.body.data(), token.body.size());
    std::string policy = AnonymousIdentityToken::read(body).policyId;
    if (!policy.empty() && policy != kAnonymousPolicy)
      throw UaServiceError(UaStatus::BadIdentityTokenInvalid);
  }
  switch (m_settings.anonymous) {
    case AnonymousAccess::ReadWrite: return UserRole::ReadWrite;
    case AnonymousAccess::ReadOnly: return UserRole::ReadOnly;
    case AnonymousAccess::Off: break;
  }
  throw UaServiceError(UaStatus::BadIdentityTokenRejected);
}

std::optional<SessionSecurity::UserLogin> SessionSecurity::Login(
    const ChannelSecurity& channel, const UaExtensionObject& token,
    const ByteString& serverNonce) const {
  if (token.typeId != UaNodeId::Num(0, UaId::UserNameIdentityToken_Encoding_DefaultBinary))
    return std::nullopt;
  if (m_pki == nullptr || m_users == nullptr)
    throw UaServiceError(UaStatus::BadIdentityTokenRejected);
  UaDecoder body(token.body.data(), token.body.size());
  UserNameIdentityToken t = UserNameIdentityToken::read(body);
  if (t.policyId != kUserNamePolicy) throw UaServiceError(UaStatus::BadIdentityTokenInvalid);
  return UserLogin{t.userName, Password(channel, t, serverNonce)};
}

std::string SessionSecurity::Password(const ChannelSecurity& channel,
                                      const UserNameIdentityToken& token,
                                      const ByteString& serverNonce) const {
  // A password travels in the clear only inside an encrypted channel.
  if (token.encryptionAlgorithm.empty()) {
    if (channel.Mode() != SecurityMode::SignAndEncrypt)
      throw UaServiceError(UaStatus::BadIdentityTokenInvalid);
    return std::string(token.password.begin(), token.password.end());
  }
  const SecurityPolicy& policy = PasswordPolicy(channel.Policy());
  if (token.encryptionAlgorithm != policy.EncryptionUri())
    throw UaServiceError(UaStatus::BadIdentityTokenInvalid);
  ByteString plain;
  try {
    plain = RsaCrypto::Decrypt(m_pki->OwnKey(), policy.encryption, token.password.data(),
                               token.password.size());
  } catch (const UaDecodeError&) {
    throw UaServiceError(UaStatus::BadIdentityTokenInvalid);
  }
  // A length, then the password followed by the nonce the server gave last.
  if (plain.size() < 4) throw UaServiceError(UaStatus::BadIdentityTokenInvalid);
  const size_t length = ReadLength(plain);
  if (length > plain.size() - 4 || length < serverNonce.size() ||
      !std::equal(serverNonce.begin(), serverNonce.end(),
                  plain.begin() + static_cast<std::ptrdiff_t>(4 + length - serverNonce.size())))
    throw UaServiceError(UaStatus::BadIdentityTokenInvalid);
  return std::string(plain.begin() + 4,
                     plain.begin() + static_cast<std::ptrdiff_t>(4 + length - serverNonce.size()));
}

}  // namespace tagserver
