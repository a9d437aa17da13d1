#include "tagserver/SubscriptionService.h"

#include <algorithm>

#include "tagserver/Session.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaServer.h"
#include "tagserver/UaServiceError.h"
#include "tagserver/UaStatusCodes.h"

namespace tagserver {

namespace {

struct ItemRequest {
  UaNodeId node;
  uint32_t attribute = 0;
  std::string range;
  UaQualifiedName encoding;
  uint32_t mode = 0;
};

size_t CheckedCount(CUaDecoder& in, size_t minElementSize) {
  size_t n = in.ArrayLength(minElementSize);
  if (n == 0) throw CUaServiceError(UaStatus::BadNothingToDo);
  if (n > limits::kMaxNodesPerRequest) throw CUaServiceError(UaStatus::BadTooManyOperations);
  return n;
}

SubscriptionSettings ReadSettings(CUaDecoder& in) {
  SubscriptionSettings s;
  s.publishingInterval = in.Double();
  s.lifetimeCount = in.UInt32();
  s.maxKeepAliveCount = in.UInt32();
  s.maxNotificationsPerPublish = in.UInt32();
  return s;
}

void WriteRevisedSettings(CUaEncoder& out, const SubscriptionSettings& s) {
  out.Double(s.publishingInterval);
  out.UInt32(s.lifetimeCount);
  out.UInt32(s.maxKeepAliveCount);
}

uint32_t ReadFilter(const UaExtensionObject& filter, uint32_t attribute, MonitoringSettings& s) {
  if (filter.typeId.IsNull()) return UaStatus::Good;
  if (attribute != UaId::AttrValue) return UaStatus::BadFilterNotAllowed;
  if (filter.typeId != UaNodeId::Num(0, UaId::DataChangeFilter_Encoding_DefaultBinary) ||
      filter.encoding != 1)
    return UaStatus::BadMonitoredItemFilterUnsupported;
  CUaDecoder body(filter.body.data(), filter.body.size());
  s.trigger = body.UInt32();
  s.deadbandType = body.UInt32();
  s.deadband = body.Double();
  if (s.trigger > 2 || s.deadbandType > 2 || !(s.deadband >= 0))
    return UaStatus::BadMonitoredItemFilterInvalid;
  // A percent deadband needs an engineering-unit range, which tags have not.
  if (s.deadbandType == 2) return UaStatus::BadMonitoredItemFilterUnsupported;
  return UaStatus::Good;
}

uint32_t ItemStatus(const ItemRequest& r, const UaDataValue& probe, uint32_t filterStatus,
                    size_t itemCount) {
  if (probe.hasStatus && (probe.status == UaStatus::BadNodeIdUnknown ||
                          probe.status == UaStatus::BadAttributeIdInvalid))
    return probe.status;
  if (r.mode > 2) return UaStatus::BadMonitoringModeInvalid;
  if (!r.range.empty()) return UaStatus::BadIndexRangeInvalid;
  if (!r.encoding.name.empty())
    return r.attribute != UaId::AttrValue ? UaStatus::BadDataEncodingInvalid
                                          : UaStatus::BadDataEncodingUnsupported;
  if (itemCount >= limits::kMaxMonitoredItemsPerSession) return UaStatus::BadTooManyMonitoredItems;
  return filterStatus;
}

}  // namespace

CSubscription& CSubscriptionService::Find(RequestContext& ctx, uint32_t id) {
  CSubscription* sub = ctx.session->Subscription(id);
  if (sub == nullptr) throw CUaServiceError(UaStatus::BadSubscriptionIdInvalid);
  return *sub;
}

void CSubscriptionService::Create(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  SubscriptionSettings requested = ReadSettings(in);
  bool enabled = in.Boolean();
  requested.priority = in.Byte();
  auto& subs = ctx.session->Subscriptions();
  if (subs.size() >= limits::kMaxSubscriptionsPerSession)
    throw CUaServiceError(UaStatus::BadTooManySubscriptions);
  uint32_t id = m_server.NextSubscriptionId();
  auto sub =
      std::make_unique<CSubscription>(*ctx.session, id, m_server.Space().Info().minSamplingMs);
  sub->Configure(requested);
  sub->SetPublishingEnabled(enabled);
  CSubscription& s = *sub;
  subs[id] = std::move(sub);
  m_server.StartSubscriptionTimer(*ctx.session, id);
  BeginResponse(out, ctx, UaId::CreateSubscriptionResponse_Encoding_DefaultBinary);
  out.UInt32(id);
  WriteRevisedSettings(out, s.Settings());
}

void CSubscriptionService::Modify(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  uint32_t id = in.UInt32();
  SubscriptionSettings requested = ReadSettings(in);
  requested.priority = in.Byte();
  CSubscription& sub = Find(ctx, id);
  sub.Configure(requested);
  BeginResponse(out, ctx, UaId::ModifySubscriptionResponse_Encoding_DefaultBinary);
  WriteRevisedSettings(out, sub.Settings());
}

void CSubscriptionService::Delete(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  size_t n = CheckedCount(in, 4);
  std::vector<uint32_t> results;
  auto& subs = ctx.session->Subscriptions();
  for (size_t i = 0; i < n; ++i) {
    uint32_t id = in.UInt32();
    bool found = subs.erase(id) != 0;
    if (found) m_server.StopSubscriptionTimer(id);
    results.push_back(found ? UaStatus::Good : UaStatus::BadSubscriptionIdInvalid);
  }
  // A Publish request waiting for a subscription that no longer exists
  // would never be answered.
  if (subs.empty()) ctx.session->FailPublishes(UaStatus::BadNoSubscription);
  BeginResponse(out, ctx, UaId::DeleteSubscriptionsResponse_Encoding_DefaultBinary);
  out.StatusArray(results);
  out.EmptyArray();
}

void CSubscriptionService::SetPublishingMode(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  bool enabled = in.Boolean();
  size_t n = CheckedCount(in, 4);
  std::vector<uint32_t> results;
  for (size_t i = 0; i < n; ++i) {
    CSubscription* sub = ctx.session->Subscription(in.UInt32());
    if (sub != nullptr) sub->SetPublishingEnabled(enabled);
    results.push_back(sub != nullptr ? UaStatus::Good : UaStatus::BadSubscriptionIdInvalid);
  }
  BeginResponse(out, ctx, UaId::SetPublishingModeResponse_Encoding_DefaultBinary);
  out.StatusArray(results);
  out.EmptyArray();
}

void CSubscriptionService::Publish(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  (void)out;
  PendingPublish p;
  size_t n = in.ArrayLength(8);
  for (size_t i = 0; i < n; ++i) {
    CSubscription* sub = ctx.session->Subscription(in.UInt32());
    uint32_t sequence = in.UInt32();
    p.ackResults.push_back(sub == nullptr               ? UaStatus::BadSubscriptionIdInvalid
                           : sub->Acknowledge(sequence) ? UaStatus::Good
                                                        : UaStatus::BadSequenceNumberUnknown);
  }
  if (ctx.session->Subscriptions().empty()) throw CUaServiceError(UaStatus::BadNoSubscription);
  p.connection = ctx.connection;
  p.requestId = ctx.requestId;
  p.requestHandle = ctx.requestHandle;
  p.deadlineMs = ctx.timeoutHint == 0 ? 0 : SteadyMs() + ctx.timeoutHint;
  ctx.session->QueuePublish(std::move(p));
  ctx.deferred = true;
  for (auto& [id, sub] : ctx.session->Subscriptions())
    if (sub->IsLate() && ctx.session->HasPublish()) sub->ServeLate();
}

void CSubscriptionService::Republish(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  uint32_t id = in.UInt32();
  uint32_t sequence = in.UInt32();
  const SentMessage* m = Find(ctx, id).Find(sequence);
  if (m == nullptr) throw CUaServiceError(UaStatus::BadMessageNotAvailable);
  BeginResponse(out, ctx, UaId::RepublishResponse_Encoding_DefaultBinary);
  out.Raw(m->encoded.data(), m->encoded.size());
}

uint32_t CSubscriptionService::ReadParameters(CUaDecoder& in, const CSubscription& sub,
                                              uint32_t attribute, MonitoringSettings& s) {
  s.clientHandle = in.UInt32();
  double sampling = in.Double();
  UaExtensionObject filter = in.ExtensionObject();
  uint32_t queue = in.UInt32();
  s.discardOldest = in.Boolean();
  if (sampling < 0) sampling = sub.Settings().publishingInterval;
  if (!(sampling >= sub.MinSamplingMs())) sampling = sub.MinSamplingMs();
  s.samplingInterval = std::min(sampling, limits::kMaxPublishingIntervalMs);
  s.queueSize = std::clamp<uint32_t>(queue, 1, limits::kMaxQueueSize);
  return ReadFilter(filter, attribute, s);
}

void CSubscriptionService::WriteRevised(CUaEncoder& out, uint32_t status,
                                        const MonitoringSettings& s) {
  bool good = status == UaStatus::Good;
  out.StatusCode(status);
  out.Double(good ? s.samplingInterval : 0);
  out.UInt32(good ? s.queueSize : 0);
  out.ExtensionObject({});
}

uint32_t CSubscriptionService::CreateOne(CSubscription& sub, CUaDecoder& in, uint32_t timestamps,
                                         size_t& itemCount, CUaEncoder& out) {
  ItemRequest r;
  r.node = in.NodeId();
  r.attribute = in.UInt32();
  r.range = in.String();
  r.encoding = in.QualifiedName();
  r.mode = in.UInt32();
  MonitoringSettings s;
  uint32_t status = ReadParameters(in, sub, r.attribute, s);
  CAddressSpace& space = m_server.Space();
  UaDataValue probe = space.Read(r.node, r.attribute, 2);
  status = ItemStatus(r, probe, status, itemCount);
  CMonitoredItem* item = nullptr;
  if (status == UaStatus::Good) {
    TagNode* tag = r.attribute == UaId::AttrValue ? space.Tag(r.node) : nullptr;
    item = sub.AddItem(r.node, r.attribute, tag, timestamps);
    item->Configure(s, timestamps);
    ++itemCount;
    TagSample current = tag != nullptr ? space.Tags().Sample(tag) : TagSample{};
    item->SetMode(static_cast<MonitoringMode>(r.mode), tag != nullptr ? &current : nullptr);
    if (tag == nullptr) item->PushValue(probe);
  }
  out.StatusCode(status);
  out.UInt32(item != nullptr ? item->Id() : 0);
  out.Double(item != nullptr ? s.samplingInterval : 0);
  out.UInt32(item != nullptr ? s.queueSize : 0);
  out.ExtensionObject({});
  return status;
}

void CSubscriptionService::CreateItems(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  CSubscription& sub = Find(ctx, in.UInt32());
  uint32_t timestamps = in.UInt32();
  if (timestamps > 3) throw CUaServiceError(UaStatus::BadTimestampsToReturnInvalid);
  size_t n = CheckedCount(in, 40);  // smallest MonitoredItemCreateRequest
  size_t itemCount = ctx.session->MonitoredItemCount();
  BeginResponse(out, ctx, UaId::CreateMonitoredItemsResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(n));
  for (size_t i = 0; i < n; ++i) CreateOne(sub, in, timestamps, itemCount, out);
  out.EmptyArray();
}

void CSubscriptionService::ModifyItems(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  CSubscription& sub = Find(ctx, in.UInt32());
  uint32_t timestamps = in.UInt32();
  if (timestamps > 3) throw CUaServiceError(UaStatus::BadTimestampsToReturnInvalid);
  size_t n = CheckedCount(in, 24);  // smallest MonitoredItemModifyRequest
  BeginResponse(out, ctx, UaId::ModifyMonitoredItemsResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(n));
  for (size_t i = 0; i < n; ++i) {
    auto it = sub.Items().find(in.UInt32());
    uint32_t attribute = it == sub.Items().end() ? UaId::AttrValue : it->second->Attribute();
    MonitoringSettings s;
    uint32_t status = ReadParameters(in, sub, attribute, s);
    if (it == sub.Items().end()) status = UaStatus::BadMonitoredItemIdInvalid;
    if (status == UaStatus::Good) it->second->Configure(s, timestamps);
    WriteRevised(out, status, s);
  }
  out.EmptyArray();
}

void CSubscriptionService::DeleteItems(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  CSubscription& sub = Find(ctx, in.UInt32());
  size_t n = CheckedCount(in, 4);
  std::vector<uint32_t> results;
  for (size_t i = 0; i < n; ++i)
    results.push_back(sub.DeleteItem(in.UInt32()) ? UaStatus::Good
                                                  : UaStatus::BadMonitoredItemIdInvalid);
  BeginResponse(out, ctx, UaId::DeleteMonitoredItemsResponse_Encoding_DefaultBinary);
  out.StatusArray(results);
  out.EmptyArray();
}

void CSubscriptionService::SetMonitoringMode(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out) {
  CSubscription& sub = Find(ctx, in.UInt32());
  uint32_t mode = in.UInt32();
  if (mode > 2) throw CUaServiceError(UaStatus::BadMonitoringModeInvalid);
  size_t n = CheckedCount(in, 4);
  std::vector<uint32_t> results;
  for (size_t i = 0; i < n; ++i) {
    auto it = sub.Items().find(in.UInt32());
    if (it == sub.Items().end()) {
      results.push_back(UaStatus::BadMonitoredItemIdInvalid);
      continue;
    }
    CMonitoredItem& item = *it->second;
    TagSample current;
    if (item.Tag() != nullptr) current = m_server.Space().Tags().Sample(item.Tag());
    item.SetMode(static_cast<MonitoringMode>(mode), item.Tag() != nullptr ? &current : nullptr);
    results.push_back(UaStatus::Good);
  }
  BeginResponse(out, ctx, UaId::SetMonitoringModeResponse_Encoding_DefaultBinary);
  out.StatusArray(results);
  out.EmptyArray();
}

}  // namespace tagserver
