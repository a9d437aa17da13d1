#include "tagserver/ViewRequests.h"

namespace tagserver {

namespace {

// A null or empty ByteString takes its four length bytes.
constexpr size_t kMinByteStringSize = 4;
// Kept below the element's true minimum of ten bytes, as the limit always was.
constexpr size_t kMinPathElementSize = 8;

}  // namespace

ViewDescription ViewDescription::read(UaDecoder& in) {
  ViewDescription v;
  v.viewId = in.NodeId();
  v.timestamp = in.DateTime();
  v.viewVersion = in.UInt32();
  return v;
}

BrowseDescription BrowseDescription::read(UaDecoder& in) {
  BrowseDescription d;
  d.nodeId = in.NodeId();
  d.browseDirection = in.UInt32();
  d.referenceTypeId = in.NodeId();
  d.includeSubtypes = in.Boolean();
  d.nodeClassMask = in.UInt32();
  d.resultMask = in.UInt32();
  return d;
}

BrowseRequest BrowseRequest::read(UaDecoder& in) {
  BrowseRequest r;
  r.view = ViewDescription::read(in);
  r.requestedMaxReferencesPerNode = in.UInt32();
  r.nodesToBrowse = in.ArrayOf(BrowseDescription::kMinSize, BrowseDescription::read);
  return r;
}

BrowseNextRequest BrowseNextRequest::read(UaDecoder& in) {
  BrowseNextRequest r;
  r.releaseContinuationPoints = in.Boolean();
  r.continuationPoints = in.ArrayOf(kMinByteStringSize, [](UaDecoder& d) { return d.Bytes(); });
  return r;
}

RelativePathElement RelativePathElement::read(UaDecoder& in) {
  RelativePathElement e;
  e.referenceTypeId = in.NodeId();
  e.isInverse = in.Boolean();
  e.includeSubtypes = in.Boolean();
  e.targetName = in.QualifiedName();
  return e;
}

BrowsePath BrowsePath::read(UaDecoder& in) {
  BrowsePath p;
  p.startingNode = in.NodeId();
  p.relativePath = in.ArrayOf(kMinPathElementSize, RelativePathElement::read);
  return p;
}

TranslateBrowsePathsToNodeIdsRequest TranslateBrowsePathsToNodeIdsRequest::read(UaDecoder& in) {
  return {in.ArrayOf(BrowsePath::kMinSize, BrowsePath::read)};
}

RegisterNodesRequest RegisterNodesRequest::read(UaDecoder& in) { return {in.NodeIdArray()}; }

UnregisterNodesRequest UnregisterNodesRequest::read(UaDecoder& in) { return {in.NodeIdArray()}; }

}  // namespace tagserver
