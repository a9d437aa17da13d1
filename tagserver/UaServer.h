// The server proper: takes complete requests from connections, finds their
// session, runs the service and sends the answer. Everything here runs on
// the server thread.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/Variant.h"
#include "tagserver/AddressSpace.h"
#include "tagserver/AttributeService.h"
#include "tagserver/DiscoveryRequests.h"
#include "tagserver/HeldWrites.h"
#include "tagserver/RequestContext.h"
#include "tagserver/Session.h"
#include "tagserver/SessionRequests.h"
#include "tagserver/SubscriptionService.h"
#include "tagserver/TagStore.h"
#include "tagserver/ViewService.h"

namespace tagserver {

class CUaConnection;
class CUaDecoder;

// Hands a client's write to the program; returns an OPC UA status code, or
// GoodCompletesAsynchronously when the program completes the token later.
using WriteHandler = std::function<uint32_t(int32_t handle, VARIANT& value, uint64_t token)>;

class CUaServer {
 public:
  CUaServer(asio::io_context& io, CTagStore& tags, ServerInfo info);
  ~CUaServer();

  void SetEndpointUrl(const std::string& url) { m_strEndpointUrl = url; }
  void SetWriteHandler(WriteHandler handler) { m_writeHandler = std::move(handler); }
  const WriteHandler& Writer() const { return m_writeHandler; }
  CAddressSpace& Space() { return m_space; }
  CHeldWrites& HeldWrites() { return m_heldWrites; }

  uint32_t NextChannelId() { return m_nNextChannelId++; }
  // Session tokens and nonces come from a generator seeded at random; a
  // fixed seed makes a recorded conversation replay (the fuzzer's seeds).
  void SeedRandom(uint64_t seed) { m_random.seed(seed); }
  void OnRequest(const std::shared_ptr<CUaConnection>& conn, uint32_t requestId,
                 const std::vector<uint8_t>& message);
  void OnConnectionClosed(CUaConnection* conn);
  // Hands changed tags to the monitored items watching them.
  void OnTagChanges();
  // Once a second: session and Publish timeouts, against the steady clock.
  void Housekeeping(int64_t nowMs);

  // Subscriptions are run by a timer each.
  void StartSubscriptionTimer(CSession& session, uint32_t id);
  void StopSubscriptionTimer(uint32_t id);
  uint32_t NextSubscriptionId() { return m_nNextSubscriptionId++; }
  size_t SubscriptionCount() const { return m_timers.size(); }

  static void WriteResponseHeader(CUaEncoder& out, uint32_t requestHandle, uint32_t status);
  static std::vector<uint8_t> ServiceFault(uint32_t requestHandle, uint32_t status);

 private:
  using Handler = std::function<void(RequestContext&, CUaDecoder&, CUaEncoder&)>;
  struct Service {
    Handler handler;
    bool needsSession;
  };

  void RegisterServices();
  void Dispatch(RequestContext& ctx, const Service& service, CUaDecoder& in, CUaEncoder& out);
  CSession* FindSession(const UaNodeId& token);
  void CloseSession(CSession* session, bool deleteSubscriptions);
  void OnSubscriptionTick(CSession* session, uint32_t id);

  void CreateSession(RequestContext& ctx, const CreateSessionRequest& request, CUaEncoder& out);
  void ActivateSession(RequestContext& ctx, const ActivateSessionRequest& request, CUaEncoder& out);
  void CloseSessionService(RequestContext& ctx, const CloseSessionRequest& request,
                           CUaEncoder& out);
  void GetEndpoints(RequestContext& ctx, const GetEndpointsRequest& request, CUaEncoder& out);
  void FindServers(RequestContext& ctx, const FindServersRequest& request, CUaEncoder& out);
  void WriteApplicationDescription(CUaEncoder& out) const;
  void WriteEndpoint(CUaEncoder& out) const;
  ByteString RandomBytes(size_t n);

  asio::io_context& m_io;
  CTagStore& m_tags;
  CAddressSpace m_space;
  CViewService m_view;
  CAttributeService m_attributes;
  CSubscriptionService m_subscriptions;
  std::string m_strEndpointUrl;
  WriteHandler m_writeHandler;
  std::map<uint32_t, Service> m_services;
  std::vector<std::unique_ptr<CSession>> m_sessions;
  std::map<uint32_t, std::unique_ptr<asio::steady_timer>> m_timers;
  std::vector<std::pair<TagNode*, TagSample>> m_changes;
  uint32_t m_nNextChannelId = 1;
  uint32_t m_nNextSessionId = 1;
  uint32_t m_nNextSubscriptionId = 1;
  std::mt19937_64 m_random;
  CHeldWrites m_heldWrites;
};

}  // namespace tagserver
