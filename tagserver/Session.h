// A session: its identity, timeout, subscriptions, queued Publish requests
// and Browse continuation points. Lives on the server thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tagserver/AddressSpace.h"
#include "tagserver/Subscription.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

class CUaConnection;

struct PendingPublish {
  std::weak_ptr<CUaConnection> connection;
  uint32_t requestId = 0;
  uint32_t requestHandle = 0;
  int64_t deadlineMs = 0;  // 0: none
  std::vector<uint32_t> ackResults;
};

struct ContinuationPoint {
  std::vector<std::pair<NodeReference, NodeHeader>> refs;
  size_t next = 0;
  uint32_t maxRefs = 0;
  uint32_t resultMask = 0;
};

class CSession {
 public:
  CSession(CAddressSpace& space, UaNodeId id, UaNodeId token, double timeoutMs);

  CAddressSpace* Space() { return &m_space; }
  // The bound connection's limit on one response, 0 for none.
  size_t MaxResponseSize() const;
  const UaNodeId& Id() const { return m_id; }
  const UaNodeId& Token() const { return m_token; }
  bool Activated() const { return m_bActivated; }
  void Bind(const std::shared_ptr<CUaConnection>& conn) { m_conn = conn; }
  void Activate(const std::shared_ptr<CUaConnection>& conn);
  void Touch(int64_t nowMs) { m_nLastSeenMs = nowMs; }
  bool TimedOut(int64_t nowMs) const { return nowMs - m_nLastSeenMs > m_fTimeoutMs; }
  bool BoundTo(const CUaConnection* conn) const;
  void Detach(const CUaConnection* conn);

  std::map<uint32_t, std::unique_ptr<CSubscription>>& Subscriptions() { return m_subs; }
  CSubscription* Subscription(uint32_t id);
  size_t MonitoredItemCount() const;

  // Queues a Publish request; the oldest is answered with
  // BadTooManyPublishRequests when the queue is full.
  void QueuePublish(PendingPublish&& p);
  bool HasPublish();
  // Answers the oldest queued Publish request with a NotificationMessage.
  void SendPublishResponse(CSubscription& sub, const std::vector<uint8_t>& message, bool more);
  // Answers queued Publish requests whose time is up, with BadTimeout.
  void ExpirePublishes(int64_t nowMs);
  // Answers every queued Publish request with the given status.
  void FailPublishes(uint32_t status);
  // The Publish request served next, answered with a status only.
  void FailOnePublish(uint32_t status);

  std::map<std::string, ContinuationPoint>& ContinuationPoints() { return m_points; }
  std::string NewContinuationPointId();

 private:
  void DropDeadPublishes();

  CAddressSpace& m_space;
  UaNodeId m_id;
  UaNodeId m_token;
  double m_fTimeoutMs;
  bool m_bActivated = false;
  int64_t m_nLastSeenMs = 0;
  std::weak_ptr<CUaConnection> m_conn;
  std::map<uint32_t, std::unique_ptr<CSubscription>> m_subs;
  std::deque<PendingPublish> m_publishes;
  std::map<std::string, ContinuationPoint> m_points;
  uint64_t m_nNextPoint = 1;
};

}  // namespace tagserver
