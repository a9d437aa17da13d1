// The subscription and monitored item services, Publish and Republish.
#pragma once

#include "tagserver/MonitoredItem.h"
#include "tagserver/MonitoredItemRequests.h"
#include "tagserver/RequestContext.h"
#include "tagserver/SubscriptionRequests.h"
#include "tagserver/UaEncoder.h"

namespace tagserver {

class UaServer;
class Subscription;

class SubscriptionService {
 public:
  explicit SubscriptionService(UaServer& server) : m_server(server) {}

  void Create(RequestContext& ctx, const CreateSubscriptionRequest& request, UaEncoder& out);
  void Modify(RequestContext& ctx, const ModifySubscriptionRequest& request, UaEncoder& out);
  void Delete(RequestContext& ctx, const DeleteSubscriptionsRequest& request, UaEncoder& out);
  void SetPublishingMode(RequestContext& ctx, const SetPublishingModeRequest& request,
                         UaEncoder& out);
  void Publish(RequestContext& ctx, const PublishRequest& request, UaEncoder& out);
  void Republish(RequestContext& ctx, const RepublishRequest& request, UaEncoder& out);
  void CreateItems(RequestContext& ctx, const CreateMonitoredItemsRequest& request, UaEncoder& out);
  void ModifyItems(RequestContext& ctx, const ModifyMonitoredItemsRequest& request, UaEncoder& out);
  void DeleteItems(RequestContext& ctx, const DeleteMonitoredItemsRequest& request, UaEncoder& out);
  void SetMonitoringMode(RequestContext& ctx, const SetMonitoringModeRequest& request,
                         UaEncoder& out);

 private:
  Subscription& Find(RequestContext& ctx, uint32_t id);
  // Revises the requested parameters; a Bad status when the filter cannot
  // be had.
  uint32_t ReviseParameters(const MonitoringParameters& requested, const Subscription& sub,
                            uint32_t attribute, MonitoringSettings& s);
  uint32_t CreateOne(Subscription& sub, const MonitoredItemCreateRequest& request,
                     uint32_t timestamps, size_t& itemCount, UaEncoder& out);
  void WriteRevised(UaEncoder& out, uint32_t status, const MonitoringSettings& s);

  UaServer& m_server;
};

}  // namespace tagserver
