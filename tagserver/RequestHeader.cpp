#include "tagserver/RequestHeader.h"

namespace tagserver {

RequestHeader RequestHeader::read(UaDecoder& in) {
  RequestHeader h;
  h.authenticationToken = in.NodeId();
  h.timestamp = in.DateTime();
  h.requestHandle = in.UInt32();
  h.returnDiagnostics = in.UInt32();
  h.auditEntryId = in.String();
  h.timeoutHint = in.UInt32();
  h.additionalHeader = in.ExtensionObject();
  return h;
}

}  // namespace tagserver
