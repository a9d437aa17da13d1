#include "tagserver/AttributeService.h"

#include "tagserver/QualityMap.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaServer.h"
#include "tagserver/UaServiceError.h"
#include "tagserver/UaStatusCodes.h"

namespace tagserver {

namespace {

size_t CheckedCount(CUaDecoder& in, size_t minElementSize) {
  size_t n = in.ArrayLength(minElementSize);
  if (n == 0) throw CUaServiceError(UaStatus::BadNothingToDo);
  if (n > limits::kMaxNodesPerRequest) throw CUaServiceError(UaStatus::BadTooManyOperations);
  return n;
}

UaDataValue BadValue(uint32_t status) {
  UaDataValue dv;
  dv.hasStatus = true;
  dv.status = status;
  return dv;
}

}  // namespace

UaDataValue CAttributeService::ReadOne(CUaDecoder& in, uint32_t timestamps) {
  UaNodeId node = in.NodeId();
  uint32_t attribute = in.UInt32();
  std::string range = in.String();
  UaQualifiedName encoding = in.QualifiedName();
  UaDataValue dv = m_server.Space().Read(node, attribute, timestamps);
  if (dv.hasStatus && (dv.status & 0x80000000u) != 0) return dv;
  if (!encoding.name.empty()) {
    if (attribute != UaId::AttrValue) return BadValue(UaStatus::BadDataEncodingInvalid);
    if (encoding.ns != 0 || encoding.name != "Default Binary")
      return BadValue(UaStatus::BadDataEncodingUnsupported);
  }
  if (!range.empty())
    return BadValue(attribute == UaId::AttrValue && !dv.value.isArray
                        ? UaStatus::BadIndexRangeNoData
                        : UaStatus::BadIndexRangeInvalid);
  if (attribute != UaId::AttrValue && (timestamps == 1 || timestamps == 2))
    dv.serverTimestamp = UaNow();
  return dv;
}

void CAttributeService::Read(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  double maxAge = in.Double();
  uint32_t timestamps = in.UInt32();
  if (!(maxAge >= 0)) throw CUaServiceError(UaStatus::BadMaxAgeInvalid);
  if (timestamps > 3) throw CUaServiceError(UaStatus::BadTimestampsToReturnInvalid);
  size_t n = CheckedCount(in, 16);  // smallest ReadValueId
  BeginResponse(out, ctx, UaId::ReadResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(n));
  for (size_t i = 0; i < n; ++i) out.DataValue(ReadOne(in, timestamps));
  out.EmptyArray();
}

uint32_t CAttributeService::WriteOne(const UaNodeId& node, uint32_t attribute,
                                     const std::string& range, const UaDataValue& dv) {
  CAddressSpace& space = m_server.Space();
  NodeHeader header;
  if (!space.Header(node, header)) return UaStatus::BadNodeIdUnknown;
  UaDataValue probe = space.Read(node, attribute, 3);
  if (probe.hasStatus && probe.status == UaStatus::BadAttributeIdInvalid)
    return UaStatus::BadAttributeIdInvalid;
  TagNode* tag = space.Tag(node);
  if (attribute != UaId::AttrValue || tag == nullptr) return UaStatus::BadNotWritable;
  if (!range.empty()) return UaStatus::BadIndexRangeInvalid;
  int32_t handle = space.Tags().WriteHandle(tag);
  if (handle < 0 || !m_server.Writer()) return UaStatus::BadNotWritable;
  if (!dv.hasValue || dv.value.IsEmpty()) return UaStatus::BadTypeMismatch;
  if (dv.hasStatus || dv.sourceTimestamp != 0 || dv.serverTimestamp != 0)
    return UaStatus::BadWriteNotSupported;
  VARIANT value;
  uint32_t status = VariantFromUa(dv.value, value);
  if (status != UaStatus::Good) return status;
  status = m_server.Writer()(handle, value);
  VariantClear(&value);
  return status;
}

void CAttributeService::Write(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  size_t n = CheckedCount(in, 11);  // smallest WriteValue
  std::vector<uint32_t> results;
  results.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    UaNodeId node = in.NodeId();
    uint32_t attribute = in.UInt32();
    std::string range = in.String();
    UaDataValue dv = in.DataValue();
    results.push_back(WriteOne(node, attribute, range, dv));
  }
  BeginResponse(out, ctx, UaId::WriteResponse_Encoding_DefaultBinary);
  out.StatusArray(results);
  out.EmptyArray();
}

}  // namespace tagserver
