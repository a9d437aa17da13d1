// The subscription and monitored item services, Publish and Republish.
#pragma once

#include "tagserver/MonitoredItem.h"
#include "tagserver/MonitoredItemRequests.h"
#include "tagserver/RequestContext.h"
#include "tagserver/SubscriptionRequests.h"
#include "tagserver/UaEncoder.h"

namespace tagserver {

class CUaServer;
class CSubscription;

class CSubscriptionService {
 public:
  explicit CSubscriptionService(CUaServer& server) : m_server(server) {}

  void Create(RequestContext& ctx, const CreateSubscriptionRequest& request, CUaEncoder& out);
  void Modify(RequestContext& ctx, const ModifySubscriptionRequest& request, CUaEncoder& out);
  void Delete(RequestContext& ctx, const DeleteSubscriptionsRequest& request, CUaEncoder& out);
  void SetPublishingMode(RequestContext& ctx, const SetPublishingModeRequest& request,
                         CUaEncoder& out);
  void Publish(RequestContext& ctx, const PublishRequest& request, CUaEncoder& out);
  void Republish(RequestContext& ctx, const RepublishRequest& request, CUaEncoder& out);
  void CreateItems(RequestContext& ctx, const CreateMonitoredItemsRequest& request,
                   CUaEncoder& out);
  void ModifyItems(RequestContext& ctx, const ModifyMonitoredItemsRequest& request,
                   CUaEncoder& out);
  void DeleteItems(RequestContext& ctx, const DeleteMonitoredItemsRequest& request,
                   CUaEncoder& out);
  void SetMonitoringMode(RequestContext& ctx, const SetMonitoringModeRequest& request,
                         CUaEncoder& out);

 private:
  CSubscription& Find(RequestContext& ctx, uint32_t id);
  // Revises the requested parameters; a Bad status when the filter cannot
  // be had.
  uint32_t ReviseParameters(const MonitoringParameters& requested, const CSubscription& sub,
                            uint32_t attribute, MonitoringSettings& s);
  uint32_t CreateOne(CSubscription& sub, const MonitoredItemCreateRequest& request,
                     uint32_t timestamps, size_t& itemCount, CUaEncoder& out);
  void WriteRevised(CUaEncoder& out, uint32_t status, const MonitoringSettings& s);

  CUaServer& m_server;
};

}  // namespace tagserver
