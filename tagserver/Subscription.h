// A subscription: its monitored items, the publishing cycle with keep-alive
// and lifetime counters, and the queue of sent messages kept for Republish.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "tagserver/MonitoredItem.h"

namespace tagserver {

class Session;

struct SubscriptionSettings {
  double publishingInterval = 1000;
  uint32_t lifetimeCount = 60;
  uint32_t maxKeepAliveCount = 10;
  uint32_t maxNotificationsPerPublish = 0;
  uint8_t priority = 0;
};

struct SentMessage {
  uint32_t sequence;
  std::vector<uint8_t> encoded;  // the NotificationMessage as it went out
};

class Subscription {
 public:
  Subscription(Session& session, uint32_t id, double minSamplingMs);
  ~Subscription();

  uint32_t Id() const { return m_nId; }
  // Clamps the requested values to the server's limits; they read back revised.
  void Configure(const SubscriptionSettings& requested);
  const SubscriptionSettings& Settings() const { return m_settings; }
  void SetPublishingEnabled(bool enabled) { m_bEnabled = enabled; }
  double MinSamplingMs() const { return m_fMinSamplingMs; }

  std::map<uint32_t, std::unique_ptr<MonitoredItem>>& Items() { return m_items; }
  MonitoredItem* AddItem(UaNodeId node, uint32_t attribute, TagNode* tag, uint32_t timestamps);
  // Good or BadMonitoredItemIdInvalid for each id.
  std::vector<uint32_t> DeleteItems(const std::vector<uint32_t>& ids);
  void MarkReady(MonitoredItem* item);

  // One publishing interval has passed. Returns false when the subscription
  // has expired and must be deleted.
  bool Tick();
  // A Publish request arrived while this subscription owed a message.
  bool IsLate() const { return m_bLate; }
  void ServeLate();
  void ResetLifetime() { m_nLifetimeCounter = 0; }
  // Drops acknowledged messages; false when the number is not queued.
  bool Acknowledge(uint32_t sequence);
  const SentMessage* Find(uint32_t sequence) const;
  std::vector<uint32_t> AvailableSequenceNumbers() const;
  // Sends a StatusChangeNotification with BadTimeout, when a Publish
  // request is there to carry it.
  void SendTimeoutStatus();

 private:
  bool HasNotifications() const { return m_nReadyFrom < m_ready.size(); }
  void SampleGeneralItems();
  bool SendNotifications();
  bool SendKeepAlive();
  size_t NotificationBudget() const;

  Session& m_session;
  uint32_t m_nId;
  double m_fMinSamplingMs;
  SubscriptionSettings m_settings;
  bool m_bEnabled = true;
  bool m_bLate = false;
  bool m_bFirstCycle = true;
  uint32_t m_nKeepAliveCounter = 0;
  uint32_t m_nLifetimeCounter = 0;
  uint32_t m_nNextSequence = 1;
  uint32_t m_nNextItemId = 1;
  std::map<uint32_t, std::unique_ptr<MonitoredItem>> m_items;
  std::vector<MonitoredItem*> m_general;  // the items not on a tag, read at each cycle
  // Items with something to report, in the order they got it; those before
  // m_nReadyFrom are sent already.
  std::vector<MonitoredItem*> m_ready;
  size_t m_nReadyFrom = 0;
  std::deque<SentMessage> m_sent;
};

}  // namespace tagserver
