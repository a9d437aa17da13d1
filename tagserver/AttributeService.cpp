#include "tagserver/AttributeService.h"

#include "opcua/UaStatusCodes.h"
#include "tagserver/QualityMap.h"
#include "tagserver/Session.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaServer.h"
#include "tagserver/UaServiceError.h"

namespace tagserver {

namespace {

void CheckCount(size_t n) {
  if (n == 0) throw UaServiceError(UaStatus::BadNothingToDo);
  if (n > limits::kMaxNodesPerRequest) throw UaServiceError(UaStatus::BadTooManyOperations);
}

constexpr uint64_t kCurrentWrite = 2;

UaDataValue BadValue(uint32_t status) {
  UaDataValue dv;
  dv.hasStatus = true;
  dv.status = status;
  return dv;
}

}  // namespace

UaDataValue AttributeService::ReadOne(const ReadValueId& item, uint32_t timestamps, bool canWrite) {
  const uint32_t attribute = item.attributeId;
  const UaQualifiedName& encoding = item.dataEncoding;
  UaDataValue dv = m_server.Space().Read(item.nodeId, attribute, timestamps);
  if (dv.hasStatus && (dv.status & 0x80000000u) != 0) return dv;
  if (attribute == UaId::AttrUserAccessLevel && !canWrite)
    dv.value =
        UaVariant::Scalar(UaType::Byte, std::get<uint64_t>(dv.value.values.at(0)) & ~kCurrentWrite);
  if (!encoding.name.empty()) {
    if (attribute != UaId::AttrValue) return BadValue(UaStatus::BadDataEncodingInvalid);
    if (encoding.ns != 0 || encoding.name != "Default Binary")
      return BadValue(UaStatus::BadDataEncodingUnsupported);
  }
  if (!item.indexRange.empty())
    return BadValue(attribute == UaId::AttrValue && !dv.value.isArray
                        ? UaStatus::BadIndexRangeNoData
                        : UaStatus::BadIndexRangeInvalid);
  if (attribute != UaId::AttrValue && (timestamps == 1 || timestamps == 2))
    dv.serverTimestamp = UaNow();
  return dv;
}

void AttributeService::Read(RequestContext& ctx, const ReadRequest& request, UaEncoder& out) {
  const uint32_t timestamps = request.timestampsToReturn;
  if (!(request.maxAge >= 0)) throw UaServiceError(UaStatus::BadMaxAgeInvalid);
  if (timestamps > 3) throw UaServiceError(UaStatus::BadTimestampsToReturnInvalid);
  CheckCount(request.nodesToRead.size());
  BeginResponse(out, ctx, UaId::ReadResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(request.nodesToRead.size()));
  for (const ReadValueId& item : request.nodesToRead)
    out.DataValue(ReadOne(item, timestamps, ctx.session->CanWrite()));
  out.EmptyArray();
}

uint32_t AttributeService::WriteOne(const WriteValue& item, uint64_t token, bool canWrite) {
  const UaNodeId& node = item.nodeId;
  const uint32_t attribute = item.attributeId;
  const UaDataValue& dv = item.value;
  AddressSpace& space = m_server.Space();
  NodeHeader header;
  if (!space.Header(node, header)) return UaStatus::BadNodeIdUnknown;
  UaDataValue probe = space.Read(node, attribute, 3);
  if (probe.hasStatus && probe.status == UaStatus::BadAttributeIdInvalid)
    return UaStatus::BadAttributeIdInvalid;
  TagNode* tag = space.Tag(node);
  if (attribute != UaId::AttrValue || tag == nullptr) return UaStatus::BadNotWritable;
  if (!item.indexRange.empty()) return UaStatus::BadIndexRangeInvalid;
  int32_t handle = space.Tags().WriteHandle(tag);
  if (handle < 0 || !m_server.Writer()) return UaStatus::BadNotWritable;
  if (!canWrite) return UaStatus::BadUserAccessDenied;
  if (!dv.hasValue || dv.value.IsEmpty()) return UaStatus::BadTypeMismatch;
  if (dv.hasStatus || dv.sourceTimestamp != 0 || dv.serverTimestamp != 0)
    return UaStatus::BadWriteNotSupported;
  VARIANT value;
  uint32_t status = VariantFromUa(dv.value, value);
  if (status != UaStatus::Good) return status;
  status = m_server.Writer()(handle, value, token);
  VariantClear(&value);
  return status;
}

void AttributeService::Write(RequestContext& ctx, const WriteRequest& request, UaEncoder& out) {
  CheckCount(request.nodesToWrite.size());
  HeldWrites& held = m_server.PendingWrites();
  std::vector<uint32_t> results;
  std::vector<uint64_t> tokens;
  bool pending = false;
  for (const WriteValue& item : request.nodesToWrite) {
    uint64_t token = held.NextToken();
    results.push_back(WriteOne(item, token, ctx.session->CanWrite()));
    bool later = results.back() == UaStatus::GoodCompletesAsynchronously;
    tokens.push_back(later ? token : 0);
    pending = pending || later;
  }
  if (pending) {
    // Answered when the program has finished with every value; the server
    // meanwhile serves this client's other requests and everyone else's.
    held.Hold(ctx, std::move(results), tokens);
    ctx.deferred = true;
    return;
  }
  BeginResponse(out, ctx, UaId::WriteResponse_Encoding_DefaultBinary);
  out.StatusArray(results);
  out.EmptyArray();
}

}  // namespace tagserver
