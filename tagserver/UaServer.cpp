#include "tagserver/UaServer.h"

#include <algorithm>
#include <random>
#include <stdexcept>

#include "opcua/UaStatusCodes.h"
#include "tagserver/PkiStore.h"
#include "tagserver/RequestHeader.h"
#include "tagserver/SymmetricCrypto.h"
#include "tagserver/UaConnection.h"
#include "tagserver/UaDecoder.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaServiceError.h"

namespace tagserver {

namespace {

// Changes handed to monitored items in one turn of the server's loop: short
// enough that a request waits little behind them.
constexpr size_t kChangesPerTurn = 4096;

constexpr const char* kBinaryProfile =
    "http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary";
// Clients pick the endpoint with the highest level they can use.
uint8_t SecurityLevel(const SecurityPolicy& policy, SecurityMode mode) {
  if (!policy.Secure()) return 0;
  return static_cast<uint8_t>(static_cast<int>(policy.id) +
                              (mode == SecurityMode::SignAndEncrypt ? 10 : 0));
}

void WriteSignature(UaEncoder& out, const SignatureData& signature) {
  if (signature.algorithm.empty()) {
    out.NullString();
    out.NullString();
    return;
  }
  out.String(signature.algorithm);
  out.Bytes(signature.signature);
}

// A handler of a service's structure as one of the dispatcher: the request
// is read whole before the handler sees any of it.
template <typename Owner, typename Request>
auto Reading(Owner& owner, void (Owner::*fn)(RequestContext&, const Request&, UaEncoder&)) {
  return [&owner, fn](RequestContext& ctx, UaDecoder& in, UaEncoder& out) {
    (owner.*fn)(ctx, Request::read(in), out);
  };
}

}  // namespace

void BeginResponse(UaEncoder& out, const RequestContext& ctx, uint32_t responseTypeId) {
  out.NodeId(UaNodeId::Num(0, responseTypeId));
  UaServer::WriteResponseHeader(out, ctx.requestHandle, UaStatus::Good);
}

UaServer::UaServer(asio::io_context& io, TagStore& tags, ServerInfo info)
    : m_io(io),
      m_tags(tags),
      m_space(tags, std::move(info)),
      m_view(m_space),
      m_attributes(*this),
      m_subscriptions(*this),
      m_random(std::random_device{}()),
      m_heldWrites(io),
      m_logins(io) {
  RegisterServices();
}

UaServer::~UaServer() {
  m_timers.clear();
  m_sessions.clear();
}

void UaServer::WriteResponseHeader(UaEncoder& out, uint32_t requestHandle, uint32_t status) {
  out.DateTime(UaNow());
  out.UInt32(requestHandle);
  out.StatusCode(status);
  out.EmptyDiagnosticInfo();
  out.NullArray();
  out.NodeId({});
  out.Byte(0);
}

std::vector<uint8_t> UaServer::ServiceFault(uint32_t requestHandle, uint32_t status) {
  UaEncoder out;
  out.NodeId(UaNodeId::Num(0, UaId::ServiceFault_Encoding_DefaultBinary));
  WriteResponseHeader(out, requestHandle, status);
  return std::move(out.Buffer());
}

void UaServer::RegisterServices() {
  using namespace UaId;
  auto bind = [this](auto fn) { return Reading(*this, fn); };
  auto view = [this](auto fn) { return Reading(m_view, fn); };
  auto attr = [this](auto fn) { return Reading(m_attributes, fn); };
  auto subs = [this](auto fn) { return Reading(m_subscriptions, fn); };
  m_services[GetEndpointsRequest_Encoding_DefaultBinary] = {bind(&UaServer::GetEndpoints), false};
  m_services[FindServersRequest_Encoding_DefaultBinary] = {bind(&UaServer::FindServers), false};
  m_services[CreateSessionRequest_Encoding_DefaultBinary] = {bind(&UaServer::CreateSession), false};
  m_services[ActivateSessionRequest_Encoding_DefaultBinary] = {bind(&UaServer::ActivateSession),
                                                               false};
  m_services[CloseSessionRequest_Encoding_DefaultBinary] = {bind(&UaServer::CloseSessionService),
                                                            false};
  m_services[BrowseRequest_Encoding_DefaultBinary] = {view(&ViewService::Browse), true};
  m_services[BrowseNextRequest_Encoding_DefaultBinary] = {view(&ViewService::BrowseNext), true};
  m_services[TranslateBrowsePathsToNodeIdsRequest_Encoding_DefaultBinary] = {
      view(&ViewService::Translate), true};
  m_services[RegisterNodesRequest_Encoding_DefaultBinary] = {view(&ViewService::RegisterNodes),
                                                             true};
  m_services[UnregisterNodesRequest_Encoding_DefaultBinary] = {view(&ViewService::UnregisterNodes),
                                                               true};
  m_services[ReadRequest_Encoding_DefaultBinary] = {attr(&AttributeService::Read), true};
  m_services[WriteRequest_Encoding_DefaultBinary] = {attr(&AttributeService::Write), true};
  m_services[CreateSubscriptionRequest_Encoding_DefaultBinary] = {
      subs(&SubscriptionService::Create), true};
  m_services[ModifySubscriptionRequest_Encoding_DefaultBinary] = {
      subs(&SubscriptionService::Modify), true};
  m_services[DeleteSubscriptionsRequest_Encoding_DefaultBinary] = {
      subs(&SubscriptionService::Delete), true};
  m_services[SetPublishingModeRequest_Encoding_DefaultBinary] = {
      subs(&SubscriptionService::SetPublishingMode), true};
  m_services[PublishRequest_Encoding_DefaultBinary] = {subs(&SubscriptionService::Publish), true};
  m_services[RepublishRequest_Encoding_DefaultBinary] = {subs(&SubscriptionService::Republish),
                                                         true};
  m_services[CreateMonitoredItemsRequest_Encoding_DefaultBinary] = {
      subs(&SubscriptionService::CreateItems), true};
  m_services[ModifyMonitoredItemsRequest_Encoding_DefaultBinary] = {
      subs(&SubscriptionService::ModifyItems), true};
  m_services[DeleteMonitoredItemsRequest_Encoding_DefaultBinary] = {
      subs(&SubscriptionService::DeleteItems), true};
  m_services[SetMonitoringModeRequest_Encoding_DefaultBinary] = {
      subs(&SubscriptionService::SetMonitoringMode), true};
}

void UaServer::SetSecurity(const EndpointSecurity& settings, std::shared_ptr<const PkiStore> pki,
                           std::shared_ptr<const UserDirectory> users) {
  m_security = settings;
  m_security.offerSecure = m_security.offerSecure && pki != nullptr;
  m_pki = std::move(pki);
  m_users = std::move(users);
}

// Nonces and session tokens that secure something come from OpenSSL's
// generator.
ByteString UaServer::Nonce(const UaConnection& conn, size_t n) {
  return conn.Security().Policy().Secure() ? SymmetricCrypto::RandomBytes(n) : RandomBytes(n);
}

ByteString UaServer::RandomBytes(size_t n) {
  ByteString out(n);
  for (auto& b : out) b = static_cast<uint8_t>(m_random());
  return out;
}

Session* UaServer::FindSession(const UaNodeId& token) {
  for (auto& s : m_sessions)
    if (s->Token() == token) return s.get();
  return nullptr;
}

void UaServer::OnRequest(const std::shared_ptr<UaConnection>& conn, uint32_t requestId,
                         const std::vector<uint8_t>& message) {
  UaDecoder in(message.data(), message.size());
  RequestContext ctx{*this, conn, requestId};
  try {
    UaNodeId type = in.NodeId();
    RequestHeader header = RequestHeader::read(in);
    ctx.requestHandle = header.requestHandle;
    ctx.timeoutHint = header.timeoutHint;
    auto it = type.ns == 0 && type.kind == UaNodeId::Kind::Numeric ? m_services.find(type.numeric)
                                                                   : m_services.end();
    if (it == m_services.end()) throw UaServiceError(UaStatus::BadServiceUnsupported);
    ctx.session = FindSession(header.authenticationToken);
    UaEncoder out;
    Dispatch(ctx, it->second, in, out);
    if (ctx.deferred) return;
    if (conn->MaxResponseSize() != 0 && out.Size() > conn->MaxResponseSize())
      throw UaServiceError(UaStatus::BadResponseTooLarge);
    conn->SendMessage(requestId, out.Buffer());
  } catch (const UaServiceError& e) {
    conn->SendMessage(requestId, ServiceFault(ctx.requestHandle, e.Status()));
  } catch (const UaDecodeError& e) {
    conn->Fail(e.Status(), e.what());
  } catch (const std::exception& e) {
    // Whatever else went wrong with this request ends its connection only.
    conn->Fail(UaStatus::BadInternalError, e.what());
  }
}

void UaServer::Dispatch(RequestContext& ctx, const Service& service, UaDecoder& in,
                        UaEncoder& out) {
  if (service.needsSession) {
    if (ctx.session == nullptr) throw UaServiceError(UaStatus::BadSessionIdInvalid);
    if (!ctx.session->Activated()) throw UaServiceError(UaStatus::BadSessionNotActivated);
    if (!ctx.session->BoundTo(ctx.connection.get()))
      throw UaServiceError(UaStatus::BadSecureChannelIdInvalid);
    ctx.session->Touch(SteadyMs());
  }
  service.handler(ctx, in, out);
}

void UaServer::OnConnectionClosed(UaConnection* conn) {
  // A session never activated has no other way back; its slot is freed now.
  std::vector<Session*> unactivated;
  for (auto& s : m_sessions) {
    if (!s->Activated() && s->BoundTo(conn)) {
      unactivated.push_back(s.get());
    } else {
      s->Detach(conn);
    }
  }
  for (Session* s : unactivated) CloseSession(s, true);
}

bool UaServer::HasSessionOn(const UaConnection* conn) const {
  return std::any_of(m_sessions.begin(), m_sessions.end(),
                     [conn](const auto& s) { return s->BoundTo(conn); });
}

bool UaServer::AdmitChannel(const std::shared_ptr<UaConnection>& conn) {
  const std::string address = conn->PeerAddress();
  if (address.empty()) return true;
  std::erase_if(m_channels, [](const auto& weak) {
    auto c = weak.lock();
    return !c || !c->IsOpen();
  });
  const auto from = std::count_if(m_channels.begin(), m_channels.end(), [&](const auto& weak) {
    return weak.lock()->PeerAddress() == address;
  });
  if (static_cast<size_t>(from) >= limits::kMaxChannelsPerAddress) return false;
  m_channels.push_back(conn);
  return true;
}

size_t UaServer::SessionsFrom(const std::string& address) const {
  return static_cast<size_t>(std::count_if(m_sessions.begin(), m_sessions.end(),
                                           [&](const auto& s) { return s->Address() == address; }));
}

void UaServer::OnTagChanges() {
  const bool more = m_tags.TakeChanges(m_changes, kChangesPerTurn);
  for (auto& [node, sample] : m_changes)
    for (MonitoredItem* item : node->watchers) item->Push(sample);
  // Requests that arrived meanwhile are served before the rest, which
  // waits in the store, where a tag's later updates replace its earlier.
  if (more) asio::post(m_io, [this] { OnTagChanges(); });
}

void UaServer::Housekeeping(int64_t now) {
  std::vector<Session*> expired;
  for (auto& s : m_sessions) {
    const bool unactivatedTooLong =
        !s->Activated() && s->IdleMs(now) > m_allowances.unactivatedSessionMs;
    if (unactivatedTooLong || s->TimedOut(now)) {
      expired.push_back(s.get());
    } else {
      s->ExpirePublishes(now);
    }
  }
  for (Session* s : expired) CloseSession(s, true);
}

void UaServer::CloseSession(Session* session, bool deleteSubscriptions) {
  (void)deleteSubscriptions;  // subscriptions cannot outlive their session here
  for (auto& [id, sub] : session->Subscriptions()) StopSubscriptionTimer(id);
  session->FailPublishes(UaStatus::BadSessionClosed);
  m_sessions.erase(std::remove_if(m_sessions.begin(), m_sessions.end(),
                                  [&](const auto& s) { return s.get() == session; }),
                   m_sessions.end());
}

void UaServer::StartSubscriptionTimer(Session& session, uint32_t id) {
  const uint64_t start = m_nNextTimerStart++;
  auto& entry = m_timers[id] = {std::make_unique<asio::steady_timer>(m_io), &session, start};
  auto interval = std::chrono::microseconds(
      static_cast<int64_t>(session.FindSubscription(id)->Settings().publishingInterval * 1000));
  entry.timer->expires_after(interval);
  WaitForTick(*entry.timer, id, start);
}

void UaServer::WaitForTick(asio::steady_timer& timer, uint32_t id, uint64_t start) {
  timer.async_wait([this, id, start](const asio::error_code& ec) {
    if (!ec) OnSubscriptionTick(id, start);
  });
}

void UaServer::StopSubscriptionTimer(uint32_t id) { m_timers.erase(id); }

void UaServer::OnSubscriptionTick(uint32_t id, uint64_t start) {
  auto entry = m_timers.find(id);
  // A tick queued before its timer was stopped finds nothing, or a newer start.
  if (entry == m_timers.end() || entry->second.start != start) return;
  Session* session = entry->second.session;
  Subscription* sub = session->FindSubscription(id);
  if (sub == nullptr) return;
  if (!sub->Tick()) {
    sub->SendTimeoutStatus();
    StopSubscriptionTimer(id);
    session->Subscriptions().erase(id);
    return;
  }
  // The tick's answers may have ended the connection, and with it the session.
  entry = m_timers.find(id);
  if (entry == m_timers.end() || entry->second.start != start) return;
  asio::steady_timer& timer = *entry->second.timer;
  // Scheduled from the previous expiry so that the cycle does not drift.
  auto interval =
      std::chrono::microseconds(static_cast<int64_t>(sub->Settings().publishingInterval * 1000));
  auto next = timer.expiry() + interval;
  auto now = asio::steady_timer::clock_type::now();
  timer.expires_at(next < now ? now : next);
  WaitForTick(timer, id, start);
}

void UaServer::WriteApplicationDescription(UaEncoder& out) const {
  const ServerInfo& info = m_space.Info();
  out.String(info.applicationUri);
  out.String(info.productUri);
  out.LocalizedText({"en", info.productName});
  out.UInt32(0);  // Server
  out.NullString();
  out.NullString();
  out.StringArray({m_strEndpointUrl});
}

void UaServer::WriteEndpoints(UaEncoder& out) const {
  std::vector<std::pair<const SecurityPolicy*, SecurityMode>> offered;
  for (const SecurityPolicy& policy : SecurityPolicy::All())
    for (SecurityMode mode : {SecurityMode::None, SecurityMode::Sign, SecurityMode::SignAndEncrypt})
      if (m_security.Offers(policy, mode)) offered.emplace_back(&policy, mode);
  out.Int32(static_cast<int32_t>(offered.size()));
  for (const auto& [policy, mode] : offered) WriteEndpoint(out, *policy, mode);
}

void UaServer::WriteEndpoint(UaEncoder& out, const SecurityPolicy& policy,
                             SecurityMode mode) const {
  out.String(m_strEndpointUrl);
  WriteApplicationDescription(out);
  if (m_pki != nullptr) {
    out.Bytes(m_pki->Own().Der());
  } else {
    out.NullString();
  }
  out.UInt32(static_cast<uint32_t>(mode));
  out.String(policy.uri);
  WriteUserTokenPolicies(out, policy);
  out.String(kBinaryProfile);
  out.Byte(SecurityLevel(policy, mode));
}

void UaServer::WriteUserTokenPolicies(UaEncoder& out, const SecurityPolicy& policy) const {
  const bool anonymous = m_security.anonymous != AnonymousAccess::Off;
  const bool userName = m_pki != nullptr && m_users != nullptr;
  out.Int32((anonymous ? 1 : 0) + (userName ? 1 : 0));
  if (anonymous) {
    out.String(SessionSecurity::kAnonymousPolicy);
    out.UInt32(0);  // Anonymous
    out.NullString();
    out.NullString();
    out.NullString();
  }
  if (userName) {
    out.String(SessionSecurity::kUserNamePolicy);
    out.UInt32(1);  // UserName
    out.NullString();
    out.NullString();
    // On a plain endpoint the password is still encrypted, to the server's key.
    out.String(SessionSecurity::PasswordPolicy(policy).uri);
  }
}

void UaServer::GetEndpoints(RequestContext& ctx, const GetEndpointsRequest& request,
                            UaEncoder& out) {
  const auto& profiles = request.profileUris;
  bool offered = profiles.empty() ||
                 std::find(profiles.begin(), profiles.end(), kBinaryProfile) != profiles.end();
  BeginResponse(out, ctx, UaId::GetEndpointsResponse_Encoding_DefaultBinary);
  if (offered) {
    WriteEndpoints(out);
  } else {
    out.Int32(0);
  }
}

void UaServer::FindServers(RequestContext& ctx, const FindServersRequest& request, UaEncoder& out) {
  const auto& uris = request.serverUris;
  const std::string& ours = m_space.Info().applicationUri;
  bool listed = uris.empty() || std::find(uris.begin(), uris.end(), ours) != uris.end();
  BeginResponse(out, ctx, UaId::FindServersResponse_Encoding_DefaultBinary);
  out.Int32(listed ? 1 : 0);
  if (listed) WriteApplicationDescription(out);
}

void UaServer::CheckChannelOffered(const ChannelSecurity& channel) const {
  if (!m_security.Offers(channel.Policy(), channel.Mode()))
    throw UaServiceError(UaStatus::BadSecurityPolicyRejected);
}

void UaServer::CreateSession(RequestContext& ctx, const CreateSessionRequest& request,
                             UaEncoder& out) {
  double timeout = request.requestedSessionTimeout;
  if (m_sessions.size() >= limits::kMaxSessions) throw UaServiceError(UaStatus::BadTooManySessions);
  const std::string address = ctx.connection->PeerAddress();
  if (!address.empty() && SessionsFrom(address) >= limits::kMaxSessionsPerAddress)
    throw UaServiceError(UaStatus::BadTooManySessions);
  const ChannelSecurity& channel = ctx.connection->Security();
  CheckChannelOffered(channel);
  Checks().CheckCreate(channel, request);
  if (!(timeout >= limits::kMinSessionTimeoutMs)) timeout = limits::kMinSessionTimeoutMs;
  timeout = std::min(timeout, limits::kMaxSessionTimeoutMs);
  ByteString tokenBytes = Nonce(*ctx.connection, 16);
  UaNodeId token{0, UaNodeId::Kind::Opaque, 0, std::string(tokenBytes.begin(), tokenBytes.end())};
  UaNodeId id = UaNodeId::Num(1, 100000 + m_nNextSessionId++);
  auto session = std::make_unique<Session>(m_space, id, token, timeout);
  // Bound to the channel, but no service runs on it before ActivateSession.
  session->Bind(ctx.connection);
  session->SetAddress(address);
  session->SetNonce(Nonce(*ctx.connection));
  session->SetClientCertificate(channel.PeerCertificate().Der());
  const ByteString nonce = session->Nonce();
  m_sessions.push_back(std::move(session));

  BeginResponse(out, ctx, UaId::CreateSessionResponse_Encoding_DefaultBinary);
  out.NodeId(id);
  out.NodeId(token);
  out.Double(timeout);
  out.Bytes(nonce);
  if (m_pki != nullptr) {
    out.Bytes(m_pki->Own().Der());
  } else {
    out.NullString();
  }
  WriteEndpoints(out);
  out.EmptyArray();
  WriteSignature(out, Checks().Sign(channel, request.clientCertificate, request.clientNonce));
  out.UInt32(limits::kMaxMessageSize);
}

void UaServer::ActivateSession(RequestContext& ctx, const ActivateSessionRequest& request,
                               UaEncoder& out) {
  if (ctx.session == nullptr) throw UaServiceError(UaStatus::BadSessionIdInvalid);
  // The first activation must come over the channel that created the session.
  if (!ctx.session->Activated() && !ctx.session->BoundTo(ctx.connection.get()))
    throw UaServiceError(UaStatus::BadSecureChannelIdInvalid);
  const ChannelSecurity& channel = ctx.connection->Security();
  CheckChannelOffered(channel);
  // Another channel takes a session over only for the application that made it.
  if (channel.PeerCertificate().Der() != ctx.session->ClientCertificate())
    throw UaServiceError(UaStatus::BadApplicationSignatureInvalid);
  SessionSecurity checks = Checks();
  checks.VerifyClient(channel, request.clientSignature, ctx.session->Nonce());
  if (auto login = checks.Login(channel, request.userIdentityToken, ctx.session->Nonce())) {
    StartLogin(ctx, std::move(*login));
    return;
  }
  Activate(ctx, checks.Identify(request.userIdentityToken), out);
}

// The password is checked off the server thread and the answer sent when it
// is; by then the session or the connection may be gone, so both are found
// again rather than kept.
void UaServer::StartLogin(RequestContext& ctx, SessionSecurity::UserLogin login) {
  PendingLogin pending{ctx.connection, ctx.session->Token(), ctx.session->Nonce(), ctx.requestId,
                       ctx.requestHandle};
  auto done = [this, pending = std::move(pending)](std::optional<UserRole> role) {
    FinishLogin(pending, role);
  };
  if (!m_logins.Start(m_users, ctx.connection->PeerAddress(), std::move(login.name),
                      std::move(login.password), std::move(done)))
    throw UaServiceError(UaStatus::BadTooManyOperations);
  ctx.deferred = true;
}

void UaServer::FinishLogin(const PendingLogin& login, std::optional<UserRole> role) {
  std::shared_ptr<UaConnection> conn = login.connection.lock();
  if (!conn || !conn->IsOpen()) return;
  RequestContext ctx{*this, conn, login.requestId};
  ctx.requestHandle = login.requestHandle;
  ctx.session = FindSession(login.sessionToken);
  uint32_t status = UaStatus::Good;
  if (!role) {
    status = UaStatus::BadUserAccessDenied;
  } else if (ctx.session == nullptr) {
    status = UaStatus::BadSessionIdInvalid;
  } else if (!ctx.session->Activated() && !ctx.session->BoundTo(conn.get())) {
    status = UaStatus::BadSecureChannelIdInvalid;
  } else if (ctx.session->Nonce() != login.nonce) {
    // Another activation came first; this password was sealed with a nonce
    // now spent.
    status = UaStatus::BadIdentityTokenInvalid;
  }
  if (status != UaStatus::Good) {
    conn->SendMessage(login.requestId, ServiceFault(login.requestHandle, status));
    return;
  }
  UaEncoder out;
  Activate(ctx, *role, out);
  conn->SendMessage(login.requestId, out.Buffer());
}

void UaServer::Activate(RequestContext& ctx, UserRole role, UaEncoder& out) {
  ctx.session->SetCanWrite(role == UserRole::ReadWrite);
  ctx.session->Activate(ctx.connection);
  ctx.session->Touch(SteadyMs());
  ctx.session->SetNonce(Nonce(*ctx.connection));
  BeginResponse(out, ctx, UaId::ActivateSessionResponse_Encoding_DefaultBinary);
  out.Bytes(ctx.session->Nonce());
  out.EmptyArray();
  out.EmptyArray();
}

void UaServer::CloseSessionService(RequestContext& ctx, const CloseSessionRequest& request,
                                   UaEncoder& out) {
  if (ctx.session == nullptr || !ctx.session->BoundTo(ctx.connection.get()))
    throw UaServiceError(UaStatus::BadSessionIdInvalid);
  CloseSession(ctx.session, request.deleteSubscriptions);
  ctx.session = nullptr;
  BeginResponse(out, ctx, UaId::CloseSessionResponse_Encoding_DefaultBinary);
}

}  // namespace tagserver
