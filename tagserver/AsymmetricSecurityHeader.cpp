#include "tagserver/AsymmetricSecurityHeader.h"

#include "opcua/UaStatusCodes.h"

namespace tagserver {

namespace {

// Longer than any policy URI, any certificate chain a channel needs or a
// SHA-1 thumbprint: anything beyond is not a peer we can talk to.
constexpr size_t kMaxPolicyUri = 256;
constexpr size_t kMaxCertificate = 32768;
constexpr size_t kThumbprintSize = 20;

}  // namespace

AsymmetricSecurityHeader AsymmetricSecurityHeader::read(UaDecoder& in) {
  AsymmetricSecurityHeader h;
  h.securityPolicyUri = in.String();
  h.senderCertificate = in.Bytes();
  h.receiverCertificateThumbprint = in.Bytes();
  if (h.securityPolicyUri.size() > kMaxPolicyUri)
    throw UaDecodeError(UaStatus::BadSecurityPolicyRejected, "security policy URI too long");
  if (h.senderCertificate.size() > kMaxCertificate)
    throw UaDecodeError(UaStatus::BadCertificateInvalid, "sender certificate too long");
  if (!h.receiverCertificateThumbprint.empty() &&
      h.receiverCertificateThumbprint.size() != kThumbprintSize)
    throw UaDecodeError(UaStatus::BadCertificateInvalid, "thumbprint is not 20 bytes");
  return h;
}

}  // namespace tagserver
