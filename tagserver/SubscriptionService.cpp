#include "tagserver/SubscriptionService.h"

#include <algorithm>

#include "opcua/UaStatusCodes.h"
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

// Create and Modify ask for the same settings under the same names.
template <typename Request>
SubscriptionSettings RequestedSettings(const Request& r) {
  SubscriptionSettings s;
  s.publishingInterval = r.requestedPublishingInterval;
  s.lifetimeCount = r.requestedLifetimeCount;
  s.maxKeepAliveCount = r.requestedMaxKeepAliveCount;
  s.maxNotificationsPerPublish = r.maxNotificationsPerPublish;
  s.priority = r.priority;
  return s;
}

void WriteRevisedSettings(UaEncoder& out, const SubscriptionSettings& s) {
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
  UaDecoder body(filter.body.data(), filter.body.size());
  DataChangeFilter f = DataChangeFilter::read(body);
  s.trigger = f.trigger;
  s.deadbandType = f.deadbandType;
  s.deadband = f.deadbandValue;
  if (s.trigger > 2 || s.deadbandType > 2 || !(s.deadband >= 0))
    return UaStatus::BadMonitoredItemFilterInvalid;
  // A percent deadband needs an engineering-unit range, which tags have not.
  if (s.deadbandType == 2) return UaStatus::BadMonitoredItemFilterUnsupported;
  return UaStatus::Good;
}

uint32_t ItemStatus(const MonitoredItemCreateRequest& r, const UaDataValue& probe,
                    uint32_t filterStatus, size_t itemCount) {
  if (probe.hasStatus && (probe.status == UaStatus::BadNodeIdUnknown ||
                          probe.status == UaStatus::BadAttributeIdInvalid))
    return probe.status;
  const ReadValueId& item = r.itemToMonitor;
  if (r.monitoringMode > 2) return UaStatus::BadMonitoringModeInvalid;
  if (!item.indexRange.empty()) return UaStatus::BadIndexRangeInvalid;
  if (!item.dataEncoding.name.empty())
    return item.attributeId != UaId::AttrValue ? UaStatus::BadDataEncodingInvalid
                                               : UaStatus::BadDataEncodingUnsupported;
  if (itemCount >= limits::kMaxMonitoredItemsPerSession) return UaStatus::BadTooManyMonitoredItems;
  return filterStatus;
}

}  // namespace

Subscription& SubscriptionService::Find(RequestContext& ctx, uint32_t id) {
  Subscription* sub = ctx.session->FindSubscription(id);
  if (sub == nullptr) throw UaServiceError(UaStatus::BadSubscriptionIdInvalid);
  return *sub;
}

void SubscriptionService::Create(RequestContext& ctx, const CreateSubscriptionRequest& request,
                                 UaEncoder& out) {
  auto& subs = ctx.session->Subscriptions();
  if (subs.size() >= limits::kMaxSubscriptionsPerSession)
    throw UaServiceError(UaStatus::BadTooManySubscriptions);
  uint32_t id = m_server.NextSubscriptionId();
  auto sub =
      std::make_unique<Subscription>(*ctx.session, id, m_server.Space().Info().minSamplingMs);
  sub->Configure(RequestedSettings(request));
  sub->SetPublishingEnabled(request.publishingEnabled);
  Subscription& s = *sub;
  subs[id] = std::move(sub);
  m_server.StartSubscriptionTimer(*ctx.session, id);
  BeginResponse(out, ctx, UaId::CreateSubscriptionResponse_Encoding_DefaultBinary);
  out.UInt32(id);
  WriteRevisedSettings(out, s.Settings());
}

void SubscriptionService::Modify(RequestContext& ctx, const ModifySubscriptionRequest& request,
                                 UaEncoder& out) {
  Subscription& sub = Find(ctx, request.subscriptionId);
  sub.Configure(RequestedSettings(request));
  BeginResponse(out, ctx, UaId::ModifySubscriptionResponse_Encoding_DefaultBinary);
  WriteRevisedSettings(out, sub.Settings());
}

void SubscriptionService::Delete(RequestContext& ctx, const DeleteSubscriptionsRequest& request,
                                 UaEncoder& out) {
  CheckCount(request.subscriptionIds.size());
  std::vector<uint32_t> results;
  auto& subs = ctx.session->Subscriptions();
  for (uint32_t id : request.subscriptionIds) {
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

void SubscriptionService::SetPublishingMode(RequestContext& ctx,
                                            const SetPublishingModeRequest& request,
                                            UaEncoder& out) {
  CheckCount(request.subscriptionIds.size());
  std::vector<uint32_t> results;
  for (uint32_t id : request.subscriptionIds) {
    Subscription* sub = ctx.session->FindSubscription(id);
    if (sub != nullptr) sub->SetPublishingEnabled(request.publishingEnabled);
    results.push_back(sub != nullptr ? UaStatus::Good : UaStatus::BadSubscriptionIdInvalid);
  }
  BeginResponse(out, ctx, UaId::SetPublishingModeResponse_Encoding_DefaultBinary);
  out.StatusArray(results);
  out.EmptyArray();
}

void SubscriptionService::Publish(RequestContext& ctx, const PublishRequest& request,
                                  UaEncoder& out) {
  (void)out;
  PendingPublish p;
  for (const SubscriptionAcknowledgement& ack : request.subscriptionAcknowledgements) {
    Subscription* sub = ctx.session->FindSubscription(ack.subscriptionId);
    p.ackResults.push_back(sub == nullptr ? UaStatus::BadSubscriptionIdInvalid
                           : sub->Acknowledge(ack.sequenceNumber)
                               ? UaStatus::Good
                               : UaStatus::BadSequenceNumberUnknown);
  }
  if (ctx.session->Subscriptions().empty()) throw UaServiceError(UaStatus::BadNoSubscription);
  p.connection = ctx.connection;
  p.requestId = ctx.requestId;
  p.requestHandle = ctx.requestHandle;
  p.deadlineMs = ctx.timeoutHint == 0 ? 0 : SteadyMs() + ctx.timeoutHint;
  ctx.session->QueuePublish(std::move(p));
  ctx.deferred = true;
  for (auto& [id, sub] : ctx.session->Subscriptions())
    if (sub->IsLate() && ctx.session->HasPublish()) sub->ServeLate();
}

void SubscriptionService::Republish(RequestContext& ctx, const RepublishRequest& request,
                                    UaEncoder& out) {
  const SentMessage* m = Find(ctx, request.subscriptionId).Find(request.retransmitSequenceNumber);
  if (m == nullptr) throw UaServiceError(UaStatus::BadMessageNotAvailable);
  BeginResponse(out, ctx, UaId::RepublishResponse_Encoding_DefaultBinary);
  out.Raw(m->encoded.data(), m->encoded.size());
}

uint32_t SubscriptionService::ReviseParameters(const MonitoringParameters& requested,
                                               const Subscription& sub, uint32_t attribute,
                                               MonitoringSettings& s) {
  s.clientHandle = requested.clientHandle;
  double sampling = requested.samplingInterval;
  s.discardOldest = requested.discardOldest;
  if (sampling < 0) sampling = sub.Settings().publishingInterval;
  if (!(sampling >= sub.MinSamplingMs())) sampling = sub.MinSamplingMs();
  s.samplingInterval = std::min(sampling, limits::kMaxPublishingIntervalMs);
  s.queueSize = std::clamp<uint32_t>(requested.queueSize, 1, limits::kMaxQueueSize);
  return ReadFilter(requested.filter, attribute, s);
}

void SubscriptionService::WriteRevised(UaEncoder& out, uint32_t status,
                                       const MonitoringSettings& s) {
  bool good = status == UaStatus::Good;
  out.StatusCode(status);
  out.Double(good ? s.samplingInterval : 0);
  out.UInt32(good ? s.queueSize : 0);
  out.ExtensionObject({});
}

uint32_t SubscriptionService::CreateOne(Subscription& sub,
                                        const MonitoredItemCreateRequest& request,
                                        uint32_t timestamps, size_t& itemCount, UaEncoder& out) {
  const UaNodeId& node = request.itemToMonitor.nodeId;
  const uint32_t attribute = request.itemToMonitor.attributeId;
  MonitoringSettings s;
  uint32_t status = ReviseParameters(request.requestedParameters, sub, attribute, s);
  AddressSpace& space = m_server.Space();
  UaDataValue probe = space.Read(node, attribute, 2);
  status = ItemStatus(request, probe, status, itemCount);
  MonitoredItem* item = nullptr;
  if (status == UaStatus::Good) {
    TagNode* tag = attribute == UaId::AttrValue ? space.Tag(node) : nullptr;
    item = sub.AddItem(node, attribute, tag, timestamps);
    item->Configure(s, timestamps);
    ++itemCount;
    TagSample current = tag != nullptr ? space.Tags().Sample(tag) : TagSample{};
    item->SetMode(static_cast<MonitoringMode>(request.monitoringMode),
                  tag != nullptr ? &current : nullptr);
    if (tag == nullptr) item->PushValue(probe);
  }
  out.StatusCode(status);
  out.UInt32(item != nullptr ? item->Id() : 0);
  out.Double(item != nullptr ? s.samplingInterval : 0);
  out.UInt32(item != nullptr ? s.queueSize : 0);
  out.ExtensionObject({});
  return status;
}

void SubscriptionService::CreateItems(RequestContext& ctx,
                                      const CreateMonitoredItemsRequest& request, UaEncoder& out) {
  Subscription& sub = Find(ctx, request.subscriptionId);
  const uint32_t timestamps = request.timestampsToReturn;
  if (timestamps > 3) throw UaServiceError(UaStatus::BadTimestampsToReturnInvalid);
  CheckCount(request.itemsToCreate.size());
  size_t itemCount = ctx.session->MonitoredItemCount();
  BeginResponse(out, ctx, UaId::CreateMonitoredItemsResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(request.itemsToCreate.size()));
  for (const MonitoredItemCreateRequest& item : request.itemsToCreate)
    CreateOne(sub, item, timestamps, itemCount, out);
  out.EmptyArray();
}

void SubscriptionService::ModifyItems(RequestContext& ctx,
                                      const ModifyMonitoredItemsRequest& request, UaEncoder& out) {
  Subscription& sub = Find(ctx, request.subscriptionId);
  const uint32_t timestamps = request.timestampsToReturn;
  if (timestamps > 3) throw UaServiceError(UaStatus::BadTimestampsToReturnInvalid);
  CheckCount(request.itemsToModify.size());
  BeginResponse(out, ctx, UaId::ModifyMonitoredItemsResponse_Encoding_DefaultBinary);
  out.Int32(static_cast<int32_t>(request.itemsToModify.size()));
  for (const MonitoredItemModifyRequest& modify : request.itemsToModify) {
    auto it = sub.Items().find(modify.monitoredItemId);
    uint32_t attribute = it == sub.Items().end() ? UaId::AttrValue : it->second->Attribute();
    MonitoringSettings s;
    uint32_t status = ReviseParameters(modify.requestedParameters, sub, attribute, s);
    if (it == sub.Items().end()) status = UaStatus::BadMonitoredItemIdInvalid;
    if (status == UaStatus::Good) it->second->Configure(s, timestamps);
    WriteRevised(out, status, s);
  }
  out.EmptyArray();
}

void SubscriptionService::DeleteItems(RequestContext& ctx,
                                      const DeleteMonitoredItemsRequest& request, UaEncoder& out) {
  Subscription& sub = Find(ctx, request.subscriptionId);
  CheckCount(request.monitoredItemIds.size());
  std::vector<uint32_t> results = sub.DeleteItems(request.monitoredItemIds);
  BeginResponse(out, ctx, UaId::DeleteMonitoredItemsResponse_Encoding_DefaultBinary);
  out.StatusArray(results);
  out.EmptyArray();
}

void SubscriptionService::SetMonitoringMode(RequestContext& ctx,
                                            const SetMonitoringModeRequest& request,
                                            UaEncoder& out) {
  Subscription& sub = Find(ctx, request.subscriptionId);
  const uint32_t mode = request.monitoringMode;
  if (mode > 2) throw UaServiceError(UaStatus::BadMonitoringModeInvalid);
  CheckCount(request.monitoredItemIds.size());
  std::vector<uint32_t> results;
  for (uint32_t id : request.monitoredItemIds) {
    auto it = sub.Items().find(id);
    if (it == sub.Items().end()) {
      results.push_back(UaStatus::BadMonitoredItemIdInvalid);
      continue;
    }
    MonitoredItem& item = *it->second;
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
