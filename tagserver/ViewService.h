// Browse, BrowseNext, TranslateBrowsePathsToNodeIds, RegisterNodes and
// UnregisterNodes.
#pragma once

#include "tagserver/AddressSpace.h"
#include "tagserver/RequestContext.h"
#include "tagserver/UaEncoder.h"
#include "tagserver/ViewRequests.h"

namespace tagserver {

struct ContinuationPoint;

class CViewService {
 public:
  explicit CViewService(CAddressSpace& space) : m_space(space) {}

  void Browse(RequestContext& ctx, const BrowseRequest& request, CUaEncoder& out);
  void BrowseNext(RequestContext& ctx, const BrowseNextRequest& request, CUaEncoder& out);
  void Translate(RequestContext& ctx, const TranslateBrowsePathsToNodeIdsRequest& request,
                 CUaEncoder& out);
  void RegisterNodes(RequestContext& ctx, const RegisterNodesRequest& request, CUaEncoder& out);
  void UnregisterNodes(RequestContext& ctx, const UnregisterNodesRequest& request, CUaEncoder& out);

 private:
  // Writes one BrowseResult from the point's next references, keeping the
  // point in the session while more remain.
  void WriteResult(RequestContext& ctx, ContinuationPoint&& cp, uint32_t status, CUaEncoder& out);
  void WriteReference(const NodeReference& ref, const NodeHeader& target, uint32_t mask,
                      CUaEncoder& out);
  void TranslateOne(const BrowsePath& browsePath, CUaEncoder& out);

  CAddressSpace& m_space;
};

}  // namespace tagserver
