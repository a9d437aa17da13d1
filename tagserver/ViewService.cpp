#include "tagserver/ViewService.h"

#include <algorithm>

#include "tagserver/Session.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaServiceError.h"
#include "tagserver/UaStatusCodes.h"

namespace tagserver {

namespace {

constexpr uint32_t kNoRemainingPath = 0xFFFFFFFFu;

size_t CheckedCount(CUaDecoder& in, size_t minElementSize) {
  size_t n = in.ArrayLength(minElementSize);
  if (n == 0) throw CUaServiceError(UaStatus::BadNothingToDo);
  if (n > limits::kMaxNodesPerRequest) throw CUaServiceError(UaStatus::BadTooManyOperations);
  return n;
}

}  // namespace

void CViewService::WriteReference(const NodeReference& ref, const NodeHeader& target, uint32_t mask,
                                  CUaEncoder& out) {
  out.NodeId(mask & 1 ? UaNodeId::Num(0, ref.type) : UaNodeId{});
  out.Boolean((mask & 2) && ref.forward);
  out.ExpandedNodeId({target.id, {}, 0});
  out.QualifiedName(mask & 8 ? target.browseName : UaQualifiedName{});
  out.LocalizedText(mask & 16 ? target.displayName : UaLocalizedText{});
  out.UInt32(mask & 4 ? target.nodeClass : 0);
  bool typed = (mask & 32) && (target.nodeClass == kObject || target.nodeClass == kVariable);
  out.ExpandedNodeId({typed ? target.typeDefinition : UaNodeId{}, {}, 0});
}

void CViewService::WriteResult(RequestContext& ctx, ContinuationPoint&& cp, uint32_t status,
                               CUaEncoder& out) {
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

void CViewService::Browse(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  UaNodeId view = in.NodeId();
  in.DateTime();
  in.UInt32();
  uint32_t maxRefs = in.UInt32();
  if (!view.IsNull()) throw CUaServiceError(UaStatus::BadViewIdUnknown);
  if (maxRefs == 0 || maxRefs > limits::kMaxReferencesPerBrowse)
    maxRefs = limits::kMaxReferencesPerBrowse;
  size_t n = CheckedCount(in, 17);  // smallest BrowseDescription
  BeginResponse(out, ctx, UaId::BrowseResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(n));
  for (size_t i = 0; i < n; ++i) {
    UaNodeId node = in.NodeId();
    BrowseFilter filter;
    filter.direction = in.UInt32();
    filter.referenceType = in.NodeId();
    filter.includeSubtypes = in.Boolean();
    filter.nodeClassMask = in.UInt32();
    ContinuationPoint cp;
    cp.maxRefs = maxRefs;
    cp.resultMask = in.UInt32();
    uint32_t status = m_space.Browse(node, filter, cp.refs);
    WriteResult(ctx, std::move(cp), status, out);
  }
  out.EmptyArray();
}

void CViewService::BrowseNext(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  bool release = in.Boolean();
  size_t n = CheckedCount(in, 4);
  BeginResponse(out, ctx, UaId::BrowseNextResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(n));
  auto& points = ctx.session->ContinuationPoints();
  for (size_t i = 0; i < n; ++i) {
    ByteString raw = in.Bytes();
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

void CViewService::TranslateOne(CUaDecoder& in, CUaEncoder& out) {
  UaNodeId start = in.NodeId();
  size_t elements = in.ArrayLength(8);
  std::vector<std::pair<BrowseFilter, UaQualifiedName>> path;
  for (size_t e = 0; e < elements; ++e) {
    BrowseFilter f;
    f.referenceType = in.NodeId();
    f.direction = in.Boolean() ? 1 : 0;
    f.includeSubtypes = in.Boolean();
    path.emplace_back(f, in.QualifiedName());
  }
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

void CViewService::Translate(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  size_t n = CheckedCount(in, 6);  // smallest BrowsePath
  BeginResponse(out, ctx, UaId::TranslateBrowsePathsToNodeIdsResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(n));
  for (size_t i = 0; i < n; ++i) TranslateOne(in, out);
  out.EmptyArray();
}

void CViewService::RegisterNodes(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  size_t n = CheckedCount(in, 2);
  BeginResponse(out, ctx, UaId::RegisterNodesResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(n));
  // Every node is reached directly already: a registered id is the id itself.
  for (size_t i = 0; i < n; ++i) out.NodeId(in.NodeId());
}

void CViewService::UnregisterNodes(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  size_t n = CheckedCount(in, 2);
  for (size_t i = 0; i < n; ++i) in.NodeId();
  BeginResponse(out, ctx, UaId::UnregisterNodesResponse_Encoding_DefaultBinary);
}

}  // namespace tagserver
