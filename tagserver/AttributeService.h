// Read and Write.
#pragma once

#include "tagserver/AttributeRequests.h"
#include "tagserver/RequestContext.h"
#include "tagserver/UaEncoder.h"

namespace tagserver {

class UaServer;

class AttributeService {
 public:
  explicit AttributeService(UaServer& server) : m_server(server) {}

  void Read(RequestContext& ctx, const ReadRequest& request, UaEncoder& out);
  void Write(RequestContext& ctx, const WriteRequest& request, UaEncoder& out);

 private:
  // canWrite: the session's user may write; UserAccessLevel says so.
  UaDataValue ReadOne(const ReadValueId& item, uint32_t timestamps, bool canWrite);
  uint32_t WriteOne(const WriteValue& item, uint64_t token, bool canWrite);

  UaServer& m_server;
};

}  // namespace tagserver
