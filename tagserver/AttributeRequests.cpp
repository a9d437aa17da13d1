#include "tagserver/AttributeRequests.h"

namespace tagserver {

ReadValueId ReadValueId::read(UaDecoder& in) {
  ReadValueId r;
  r.nodeId = in.NodeId();
  r.attributeId = in.UInt32();
  r.indexRange = in.String();
  r.dataEncoding = in.QualifiedName();
  return r;
}

ReadRequest ReadRequest::read(UaDecoder& in) {
  ReadRequest r;
  r.maxAge = in.Double();
  r.timestampsToReturn = in.UInt32();
  r.nodesToRead = in.ArrayOf(ReadValueId::kMinSize, ReadValueId::read);
  return r;
}

WriteValue WriteValue::read(UaDecoder& in) {
  WriteValue w;
  w.nodeId = in.NodeId();
  w.attributeId = in.UInt32();
  w.indexRange = in.String();
  w.value = in.DataValue();
  return w;
}

WriteRequest WriteRequest::read(UaDecoder& in) {
  return {in.ArrayOf(WriteValue::kMinSize, WriteValue::read)};
}

}  // namespace tagserver
