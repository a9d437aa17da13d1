// GetEndpoints and FindServers, which need no session.
#pragma once

#include <string>
#include <vector>

#include "tagserver/UaDecoder.h"

namespace tagserver {

struct GetEndpointsRequest {
  std::string endpointUrl;
  std::vector<std::string> localeIds;
  std::vector<std::string> profileUris;

  static GetEndpointsRequest read(UaDecoder& in);
};

struct FindServersRequest {
  std::string endpointUrl;
  std::vector<std::string> localeIds;
  std::vector<std::string> serverUris;

  static FindServersRequest read(UaDecoder& in);
};

}  // namespace tagserver
