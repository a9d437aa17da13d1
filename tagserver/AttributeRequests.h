// Read and Write, and the ReadValueId that monitored items share with Read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tagserver/UaDecoder.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

struct ReadValueId {
  UaNodeId nodeId;
  uint32_t attributeId = 0;
  std::string indexRange;
  UaQualifiedName dataEncoding;

  // The fewest bytes one can take, which bounds what an array of them reserves.
  static constexpr size_t kMinSize = 16;
  static ReadValueId read(UaDecoder& in);
};

struct ReadRequest {
  double maxAge = 0;
  uint32_t timestampsToReturn = 0;  // 0 source, 1 server, 2 both, 3 neither
  std::vector<ReadValueId> nodesToRead;

  static ReadRequest read(UaDecoder& in);
};

struct WriteValue {
  UaNodeId nodeId;
  uint32_t attributeId = 0;
  std::string indexRange;
  UaDataValue value;

  static constexpr size_t kMinSize = 11;
  static WriteValue read(UaDecoder& in);
};

struct WriteRequest {
  std::vector<WriteValue> nodesToWrite;

  static WriteRequest read(UaDecoder& in);
};

}  // namespace tagserver
