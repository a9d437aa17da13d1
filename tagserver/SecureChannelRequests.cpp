#include "tagserver/SecureChannelRequests.h"

namespace tagserver {

OpenSecureChannelRequest OpenSecureChannelRequest::read(UaDecoder& in) {
  OpenSecureChannelRequest r;
  r.clientProtocolVersion = in.UInt32();
  r.requestType = in.UInt32();
  r.securityMode = in.UInt32();
  r.clientNonce = in.Bytes();
  r.requestedLifetime = in.UInt32();
  return r;
}

}  // namespace tagserver
