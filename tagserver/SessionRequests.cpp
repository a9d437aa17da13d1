#include "tagserver/SessionRequests.h"

namespace tagserver {

ApplicationDescription ApplicationDescription::read(UaDecoder& in) {
  ApplicationDescription d;
  d.applicationUri = in.String();
  d.productUri = in.String();
  d.applicationName = in.LocalizedText();
  d.applicationType = in.UInt32();
  d.gatewayServerUri = in.String();
  d.discoveryProfileUri = in.String();
  d.discoveryUrls = in.StringArray();
  return d;
}

SignatureData SignatureData::read(UaDecoder& in) {
  SignatureData s;
  s.algorithm = in.String();
  s.signature = in.Bytes();
  return s;
}

SignedSoftwareCertificate SignedSoftwareCertificate::read(UaDecoder& in) {
  SignedSoftwareCertificate c;
  c.certificateData = in.Bytes();
  c.signature = in.Bytes();
  return c;
}

CreateSessionRequest CreateSessionRequest::read(UaDecoder& in) {
  CreateSessionRequest r;
  r.clientDescription = ApplicationDescription::read(in);
  r.serverUri = in.String();
  r.endpointUrl = in.String();
  r.sessionName = in.String();
  r.clientNonce = in.Bytes();
  r.clientCertificate = in.Bytes();
  r.requestedSessionTimeout = in.Double();
  r.maxResponseMessageSize = in.UInt32();
  return r;
}

ActivateSessionRequest ActivateSessionRequest::read(UaDecoder& in) {
  ActivateSessionRequest r;
  r.clientSignature = SignatureData::read(in);
  r.clientSoftwareCertificates = in.ArrayOf(8, SignedSoftwareCertificate::read);
  r.localeIds = in.StringArray();
  r.userIdentityToken = in.ExtensionObject();
  r.userTokenSignature = SignatureData::read(in);
  return r;
}

AnonymousIdentityToken AnonymousIdentityToken::read(UaDecoder& in) { return {in.String()}; }

UserNameIdentityToken UserNameIdentityToken::read(UaDecoder& in) {
  UserNameIdentityToken t;
  t.policyId = in.String();
  t.userName = in.String();
  t.password = in.Bytes();
  t.encryptionAlgorithm = in.String();
  return t;
}

CloseSessionRequest CloseSessionRequest::read(UaDecoder& in) { return {in.Boolean()}; }

}  // namespace tagserver
