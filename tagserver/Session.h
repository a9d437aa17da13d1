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

class UaConnection;

struct PendingPublish {
  std::weak_ptr<UaConnection> connection;
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

class Session {
 public:
  Session(AddressSpace& space, UaNodeId id, UaNodeId token, double timeoutMs);

  AddressSpace* Space() { return &m_space; }
  // The bound connection's limit on one response, 0 for none.
  size_t MaxResponseSize() const;
  const UaNodeId& Id() const { return m_id; }
  const UaNodeId& Token() const { return m_token; }
  bool Activated() const { return m_bActivated; }
  // The nonce the server handed out last, which the client signs next.
  const ByteString& Nonce() const { return m_nonce; }
  void SetNonce(ByteString nonce) { m_nonce = std::move(nonce); }
  // The certificate of the application that created the session, empty on
  // a plain channel.
  const ByteString& ClientCertificate() const { return m_clientCertificate; }
  void SetClientCertificate(ByteString der) { m_clientCertificate = std::move(der); }
  // False for a user or anonymous session that may only read.
  bool CanWrite() const { return m_bCanWrite; }
  void SetCanWrite(bool canWrite) { m_bCanWrite = canWrite; }
  void Bind(const std::shared_ptr<UaConnection>& conn) { m_conn = conn; }
  void Activate(const std::shared_ptr<UaConnection>& conn);
  void Touch(int64_t nowMs) { m_nLastSeenMs = nowMs; }
  bool TimedOut(int64_t nowMs) const { return IdleMs(nowMs) > m_fTimeoutMs; }
  int64_t IdleMs(int64_t nowMs) const { return nowMs - m_nLastSeenMs; }
  // The client's address it was created from, which it counts against.
  const std::string& Address() const { return m_strAddress; }
  void SetAddress(std::string address) { m_strAddress = std::move(address); }
  bool BoundTo(const UaConnection* conn) const;
  void Detach(const UaConnection* conn);

  std::map<uint32_t, std::unique_ptr<Subscription>>& Subscriptions() { return m_subs; }
  Subscription* FindSubscription(uint32_t id);
  size_t MonitoredItemCount() const;

  // Queues a Publish request; the oldest is answered with
  // BadTooManyPublishRequests when the queue is full.
  void QueuePublish(PendingPublish&& p);
  bool HasPublish();
  // Answers the oldest queued Publish request with a NotificationMessage.
  void SendPublishResponse(Subscription& sub, const std::vector<uint8_t>& message, bool more);
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

  AddressSpace& m_space;
  UaNodeId m_id;
  UaNodeId m_token;
  double m_fTimeoutMs;
  bool m_bActivated = false;
  bool m_bCanWrite = false;
  ByteString m_nonce;
  ByteString m_clientCertificate;
  int64_t m_nLastSeenMs = 0;
  std::string m_strAddress;
  std::weak_ptr<UaConnection> m_conn;
  std::map<uint32_t, std::unique_ptr<Subscription>> m_subs;
  std::deque<PendingPublish> m_publishes;
  std::map<std::string, ContinuationPoint> m_points;
  uint64_t m_nNextPoint = 1;
};

}  // namespace tagserver
