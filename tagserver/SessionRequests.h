// CreateSession, ActivateSession and CloseSession, with the structures they
// carry, as their binary encoding lays them out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tagserver/UaDecoder.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

struct ApplicationDescription {
  std::string applicationUri;
  std::string productUri;
  UaLocalizedText applicationName;
  uint32_t applicationType = 0;  // 0 server, 1 client, 2 both, 3 discovery server
  std::string gatewayServerUri;
  std::string discoveryProfileUri;
  std::vector<std::string> discoveryUrls;

  static ApplicationDescription read(UaDecoder& in);
};

struct SignatureData {
  std::string algorithm;
  ByteString signature;

  static SignatureData read(UaDecoder& in);
};

struct SignedSoftwareCertificate {
  ByteString certificateData;
  ByteString signature;

  static SignedSoftwareCertificate read(UaDecoder& in);
};

struct CreateSessionRequest {
  ApplicationDescription clientDescription;
  std::string serverUri;
  std::string endpointUrl;
  std::string sessionName;
  ByteString clientNonce;
  ByteString clientCertificate;
  double requestedSessionTimeout = 0;
  uint32_t maxResponseMessageSize = 0;

  static CreateSessionRequest read(UaDecoder& in);
};

struct ActivateSessionRequest {
  SignatureData clientSignature;
  std::vector<SignedSoftwareCertificate> clientSoftwareCertificates;
  std::vector<std::string> localeIds;
  UaExtensionObject userIdentityToken;
  SignatureData userTokenSignature;

  static ActivateSessionRequest read(UaDecoder& in);
};

struct AnonymousIdentityToken {
  std::string policyId;

  static AnonymousIdentityToken read(UaDecoder& in);
};

// password: encrypted as encryptionAlgorithm names, or plain when it is empty.
struct UserNameIdentityToken {
  std::string policyId;
  std::string userName;
  ByteString password;
  std::string encryptionAlgorithm;

  static UserNameIdentityToken read(UaDecoder& in);
};

struct CloseSessionRequest {
  bool deleteSubscriptions = false;

  static CloseSessionRequest read(UaDecoder& in);
};

}  // namespace tagserver
