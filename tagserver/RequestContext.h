// What a service handler knows of the request it answers.
#pragma once

#include <cstdint>
#include <memory>

#include "tagserver/UaEncoder.h"

namespace tagserver {

class UaServer;
class UaConnection;
class Session;

struct RequestContext {
  UaServer& server;
  std::shared_ptr<UaConnection> connection;
  uint32_t requestId = 0;
  uint32_t requestHandle = 0;
  uint32_t timeoutHint = 0;
  Session* session = nullptr;  // null for the services that need none
  // Set by Publish: the answer goes out later.
  bool deferred = false;
};

// Starts a response: its type id and a ResponseHeader with Good.
void BeginResponse(UaEncoder& out, const RequestContext& ctx, uint32_t responseTypeId);

}  // namespace tagserver
