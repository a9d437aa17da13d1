#include "tagserver/Subscription.h"

#include <algorithm>

#include "opcua/UaStatusCodes.h"
#include "tagserver/Session.h"
#include "tagserver/UaEncoder.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"

namespace tagserver {

namespace {

constexpr size_t kMaxRetainedBytes = 8 * 1024 * 1024;

void BeginMessage(UaEncoder& msg, uint32_t sequence) {
  msg.UInt32(sequence);
  msg.DateTime(UaNow());
}

}  // namespace

Subscription::Subscription(Session& session, uint32_t id, double minSamplingMs)
    : m_session(session), m_nId(id), m_fMinSamplingMs(minSamplingMs) {}

Subscription::~Subscription() {
  m_ready.clear();
  m_general.clear();
  m_items.clear();
}

void Subscription::Configure(const SubscriptionSettings& r) {
  SubscriptionSettings s = r;
  if (!(s.publishingInterval >= m_fMinSamplingMs)) s.publishingInterval = m_fMinSamplingMs;
  s.publishingInterval = std::min(s.publishingInterval, limits::kMaxPublishingIntervalMs);
  s.maxKeepAliveCount = std::clamp<uint32_t>(s.maxKeepAliveCount, 1, limits::kMaxKeepAliveCount);
  // The lifetime must cover at least three keep-alive periods.
  s.lifetimeCount =
      std::clamp<uint32_t>(s.lifetimeCount, 3 * s.maxKeepAliveCount, limits::kMaxLifetimeCount);
  m_settings = s;
}

MonitoredItem* Subscription::AddItem(UaNodeId node, uint32_t attribute, TagNode* tag,
                                     uint32_t timestamps) {
  uint32_t id = m_nNextItemId++;
  auto item =
      std::make_unique<MonitoredItem>(*this, id, std::move(node), attribute, tag, timestamps);
  MonitoredItem* p = item.get();
  m_items[id] = std::move(item);
  if (tag == nullptr) m_general.push_back(p);
  return p;
}

std::vector<uint32_t> Subscription::DeleteItems(const std::vector<uint32_t>& ids) {
  std::vector<uint32_t> results;
  std::vector<std::unique_ptr<MonitoredItem>> doomed;
  for (uint32_t id : ids) {
    auto it = m_items.find(id);
    if (it == m_items.end()) {
      results.push_back(UaStatus::BadMonitoredItemIdInvalid);
      continue;
    }
    it->second->SetDeleted();
    doomed.push_back(std::move(it->second));
    m_items.erase(it);
    results.push_back(UaStatus::Good);
  }
  if (doomed.empty()) return results;
  // One pass over each list, however many items go.
  auto deleted = [](const MonitoredItem* item) { return item->IsDeleted(); };
  m_ready.erase(m_ready.begin(), m_ready.begin() + static_cast<std::ptrdiff_t>(m_nReadyFrom));
  m_nReadyFrom = 0;
  std::erase_if(m_ready, deleted);
  std::erase_if(m_general, deleted);
  return results;
}

void Subscription::MarkReady(MonitoredItem* item) {
  if (item->IsListed()) return;
  item->SetListed(true);
  m_ready.push_back(item);
}

void Subscription::SampleGeneralItems() {
  for (MonitoredItem* item : m_general) {
    if (item->Mode() == MonitoringMode::Disabled) continue;
    item->PushValue(m_session.Space()->Read(item->Node(), item->Attribute(), 2));
  }
}

size_t Subscription::NotificationBudget() const {
  size_t budget =
      m_settings.maxNotificationsPerPublish == 0
          ? limits::kMaxNotificationsPerPublish
          : std::min(m_settings.maxNotificationsPerPublish, limits::kMaxNotificationsPerPublish);
  size_t peerMax = m_session.MaxResponseSize();
  // A tag notification takes at most 31 bytes; general items are kept rare.
  if (peerMax != 0)
    budget =
        std::min<size_t>(budget, std::max<int64_t>(1, (static_cast<int64_t>(peerMax) - 512) / 64));
  return budget;
}

bool Subscription::SendNotifications() {
  size_t budget = NotificationBudget();
  UaEncoder msg;
  BeginMessage(msg, m_nNextSequence);
  msg.Int32(1);
  msg.NodeId(UaNodeId::Num(0, UaId::DataChangeNotification_Encoding_DefaultBinary));
  msg.Byte(1);
  size_t lengthAt = msg.Size();
  msg.Int32(0);
  size_t countAt = msg.Size();
  msg.Int32(0);
  size_t count = 0;
  for (; m_nReadyFrom < m_ready.size() && count < budget; ++m_nReadyFrom) {
    MonitoredItem* item = m_ready[m_nReadyFrom];
    // An item switched to sampling since it was listed keeps its queue.
    if (item->Mode() == MonitoringMode::Reporting) count += item->Drain(msg, budget - count);
    if (item->HasReport()) break;
    item->SetListed(false);
  }
  // The sent part goes once it is half the list: each item is moved O(1)
  // times on average.
  if (m_nReadyFrom * 2 >= m_ready.size()) {
    m_ready.erase(m_ready.begin(), m_ready.begin() + static_cast<std::ptrdiff_t>(m_nReadyFrom));
    m_nReadyFrom = 0;
  }
  msg.PatchUInt32(countAt, static_cast<uint32_t>(count));
  msg.Int32(0);  // no diagnostic infos
  msg.PatchUInt32(lengthAt, static_cast<uint32_t>(msg.Size() - countAt));
  if (count == 0) return false;

  size_t retained = 0;
  for (const auto& m : m_sent) retained += m.encoded.size();
  while (!m_sent.empty() && (m_sent.size() >= limits::kMaxRetransmitQueue ||
                             retained + msg.Size() > kMaxRetainedBytes)) {
    retained -= m_sent.front().encoded.size();
    m_sent.pop_front();
  }
  m_sent.push_back({m_nNextSequence++, msg.Buffer()});
  m_session.SendPublishResponse(*this, m_sent.back().encoded, HasNotifications());
  return true;
}

bool Subscription::SendKeepAlive() {
  UaEncoder msg;
  BeginMessage(msg, m_nNextSequence);  // a keep-alive names the next number without using it
  msg.Int32(0);
  m_session.SendPublishResponse(*this, msg.Buffer(), false);
  return true;
}

void Subscription::ServeLate() {
  m_bLate = false;
  m_nKeepAliveCounter = 0;
  if (m_bEnabled && HasNotifications()) {
    while (HasNotifications() && m_session.HasPublish()) SendNotifications();
    m_bLate = HasNotifications();
    return;
  }
  SendKeepAlive();
}

bool Subscription::Tick() {
  SampleGeneralItems();
  bool publishAvailable = m_session.HasPublish();
  m_nLifetimeCounter = publishAvailable ? 0 : m_nLifetimeCounter + 1;
  if (m_nLifetimeCounter >= m_settings.lifetimeCount) return false;
  bool due = (m_bEnabled && HasNotifications()) || m_bFirstCycle ||
             ++m_nKeepAliveCounter >= m_settings.maxKeepAliveCount;
  m_bFirstCycle = false;
  if (!due) return true;
  if (publishAvailable) {
    ServeLate();
  } else {
    m_bLate = true;
  }
  return true;
}

bool Subscription::Acknowledge(uint32_t sequence) {
  auto it = std::find_if(m_sent.begin(), m_sent.end(),
                         [&](const SentMessage& m) { return m.sequence == sequence; });
  if (it == m_sent.end()) return false;
  m_sent.erase(it);
  return true;
}

const SentMessage* Subscription::Find(uint32_t sequence) const {
  for (const auto& m : m_sent)
    if (m.sequence == sequence) return &m;
  return nullptr;
}

std::vector<uint32_t> Subscription::AvailableSequenceNumbers() const {
  std::vector<uint32_t> out;
  for (const auto& m : m_sent) out.push_back(m.sequence);
  return out;
}

void Subscription::SendTimeoutStatus() {
  if (!m_session.HasPublish()) return;
  UaEncoder msg;
  BeginMessage(msg, m_nNextSequence++);
  msg.Int32(1);
  msg.NodeId(UaNodeId::Num(0, UaId::StatusChangeNotification_Encoding_DefaultBinary));
  msg.Byte(1);
  msg.Int32(5);
  msg.StatusCode(UaStatus::BadTimeout);
  msg.EmptyDiagnosticInfo();
  m_session.SendPublishResponse(*this, msg.Buffer(), false);
}

}  // namespace tagserver
