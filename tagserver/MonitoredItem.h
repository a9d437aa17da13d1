// One monitored item of a subscription. Items on a tag are fed by the
// server's pass over changed tags; items on other nodes are read again at
// each publishing cycle of their subscription.
#pragma once

#include <cstdint>
#include <memory>
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
  // tag null: an item on a node or attribute that is not a tag's value.
  MonitoredItem(Subscription& owner, uint32_t id, UaNodeId node, uint32_t attribute, TagNode* tag,
                uint32_t timestamps);
  ~MonitoredItem();
  MonitoredItem(const MonitoredItem&) = delete;
  MonitoredItem& operator=(const MonitoredItem&) = delete;

  uint32_t Id() const { return m_nId; }
  TagNode* Tag() const { return m_pTag; }
  // Items on a tag keep no node id: only other items are read by it.
  const UaNodeId& Node() const { return m_general->node; }
  uint32_t Attribute() const;
  const MonitoringSettings& Settings() const { return m_settings; }
  MonitoringMode Mode() const { return m_mode; }
  bool HasReport() const { return m_mode == MonitoringMode::Reporting && Queued() > 0; }
  // Whether the item stands in its subscription's list of items to report.
  bool IsListed() const { return m_bListed; }
  void SetListed(bool listed) { m_bListed = listed; }
  // Marked when deleted, so that its subscription drops it from its list of
  // items to report in one pass however many go.
  bool IsDeleted() const { return m_bDeleted; }
  void SetDeleted() { m_bDeleted = true; }

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
  // What only an item on another node needs.
  struct General {
    UaNodeId node;
    uint32_t attribute = 0;
    std::vector<UaDataValue> queue;
    bool hasLast = false;
    std::vector<uint8_t> last;  // the last reading, encoded without its server timestamp
  };
  // A value queued before the latest: half the size of a TagSample, as a
  // queue may hold many of them for every item.
  struct Older {
    int64_t sourceTime = 0;
    int64_t serverTime = 0;
    uint32_t status = 0;
    float value = 0;
    UaType type = UaType::Float;
    bool hasValue = false;
    std::unique_ptr<TagScalar> typed;  // null for a Float
  };
  static Older Keep(const TagSample& s);
  static TagSample Restore(const Older& o);
  size_t Queued() const;
  bool Passes(const TagSample& s) const;
  void Enqueue();
  void EnqueueGeneral(const UaDataValue& dv);
  void EncodeSample(UaEncoder& enc, const TagSample& s, bool overflow) const;
  void Clear();

  Subscription& m_owner;
  uint32_t m_nId;
  TagNode* m_pTag;
  MonitoringSettings m_settings;
  MonitoringMode m_mode = MonitoringMode::Disabled;
  uint8_t m_nTimestamps;
  bool m_bListed = false;
  bool m_bDeleted = false;
  bool m_bHasLast = false;
  // The last sample that passed the filter is also the newest in the
  // queue while it is pending, so a queue of one holds no copy of it.
  bool m_bPending = false;
  bool m_bLastOverflow = false;
  TagSample m_last;
  std::vector<Older> m_older;  // queued before m_last, oldest first
  std::unique_ptr<General> m_general;
};

}  // namespace tagserver
