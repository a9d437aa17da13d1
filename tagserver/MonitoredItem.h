// One monitored item of a subscription. Items on a tag are fed by the
// server's pass over changed tags; items on other nodes are read again at
// each publishing cycle of their subscription.
#pragma once

#include <cstdint>
#include <vector>

#include "tagserver/TagStore.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

class Subscription;
class UaEncoder;

enum class MonitoringMode : uint32_t { Disabled = 0, Sampling = 1, Reporting = 2 };

struct MonitoringSettings {
  uint32_t clientHandle = 0;
  double samplingInterval = 0;
  uint32_t queueSize = 1;
  bool discardOldest = true;
  uint32_t trigger = 1;       // 0 status, 1 status and value, 2 also the source timestamp
  uint32_t deadbandType = 0;  // 0 none, 1 absolute
  double deadband = 0;
};

class MonitoredItem {
 public:
  MonitoredItem(Subscription& owner, uint32_t id, UaNodeId node, uint32_t attribute, TagNode* tag,
                uint32_t timestamps);
  ~MonitoredItem();
  MonitoredItem(const MonitoredItem&) = delete;
  MonitoredItem& operator=(const MonitoredItem&) = delete;

  uint32_t Id() const { return m_nId; }
  TagNode* Tag() const { return m_pTag; }
  const UaNodeId& Node() const { return m_node; }
  uint32_t Attribute() const { return m_nAttribute; }
  const MonitoringSettings& Settings() const { return m_settings; }
  MonitoringMode Mode() const { return m_mode; }
  bool HasReport() const { return m_mode == MonitoringMode::Reporting && !m_queue.empty(); }
  // Whether the item stands in its subscription's list of items to report.
  bool IsListed() const { return m_bListed; }
  void SetListed(bool listed) { m_bListed = listed; }

  void Configure(const MonitoringSettings& s, uint32_t timestamps);
  void SetMode(MonitoringMode mode, const TagSample* current);
  // A new sample of a tag; queued when it passes the filter.
  void Push(const TagSample& s);
  // A new reading of a node that is not a tag.
  void PushValue(const UaDataValue& dv);
  // Writes queued notifications (ClientHandle, DataValue) and empties the
  // queue; returns how many.
  size_t Drain(UaEncoder& enc, size_t budget);

 private:
  struct Entry {
    TagSample sample;
    bool isGeneral = false;
    UaDataValue general;
  };
  bool Passes(const TagSample& s) const;
  void Enqueue(Entry&& e);

  Subscription& m_owner;
  uint32_t m_nId;
  UaNodeId m_node;
  uint32_t m_nAttribute;
  TagNode* m_pTag;
  uint32_t m_nTimestamps;
  MonitoringSettings m_settings;
  MonitoringMode m_mode = MonitoringMode::Disabled;
  std::vector<Entry> m_queue;
  bool m_bListed = false;
  bool m_bHasLast = false;
  TagSample m_last;
  bool m_bHasLastGeneral = false;
  std::vector<uint8_t> m_lastGeneral;
};

}  // namespace tagserver
