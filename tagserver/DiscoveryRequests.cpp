#include "tagserver/DiscoveryRequests.h"

namespace tagserver {

GetEndpointsRequest GetEndpointsRequest::read(UaDecoder& in) {
  GetEndpointsRequest r;
  r.endpointUrl = in.String();
  r.localeIds = in.StringArray();
  r.profileUris = in.StringArray();
  return r;
}

FindServersRequest FindServersRequest::read(UaDecoder& in) {
  FindServersRequest r;
  r.endpointUrl = in.String();
  r.localeIds = in.StringArray();
  r.serverUris = in.StringArray();
  return r;
}

}  // namespace tagserver
