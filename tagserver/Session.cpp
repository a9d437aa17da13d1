#include "tagserver/Session.h"

#include "opcua/UaStatusCodes.h"
#include "tagserver/UaConnection.h"
#include "tagserver/UaEncoder.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaServer.h"

namespace tagserver {

Session::Session(AddressSpace& space, UaNodeId id, UaNodeId token, double timeoutMs)
    : m_space(space),
      m_id(std::move(id)),
      m_token(std::move(token)),
      m_fTimeoutMs(timeoutMs),
      m_nLastSeenMs(SteadyMs()) {}

void Session::Activate(const std::shared_ptr<UaConnection>& conn) {
  if (m_bActivated && !BoundTo(conn.get())) FailPublishes(UaStatus::BadSecureChannelIdInvalid);
  m_bActivated = true;
  m_conn = conn;
}

size_t Session::MaxResponseSize() const {
  auto c = m_conn.lock();
  return c ? c->MaxResponseSize() : 0;
}

bool Session::BoundTo(const UaConnection* conn) const {
  auto c = m_conn.lock();
  return c.get() == conn;
}

void Session::Detach(const UaConnection* conn) {
  if (!BoundTo(conn)) return;
  m_conn.reset();
  m_publishes.clear();
}

Subscription* Session::FindSubscription(uint32_t id) {
  auto it = m_subs.find(id);
  return it == m_subs.end() ? nullptr : it->second.get();
}

size_t Session::MonitoredItemCount() const {
  size_t n = 0;
  for (const auto& [id, sub] : m_subs) n += sub->Items().size();
  return n;
}

void Session::DropDeadPublishes() {
  while (!m_publishes.empty()) {
    auto conn = m_publishes.front().connection.lock();
    if (conn && conn->HasChannel()) return;
    m_publishes.pop_front();
  }
}

bool Session::HasPublish() {
  DropDeadPublishes();
  return !m_publishes.empty();
}

void Session::QueuePublish(PendingPublish&& p) {
  if (m_publishes.size() >= limits::kMaxPublishRequestsPerSession)
    FailOnePublish(UaStatus::BadTooManyPublishRequests);
  m_publishes.push_back(std::move(p));
  for (auto& [id, sub] : m_subs) sub->ResetLifetime();
}

void Session::SendPublishResponse(Subscription& sub, const std::vector<uint8_t>& message,
                                  bool more) {
  DropDeadPublishes();
  if (m_publishes.empty()) return;
  PendingPublish p = std::move(m_publishes.front());
  m_publishes.pop_front();
  UaEncoder out;
  out.Buffer().reserve(message.size() + 128);
  out.NodeId(UaNodeId::Num(0, UaId::PublishResponse_Encoding_DefaultBinary));
  UaServer::WriteResponseHeader(out, p.requestHandle, UaStatus::Good);
  out.UInt32(sub.Id());
  out.UInt32Array(sub.AvailableSequenceNumbers());
  out.Boolean(more);
  out.Raw(message.data(), message.size());
  out.StatusArray(p.ackResults);
  out.EmptyArray();
  if (auto conn = p.connection.lock()) conn->SendMessage(p.requestId, out.Buffer());
}

void Session::FailOnePublish(uint32_t status) {
  DropDeadPublishes();
  if (m_publishes.empty()) return;
  PendingPublish p = std::move(m_publishes.front());
  m_publishes.pop_front();
  if (auto conn = p.connection.lock())
    conn->SendMessage(p.requestId, UaServer::ServiceFault(p.requestHandle, status));
}

void Session::FailPublishes(uint32_t status) {
  while (HasPublish()) FailOnePublish(status);
}

void Session::ExpirePublishes(int64_t nowMs) {
  while (HasPublish() && m_publishes.front().deadlineMs != 0 &&
         m_publishes.front().deadlineMs <= nowMs)
    FailOnePublish(UaStatus::BadTimeout);
}

std::string Session::NewContinuationPointId() {
  uint64_t n = m_nNextPoint++;
  return std::string(reinterpret_cast<const char*>(&n), sizeof n);
}

}  // namespace tagserver
