#include "tagserver/MonitoredItem.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tagserver/Subscription.h"
#include "tagserver/UaEncoder.h"

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

}  // namespace

MonitoredItem::MonitoredItem(Subscription& owner, uint32_t id, UaNodeId node, uint32_t attribute,
                             TagNode* tag, uint32_t timestamps)
    : m_owner(owner),
      m_nId(id),
      m_node(std::move(node)),
      m_nAttribute(attribute),
      m_pTag(tag),
      m_nTimestamps(timestamps) {
  if (m_pTag != nullptr) m_pTag->watchers.push_back(this);
}

MonitoredItem::~MonitoredItem() {
  if (m_pTag == nullptr) return;
  auto& w = m_pTag->watchers;
  w.erase(std::remove(w.begin(), w.end(), this), w.end());
}

void MonitoredItem::Configure(const MonitoringSettings& s, uint32_t timestamps) {
  m_settings = s;
  m_nTimestamps = timestamps;
  if (m_queue.size() > m_settings.queueSize) {
    size_t drop = m_queue.size() - m_settings.queueSize;
    m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(drop));
  }
}

void MonitoredItem::SetMode(MonitoringMode mode, const TagSample* current) {
  MonitoringMode old = m_mode;
  m_mode = mode;
  if (mode == MonitoringMode::Disabled) {
    m_queue.clear();
    m_bHasLast = false;
    m_bHasLastGeneral = false;
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
  m_last = s;
  m_bHasLast = true;
  Entry e;
  e.sample = s;
  Enqueue(std::move(e));
}

void MonitoredItem::PushValue(const UaDataValue& dv) {
  if (m_mode == MonitoringMode::Disabled) return;
  // Compare the encoded reading without its server timestamp.
  UaEncoder enc;
  UaDataValue plain = dv;
  plain.serverTimestamp = 0;
  enc.DataValue(plain);
  if (m_bHasLastGeneral && enc.Buffer() == m_lastGeneral) return;
  m_lastGeneral = std::move(enc.Buffer());
  m_bHasLastGeneral = true;
  Entry e;
  e.isGeneral = true;
  e.general = dv;
  Enqueue(std::move(e));
}

void MonitoredItem::Enqueue(Entry&& e) {
  if (m_queue.size() >= m_settings.queueSize) {
    if (m_settings.discardOldest) {
      m_queue.erase(m_queue.begin());
    } else {
      m_queue.pop_back();
    }
    if (m_settings.queueSize > 1) {
      Entry& flagged = m_settings.discardOldest ? (m_queue.empty() ? e : m_queue.front()) : e;
      flagged.sample.status |= kOverflowBits;
      flagged.general.status |= kOverflowBits;
      flagged.general.hasStatus = true;
    }
  }
  m_queue.push_back(std::move(e));
  if (m_mode == MonitoringMode::Reporting) m_owner.MarkReady(this);
}

size_t MonitoredItem::Drain(UaEncoder& enc, size_t budget) {
  size_t n = std::min(budget, m_queue.size());
  bool source = m_nTimestamps == 0 || m_nTimestamps == 2;
  bool server = m_nTimestamps == 1 || m_nTimestamps == 2;
  for (size_t i = 0; i < n; ++i) {
    const Entry& e = m_queue[i];
    enc.UInt32(m_settings.clientHandle);
    if (e.isGeneral) {
      UaDataValue dv = e.general;
      if (!server) dv.serverTimestamp = 0;
      if (!source) dv.sourceTimestamp = 0;
      enc.DataValue(dv);
    } else {
      const TagSample& s = e.sample;
      if (s.type == UaType::Float) {
        enc.FloatDataValue(s.hasValue, s.value, s.status, source ? s.sourceTime : 0,
                           server ? s.serverTime : 0);
      } else {
        enc.DataValue(TypedDataValue(s, source, server));
      }
    }
  }
  m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

}  // namespace tagserver
