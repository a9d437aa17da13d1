#include "tagserver/MonitoredItem.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tagserver/Subscription.h"
#include "tagserver/UaEncoder.h"
#include "tagserver/UaNodeIds.h"

namespace tagserver {

namespace {

// InfoType DataValue with the Overflow bit: a queue dropped a value.
constexpr uint32_t kOverflowBits = 0x0480;

UaDataValue TypedDataValue(const TagSample& s, bool source, bool server) {
  UaDataValue dv;
  dv.hasValue = s.hasValue;
  if (s.hasValue) dv.value = ValueOf(s);
  dv.hasStatus = s.status != 0;
  dv.status = s.status;
  dv.sourceTimestamp = source ? s.sourceTime : 0;
  dv.serverTimestamp = server ? s.serverTime : 0;
  return dv;
}

void FlagOverflow(UaDataValue& dv) {
  dv.status |= kOverflowBits;
  dv.hasStatus = true;
}

}  // namespace

MonitoredItem::MonitoredItem(Subscription& owner, uint32_t id, UaNodeId node, uint32_t attribute,
                             TagNode* tag, uint32_t timestamps)
    : m_owner(owner), m_nId(id), m_pTag(tag), m_nTimestamps(static_cast<uint8_t>(timestamps)) {
  if (m_pTag != nullptr) {
    m_pTag->watchers.push_back(this);
    return;
  }
  m_general = std::make_unique<General>();
  m_general->node = std::move(node);
  m_general->attribute = attribute;
}

MonitoredItem::~MonitoredItem() {
  if (m_pTag == nullptr) return;
  auto& w = m_pTag->watchers;
  w.erase(std::remove(w.begin(), w.end(), this), w.end());
}

uint32_t MonitoredItem::Attribute() const {
  return m_general ? m_general->attribute : static_cast<uint32_t>(UaId::AttrValue);
}

MonitoredItem::Older MonitoredItem::Keep(const TagSample& s) {
  Older o{s.sourceTime, s.serverTime, s.status, s.value, s.type, s.hasValue, nullptr};
  if (s.type != UaType::Float) o.typed = std::make_unique<TagScalar>(s.typed);
  return o;
}

TagSample MonitoredItem::Restore(const Older& o) {
  TagSample s;
  s.present = true;
  s.hasValue = o.hasValue;
  s.value = o.value;
  s.type = o.type;
  if (o.typed) s.typed = *o.typed;
  s.status = o.status;
  s.sourceTime = o.sourceTime;
  s.serverTime = o.serverTime;
  return s;
}

size_t MonitoredItem::Queued() const {
  if (m_general) return m_general->queue.size();
  return m_older.size() + (m_bPending ? 1 : 0);
}

void MonitoredItem::Configure(const MonitoringSettings& s, uint32_t timestamps) {
  m_settings = s;
  m_nTimestamps = static_cast<uint8_t>(timestamps);
  // A smaller queue keeps the newest values.
  if (m_general) {
    auto& q = m_general->queue;
    if (q.size() > s.queueSize) q.erase(q.begin(), q.end() - s.queueSize);
    return;
  }
  const size_t olderRoom = s.queueSize - 1;
  if (m_older.size() > olderRoom) m_older.erase(m_older.begin(), m_older.end() - olderRoom);
}

void MonitoredItem::Clear() {
  m_older.clear();
  m_bPending = false;
  m_bLastOverflow = false;
  m_bHasLast = false;
  if (!m_general) return;
  m_general->queue.clear();
  m_general->hasLast = false;
}

void MonitoredItem::SetMode(MonitoringMode mode, const TagSample* current) {
  MonitoringMode old = m_mode;
  m_mode = mode;
  if (mode == MonitoringMode::Disabled) {
    Clear();
    return;
  }
  if (old == MonitoringMode::Disabled && current != nullptr) Push(*current);
  if (HasReport()) m_owner.MarkReady(this);
}

bool MonitoredItem::Passes(const TagSample& s) const {
  if (!m_bHasLast) return true;
  if (s.status != m_last.status || s.hasValue != m_last.hasValue) return true;
  if (m_settings.trigger == 0) return false;
  // A deadband is for numbers of the program's own Float tags; other types
  // report every change.
  if (s.hasValue && s.type != UaType::Float && s.typed != m_last.typed) return true;
  if (s.hasValue && s.type == UaType::Float) {
    double delta = std::fabs(static_cast<double>(s.value) - static_cast<double>(m_last.value));
    bool changed = m_settings.deadbandType == 1
                       ? delta > m_settings.deadband
                       : std::memcmp(&s.value, &m_last.value, sizeof(float)) != 0;
    if (changed) return true;
  }
  return m_settings.trigger == 2 && s.sourceTime != m_last.sourceTime;
}

void MonitoredItem::Push(const TagSample& s) {
  if (m_mode == MonitoringMode::Disabled || !Passes(s)) return;
  Enqueue();
  m_last = s;
  m_bHasLast = true;
  m_bPending = true;
  if (m_mode == MonitoringMode::Reporting) m_owner.MarkReady(this);
}

// Called before a new sample becomes m_last: a pending m_last moves into
// the older values, or gives way to the new one when the queue is full and drops the newest.
// A queue of one only ever holds the latest value, without the Overflow bit.
void MonitoredItem::Enqueue() {
  if (!m_bPending || m_settings.queueSize <= 1) return;
  const bool full = m_older.size() + 1 >= m_settings.queueSize;
  if (full && !m_settings.discardOldest) {
    m_bLastOverflow = true;
    return;
  }
  m_older.push_back(Keep(m_last));
  if (m_bLastOverflow) m_older.back().status |= kOverflowBits;
  m_bLastOverflow = false;
  if (!full) return;
  m_older.erase(m_older.begin());
  m_older.front().status |= kOverflowBits;
}

void MonitoredItem::PushValue(const UaDataValue& dv) {
  if (m_mode == MonitoringMode::Disabled) return;
  // Compare the encoded reading without its server timestamp.
  UaEncoder enc;
  UaDataValue plain = dv;
  plain.serverTimestamp = 0;
  enc.DataValue(plain);
  if (m_general->hasLast && enc.Buffer() == m_general->last) return;
  m_general->last = std::move(enc.Buffer());
  m_general->hasLast = true;
  EnqueueGeneral(dv);
}

void MonitoredItem::EnqueueGeneral(const UaDataValue& dv) {
  auto& q = m_general->queue;
  UaDataValue e = dv;
  if (q.size() >= m_settings.queueSize) {
    if (m_settings.discardOldest) {
      q.erase(q.begin());
    } else {
      q.pop_back();
    }
    if (m_settings.queueSize > 1) FlagOverflow(m_settings.discardOldest ? q.front() : e);
  }
  q.push_back(std::move(e));
  if (m_mode == MonitoringMode::Reporting) m_owner.MarkReady(this);
}

void MonitoredItem::EncodeSample(UaEncoder& enc, const TagSample& s, bool overflow) const {
  const bool source = m_nTimestamps == 0 || m_nTimestamps == 2;
  const bool server = m_nTimestamps == 1 || m_nTimestamps == 2;
  const uint32_t status = overflow ? s.status | kOverflowBits : s.status;
  enc.UInt32(m_settings.clientHandle);
  if (s.type == UaType::Float) {
    enc.FloatDataValue(s.hasValue, s.value, status, source ? s.sourceTime : 0,
                       server ? s.serverTime : 0);
    return;
  }
  UaDataValue dv = TypedDataValue(s, source, server);
  dv.status = status;
  dv.hasStatus = status != 0;
  enc.DataValue(dv);
}

size_t MonitoredItem::Drain(UaEncoder& enc, size_t budget) {
  if (m_general) {
    auto& q = m_general->queue;
    const size_t n = std::min(budget, q.size());
    const bool source = m_nTimestamps == 0 || m_nTimestamps == 2;
    const bool server = m_nTimestamps == 1 || m_nTimestamps == 2;
    for (size_t i = 0; i < n; ++i) {
      UaDataValue dv = q[i];
      if (!server) dv.serverTimestamp = 0;
      if (!source) dv.sourceTimestamp = 0;
      enc.UInt32(m_settings.clientHandle);
      enc.DataValue(dv);
    }
    q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }
  const size_t older = std::min(budget, m_older.size());
  for (size_t i = 0; i < older; ++i) EncodeSample(enc, Restore(m_older[i]), false);
  m_older.erase(m_older.begin(), m_older.begin() + static_cast<std::ptrdiff_t>(older));
  if (older == budget || !m_bPending) return older;
  EncodeSample(enc, m_last, m_bLastOverflow);
  m_bPending = false;
  m_bLastOverflow = false;
  return older + 1;
}

}  // namespace tagserver
