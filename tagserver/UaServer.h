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
#include "tagserver/BufferBudget.h"
#include "tagserver/DiscoveryRequests.h"
#include "tagserver/EndpointSecurity.h"
#include "tagserver/HeldWrites.h"
#include "tagserver/RequestContext.h"
#include "tagserver/Session.h"
#include "tagserver/SessionRequests.h"
#include "tagserver/SessionSecurity.h"
#include "tagserver/SubscriptionService.h"
#include "tagserver/TagStore.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UserDirectory.h"
#include "tagserver/UserLogins.h"
#include "tagserver/ViewService.h"

namespace tagserver {

class UaConnection;
class UaDecoder;
class PkiStore;

// Hands a client's write to the program; returns an OPC UA status code, or
// GoodCompletesAsynchronously when the program completes the token later.
using WriteHandler = std::function<uint32_t(int32_t handle, VARIANT& value, uint64_t token)>;

class UaServer {
 public:
  UaServer(asio::io_context& io, TagStore& tags, ServerInfo info);
  ~UaServer();

  void SetEndpointUrl(const std::string& url) { m_strEndpointUrl = url; }
  // The certificate store (null: the server has no certificate and offers
  // policy None only), the users file and what the endpoint offers.
  void SetSecurity(const EndpointSecurity& settings, std::shared_ptr<const PkiStore> pki,
                   std::shared_ptr<const UserDirectory> users);
  const EndpointSecurity& Security() const { return m_security; }
  const PkiStore* Pki() const { return m_pki.get(); }
  void SetWriteHandler(WriteHandler handler) { m_writeHandler = std::move(handler); }
  const WriteHandler& Writer() const { return m_writeHandler; }
  AddressSpace& Space() { return m_space; }
  HeldWrites& PendingWrites() { return m_heldWrites; }

  uint32_t NextChannelId() { return m_nNextChannelId++; }
  void SetAllowances(const limits::Allowances& allowances) { m_allowances = allowances; }
  const limits::Allowances& Allowances() const { return m_allowances; }
  const std::shared_ptr<BufferBudget>& Buffers() const { return m_buffers; }
  // False when the connection's address has all the channels it may open;
  // otherwise the connection counts against its address from now on.
  bool AdmitChannel(const std::shared_ptr<UaConnection>& conn);
  bool HasSessionOn(const UaConnection* conn) const;
  // Session tokens and nonces come from a generator seeded at random; a
  // fixed seed makes a recorded conversation replay (the fuzzer's seeds).
  void SeedRandom(uint64_t seed) { m_random.seed(seed); }
  void OnRequest(const std::shared_ptr<UaConnection>& conn, uint32_t requestId,
                 const std::vector<uint8_t>& message);
  void OnConnectionClosed(UaConnection* conn);
  // Hands changed tags to the monitored items watching them, a bounded
  // number at a time; the next turn is queued behind what waits already.
  void OnTagChanges();
  // Once a second: session and Publish timeouts, against the steady clock.
  void Housekeeping(int64_t nowMs);

  // Subscriptions are run by a timer each.
  void StartSubscriptionTimer(Session& session, uint32_t id);
  void StopSubscriptionTimer(uint32_t id);
  uint32_t NextSubscriptionId() { return m_nNextSubscriptionId++; }
  size_t SubscriptionCount() const { return m_timers.size(); }
  // Failed logins whose answer waits out the throttle's delay.
  size_t DelayedLogins() const { return m_logins.Delayed(); }

  static void WriteResponseHeader(UaEncoder& out, uint32_t requestHandle, uint32_t status);
  static std::vector<uint8_t> ServiceFault(uint32_t requestHandle, uint32_t status);

 private:
  using Handler = std::function<void(RequestContext&, UaDecoder&, UaEncoder&)>;
  struct Service {
    Handler handler;
    bool needsSession;
  };

  void RegisterServices();
  void Dispatch(RequestContext& ctx, const Service& service, UaDecoder& in, UaEncoder& out);
  Session* FindSession(const UaNodeId& token);
  void CloseSession(Session* session, bool deleteSubscriptions);
  // A queued tick finds its timer by id and start, never by a pointer that
  // the session's end may have freed.
  void WaitForTick(asio::steady_timer& timer, uint32_t id, uint64_t start);
  void OnSubscriptionTick(uint32_t id, uint64_t start);
  size_t SessionsFrom(const std::string& address) const;

  void CreateSession(RequestContext& ctx, const CreateSessionRequest& request, UaEncoder& out);
  void ActivateSession(RequestContext& ctx, const ActivateSessionRequest& request, UaEncoder& out);
  // An ActivateSession whose password is being checked.
  struct PendingLogin {
    std::weak_ptr<UaConnection> connection;
    UaNodeId sessionToken;
    ByteString nonce;  // the password came with
    uint32_t requestId = 0;
    uint32_t requestHandle = 0;
  };
  void StartLogin(RequestContext& ctx, SessionSecurity::UserLogin login);
  void FinishLogin(const PendingLogin& login, std::optional<UserRole> role);
  void Activate(RequestContext& ctx, UserRole role, UaEncoder& out);
  void CloseSessionService(RequestContext& ctx, const CloseSessionRequest& request, UaEncoder& out);
  void GetEndpoints(RequestContext& ctx, const GetEndpointsRequest& request, UaEncoder& out);
  void FindServers(RequestContext& ctx, const FindServersRequest& request, UaEncoder& out);
  void WriteApplicationDescription(UaEncoder& out) const;
  void WriteEndpoints(UaEncoder& out) const;
  void WriteEndpoint(UaEncoder& out, const SecurityPolicy& policy, SecurityMode mode) const;
  void WriteUserTokenPolicies(UaEncoder& out, const SecurityPolicy& policy) const;
  void CheckChannelOffered(const ChannelSecurity& channel) const;
  SessionSecurity Checks() const { return {m_security, m_pki.get(), m_users.get()}; }
  ByteString Nonce(const UaConnection& conn, size_t n = SecurityPolicy::kNonceLength);
  ByteString RandomBytes(size_t n);

  asio::io_context& m_io;
  TagStore& m_tags;
  AddressSpace m_space;
  ViewService m_view;
  AttributeService m_attributes;
  SubscriptionService m_subscriptions;
  std::string m_strEndpointUrl;
  EndpointSecurity m_security;
  std::shared_ptr<const PkiStore> m_pki;
  std::shared_ptr<const UserDirectory> m_users;
  WriteHandler m_writeHandler;
  std::map<uint32_t, Service> m_services;
  std::vector<std::unique_ptr<Session>> m_sessions;
  struct SubscriptionTimer {
    std::unique_ptr<asio::steady_timer> timer;
    Session* session;  // a session's timers end before it does
    uint64_t start;
  };
  std::map<uint32_t, SubscriptionTimer> m_timers;
  uint64_t m_nNextTimerStart = 1;
  limits::Allowances m_allowances;
  std::shared_ptr<BufferBudget> m_buffers = std::make_shared<BufferBudget>(limits::kBufferBudget);
  std::vector<std::weak_ptr<UaConnection>> m_channels;
  std::vector<std::pair<TagNode*, TagSample>> m_changes;
  uint32_t m_nNextChannelId = 1;
  uint32_t m_nNextSessionId = 1;
  uint32_t m_nNextSubscriptionId = 1;
  std::mt19937_64 m_random;
  HeldWrites m_heldWrites;
  // Last, so that no login's result arrives while the rest goes away.
  UserLogins m_logins;
};

}  // namespace tagserver
