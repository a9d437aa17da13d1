// Browse, BrowseNext, TranslateBrowsePathsToNodeIds, RegisterNodes and
// UnregisterNodes.
#pragma once

#include "tagserver/AddressSpace.h"
#include "tagserver/RequestContext.h"
#include "tagserver/UaEncoder.h"
#include "tagserver/ViewRequests.h"

namespace tagserver {

struct ContinuationPoint;

class ViewService {
 public:
  explicit ViewService(AddressSpace& space) : m_space(space) {}

  void Browse(RequestContext& ctx, const BrowseRequest& request, UaEncoder& out);
  void BrowseNext(RequestContext& ctx, const BrowseNextRequest& request, UaEncoder& out);
  void Translate(RequestContext& ctx, const TranslateBrowsePathsToNodeIdsRequest& request,
                 UaEncoder& out);
  void RegisterNodes(RequestContext& ctx, const RegisterNodesRequest& request, UaEncoder& out);
  void UnregisterNodes(RequestContext& ctx, const UnregisterNodesRequest& request, UaEncoder& out);

 private:
  // Writes one BrowseResult from the point's next references, keeping the
  // point in the session while more remain.
  void WriteResult(RequestContext& ctx, ContinuationPoint&& cp, uint32_t status, UaEncoder& out);
  void WriteReference(const NodeReference& ref, const NodeHeader& target, uint32_t mask,
                      UaEncoder& out);
  void TranslateOne(const BrowsePath& browsePath, UaEncoder& out);

  AddressSpace& m_space;
};

}  // namespace tagserver
