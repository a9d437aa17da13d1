// Browse, BrowseNext, TranslateBrowsePathsToNodeIds, RegisterNodes and
// UnregisterNodes.
#pragma once

#include <cstdint>
#include <vector>

#include "tagserver/UaDecoder.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

struct ViewDescription {
  UaNodeId viewId;
  int64_t timestamp = 0;
  uint32_t viewVersion = 0;

  static ViewDescription read(UaDecoder& in);
};

struct BrowseDescription {
  UaNodeId nodeId;
  uint32_t browseDirection = 0;  // 0 forward, 1 inverse, 2 both
  UaNodeId referenceTypeId;
  bool includeSubtypes = false;
  uint32_t nodeClassMask = 0;
  uint32_t resultMask = 0;

  static constexpr size_t kMinSize = 17;
  static BrowseDescription read(UaDecoder& in);
};

struct BrowseRequest {
  ViewDescription view;
  uint32_t requestedMaxReferencesPerNode = 0;
  std::vector<BrowseDescription> nodesToBrowse;

  static BrowseRequest read(UaDecoder& in);
};

struct BrowseNextRequest {
  bool releaseContinuationPoints = false;
  std::vector<ByteString> continuationPoints;

  static BrowseNextRequest read(UaDecoder& in);
};

struct RelativePathElement {
  UaNodeId referenceTypeId;
  bool isInverse = false;
  bool includeSubtypes = false;
  UaQualifiedName targetName;

  static RelativePathElement read(UaDecoder& in);
};

struct BrowsePath {
  UaNodeId startingNode;
  std::vector<RelativePathElement> relativePath;  // RelativePath holds nothing but these

  static constexpr size_t kMinSize = 6;
  static BrowsePath read(UaDecoder& in);
};

struct TranslateBrowsePathsToNodeIdsRequest {
  std::vector<BrowsePath> browsePaths;

  static TranslateBrowsePathsToNodeIdsRequest read(UaDecoder& in);
};

struct RegisterNodesRequest {
  std::vector<UaNodeId> nodesToRegister;

  static RegisterNodesRequest read(UaDecoder& in);
};

struct UnregisterNodesRequest {
  std::vector<UaNodeId> nodesToUnregister;

  static UnregisterNodesRequest read(UaDecoder& in);
};

}  // namespace tagserver
