// Read and Write.
#pragma once

#include "tagserver/RequestContext.h"
#include "tagserver/UaDecoder.h"
#include "tagserver/UaEncoder.h"

namespace tagserver {

class CUaServer;

class CAttributeService {
 public:
  explicit CAttributeService(CUaServer& server) : m_server(server) {}

  void Read(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);
  void Write(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);

 private:
  UaDataValue ReadOne(CUaDecoder& in, uint32_t timestamps);
  uint32_t WriteOne(const UaNodeId& node, uint32_t attribute, const std::string& range,
                    const UaDataValue& dv);

  CUaServer& m_server;
};

}  // namespace tagserver
