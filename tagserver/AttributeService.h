// Read and Write.
#pragma once

#include "tagserver/AttributeRequests.h"
#include "tagserver/RequestContext.h"
#include "tagserver/UaEncoder.h"

namespace tagserver {

class CUaServer;

class CAttributeService {
 public:
  explicit CAttributeService(CUaServer& server) : m_server(server) {}

  void Read(RequestContext& ctx, const ReadRequest& request, CUaEncoder& out);
  void Write(RequestContext& ctx, const WriteRequest& request, CUaEncoder& out);

 private:
  UaDataValue ReadOne(const ReadValueId& item, uint32_t timestamps);
  uint32_t WriteOne(const WriteValue& item, uint64_t token);

  CUaServer& m_server;
};

}  // namespace tagserver
