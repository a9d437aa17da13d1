// The security header of an OpenSecureChannel chunk: the policy, the
// sender's certificate and the thumbprint of the certificate it encrypted to.
#pragma once

#include <string>

#include "tagserver/UaDecoder.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

struct AsymmetricSecurityHeader {
  std::string securityPolicyUri;
  ByteString senderCertificate;
  ByteString receiverCertificateThumbprint;

  static AsymmetricSecurityHeader read(UaDecoder& in);
};

}  // namespace tagserver
