#include "tagserver/ViewService.h"

#include <algorithm>

#include "opcua/UaStatusCodes.h"
#include "tagserver/Session.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaServiceError.h"

namespace tagserver {

namespace {

constexpr uint32_t kNoRemainingPath = 0xFFFFFFFFu;

void CheckCount(size_t n) {
  if (n == 0) throw UaServiceError(UaStatus::BadNothingToDo);
  if (n > limits::kMaxNodesPerRequest) throw UaServiceError(UaStatus::BadTooManyOperations);
}

BrowseFilter FilterOf(const BrowseDescription& d) {
  BrowseFilter filter;
  filter.direction = d.browseDirection;
  filter.referenceType = d.referenceTypeId;
  filter.includeSubtypes = d.includeSubtypes;
  filter.nodeClassMask = d.nodeClassMask;
  return filter;
}

BrowseFilter FilterOf(const RelativePathElement& e) {
  BrowseFilter filter;
  filter.referenceType = e.referenceTypeId;
  filter.direction = e.isInverse ? 1 : 0;
  filter.includeSubtypes = e.includeSubtypes;
  return filter;
}

}  // namespace

void ViewService::WriteReference(const NodeReference& ref, const NodeHeader& target, uint32_t mask,
                                 UaEncoder& out) {
  out.NodeId(mask & 1 ? UaNodeId::Num(0, ref.type) : UaNodeId{});
  out.Boolean((mask & 2) && ref.forward);
  out.ExpandedNodeId({target.id, {}, 0});
  out.QualifiedName(mask & 8 ? target.browseName : UaQualifiedName{});
  out.LocalizedText(mask & 16 ? target.displayName : UaLocalizedText{});
  out.UInt32(mask & 4 ? target.nodeClass : 0);
  bool typed = (mask & 32) && (target.nodeClass == kObject || target.nodeClass == kVariable);
  out.ExpandedNodeId({typed ? target.typeDefinition : UaNodeId{}, {}, 0});
}

void ViewService::WriteResult(RequestContext& ctx, ContinuationPoint&& cp, uint32_t status,
                              UaEncoder& out) {
  size_t count = std::min<size_t>(cp.refs.size() - cp.next, cp.maxRefs);
  bool more = cp.next + count < cp.refs.size();
  auto& points = ctx.session->ContinuationPoints();
  std::string pointId;
  if (more && points.size() >= limits::kMaxContinuationPointsPerSession) {
    status = UaStatus::BadNoContinuationPoints;
    count = 0;
    more = false;
  }
  out.StatusCode(status);
  size_t from = cp.next;
  cp.next += count;
  if (more) {
    pointId = ctx.session->NewContinuationPointId();
    out.Bytes(ByteString(pointId.begin(), pointId.end()));
  } else {
    out.NullString();
  }
  out.Int32(static_cast<int32_t>(count));
  for (size_t i = from; i < from + count; ++i)
    WriteReference(cp.refs[i].first, cp.refs[i].second, cp.resultMask, out);
  if (more) points[pointId] = std::move(cp);
}

void ViewService::Browse(RequestContext& ctx, const BrowseRequest& request, UaEncoder& out) {
  uint32_t maxRefs = request.requestedMaxReferencesPerNode;
  if (!request.view.viewId.IsNull()) throw UaServiceError(UaStatus::BadViewIdUnknown);
  if (maxRefs == 0 || maxRefs > limits::kMaxReferencesPerBrowse)
    maxRefs = limits::kMaxReferencesPerBrowse;
  CheckCount(request.nodesToBrowse.size());
  BeginResponse(out, ctx, UaId::BrowseResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(request.nodesToBrowse.size()));
  for (const BrowseDescription& d : request.nodesToBrowse) {
    ContinuationPoint cp;
    cp.maxRefs = maxRefs;
    cp.resultMask = d.resultMask;
    uint32_t status = m_space.Browse(d.nodeId, FilterOf(d), cp.refs);
    WriteResult(ctx, std::move(cp), status, out);
  }
  out.EmptyArray();
}

void ViewService::BrowseNext(RequestContext& ctx, const BrowseNextRequest& request,
                             UaEncoder& out) {
  const bool release = request.releaseContinuationPoints;
  CheckCount(request.continuationPoints.size());
  BeginResponse(out, ctx, UaId::BrowseNextResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(request.continuationPoints.size()));
  auto& points = ctx.session->ContinuationPoints();
  for (const ByteString& raw : request.continuationPoints) {
    auto it = points.find(std::string(raw.begin(), raw.end()));
    if (it == points.end()) {
      out.StatusCode(UaStatus::BadContinuationPointInvalid);
      out.NullString();
      out.EmptyArray();
      continue;
    }
    ContinuationPoint cp = std::move(it->second);
    points.erase(it);
    if (release) {
      out.StatusCode(UaStatus::Good);
      out.NullString();
      out.EmptyArray();
      continue;
    }
    WriteResult(ctx, std::move(cp), UaStatus::Good, out);
  }
  out.EmptyArray();
}

void ViewService::TranslateOne(const BrowsePath& browsePath, UaEncoder& out) {
  const UaNodeId& start = browsePath.startingNode;
  std::vector<std::pair<BrowseFilter, UaQualifiedName>> path;
  for (const RelativePathElement& e : browsePath.relativePath)
    path.emplace_back(FilterOf(e), e.targetName);
  NodeHeader header;
  uint32_t status = UaStatus::Good;
  if (path.empty())
    status = UaStatus::BadNothingToDo;
  else if (!m_space.Header(start, header))
    status = UaStatus::BadNodeIdUnknown;
  for (const auto& [f, name] : path)
    if (name.name.empty()) status = UaStatus::BadBrowseNameInvalid;
  std::vector<UaNodeId> current{start};
  for (size_t e = 0; e < path.size() && status == UaStatus::Good && !current.empty(); ++e) {
    std::vector<UaNodeId> next;
    for (const auto& node : current) {
      std::vector<std::pair<NodeReference, NodeHeader>> refs;
      if (m_space.Browse(node, path[e].first, refs) != UaStatus::Good) continue;
      for (auto& [ref, target] : refs)
        if (target.browseName == path[e].second) next.push_back(target.id);
    }
    current = std::move(next);
  }
  if (status == UaStatus::Good && current.empty()) status = UaStatus::BadNoMatch;
  out.StatusCode(status);
  if (status != UaStatus::Good) {
    out.EmptyArray();
    return;
  }
  out.Int32(static_cast<int32_t>(current.size()));
  for (const auto& id : current) {
    out.ExpandedNodeId({id, {}, 0});
    out.UInt32(kNoRemainingPath);
  }
}

void ViewService::Translate(RequestContext& ctx,
                            const TranslateBrowsePathsToNodeIdsRequest& request, UaEncoder& out) {
  CheckCount(request.browsePaths.size());
  BeginResponse(out, ctx, UaId::TranslateBrowsePathsToNodeIdsResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(request.browsePaths.size()));
  for (const BrowsePath& path : request.browsePaths) TranslateOne(path, out);
  out.EmptyArray();
}

void ViewService::RegisterNodes(RequestContext& ctx, const RegisterNodesRequest& request,
                                UaEncoder& out) {
  CheckCount(request.nodesToRegister.size());
  BeginResponse(out, ctx, UaId::RegisterNodesResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(request.nodesToRegister.size()));
  // Every node is reached directly already: a registered id is the id itself.
  for (const UaNodeId& id : request.nodesToRegister) out.NodeId(id);
}

void ViewService::UnregisterNodes(RequestContext& ctx, const UnregisterNodesRequest& request,
                                  UaEncoder& out) {
  CheckCount(request.nodesToUnregister.size());
  BeginResponse(out, ctx, UaId::UnregisterNodesResponse_Encoding_DefaultBinary);
}

}  // namespace tagserver
