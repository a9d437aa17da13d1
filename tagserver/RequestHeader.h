// The header every request starts with, after its type id. The dispatcher
// reads it once, so the request structures of the services leave it out.
#pragma once

#include <cstdint>
#include <string>

#include "tagserver/UaDecoder.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

struct RequestHeader {
  UaNodeId authenticationToken;
  int64_t timestamp = 0;
  uint32_t requestHandle = 0;
  uint32_t returnDiagnostics = 0;  // diagnostics are never returned
  std::string auditEntryId;
  uint32_t timeoutHint = 0;
  UaExtensionObject additionalHeader;

  static RequestHeader read(UaDecoder& in);
};

}  // namespace tagserver
