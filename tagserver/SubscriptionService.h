// The subscription and monitored item services, Publish and Republish.
#pragma once

#include "tagserver/MonitoredItem.h"
#include "tagserver/RequestContext.h"
#include "tagserver/UaDecoder.h"
#include "tagserver/UaEncoder.h"

namespace tagserver {

class CUaServer;
class CSubscription;

class CSubscriptionService {
 public:
  explicit CSubscriptionService(CUaServer& server) : m_server(server) {}

  void Create(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);
  void Modify(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);
  void Delete(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);
  void SetPublishingMode(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);
  void Publish(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);
  void Republish(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);
  void CreateItems(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);
  void ModifyItems(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);
  void DeleteItems(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);
  void SetMonitoringMode(RequestContext& ctx, CUaDecoder& in, CUaEncoder& out);

 private:
  CSubscription& Find(RequestContext& ctx, uint32_t id);
  // Reads MonitoringParameters and revises them; a Bad status when the
  // filter cannot be had.
  uint32_t ReadParameters(CUaDecoder& in, const CSubscription& sub, uint32_t attribute,
                          MonitoringSettings& s);
  uint32_t CreateOne(CSubscription& sub, CUaDecoder& in, uint32_t timestamps, size_t& itemCount,
                     CUaEncoder& out);
  void WriteRevised(CUaEncoder& out, uint32_t status, const MonitoringSettings& s);

  CUaServer& m_server;
};

}  // namespace tagserver
