// The request that opens or renews a secure channel. Closing one carries
// nothing but its header, which the connection does not need.
#pragma once

#include <cstdint>

#include "tagserver/UaDecoder.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

struct OpenSecureChannelRequest {
  uint32_t clientProtocolVersion = 0;
  uint32_t requestType = 0;   // 0 issue, 1 renew
  uint32_t securityMode = 0;  // 1 None, 2 Sign, 3 SignAndEncrypt
  ByteString clientNonce;
  uint32_t requestedLifetime = 0;

  static OpenSecureChannelRequest read(UaDecoder& in);
};

}  // namespace tagserver
